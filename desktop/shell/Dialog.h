// The desktop program's only window: frameless and translucent, holding nothing but a web
// view that shows the skin page, with a tray icon and its menu. It starts the drive watcher
// and wires the page's script to the bridge; closing it stops the drive and ends the program.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QStringList>
#include <QSystemTrayIcon>
#include <memory>

#include "desktop/drive/NoticeFilter.h"
#include "desktop/drive/WaitThread.h"
#include "desktop/shell/WindowGeometry.h"

class QAction;
class QMenu;
class QWebView;
class CAction;
class MLog;
class DownloadFile;
class UploadFile;
class MVersion;
class WebData;
class ShippedPage;

// What the form set-up builds: the web view child.
struct DialogForm {
  QWebView* webView = nullptr;
};

class Dialog : public QDialog, public DriveNoticeTarget {
  Q_OBJECT

 public:
  explicit Dialog(QWidget* parent = nullptr);
  ~Dialog() override;

  // Called by the drive watcher on its own thread after every pass.
  void notify() override;

  // Window operations for the bridge.
  void showWindow();
  void centreOnDesktop();
  void setMoveRange(int top, int left, int height, int width);
  void setMoving(bool enabled) { movingEnabled_ = enabled; }

  QWebView* webView() const { return form_->webView; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private slots:
  void iconIsActived(QSystemTrayIcon::ActivationReason reason);
  void populateJavaScriptWindowObject();
  void quit();
  void ServiceCmd();

 private:
  void setUpForm();
  void makePageTransparent();
  void initialise();
  void setUpTray();
  void restoreFrameless();
  void showNotice(const QString& text);

  std::unique_ptr<DialogForm> form_;
  ShippedPage* page_ = nullptr;  // owned by the web view
  QString iniPath_;
  MLog* log_ = nullptr;
  std::unique_ptr<CAction> action_;
  QSystemTrayIcon* trayIcon_ = nullptr;
  std::unique_ptr<QMenu> trayMenu_;
  QAction* exitAction_ = nullptr;
  QAction* stopServiceAction_ = nullptr;
  WebData* bridge_ = nullptr;
  QStringList processKillList_;
  NoticeFilter notices_;
  QPoint lastGlobalPosition_;
  MoveRange moveRange_;
  bool movingEnabled_ = false;
  bool dragging_ = false;
  std::unique_ptr<WaitThread> waitThread_;
  std::unique_ptr<DownloadFile> downloads_;
  std::unique_ptr<UploadFile> uploads_;
  MVersion* version_ = nullptr;
};
