// The desktop program's only window: frameless and translucent, holding nothing but a web
// view that shows the skin page, with a tray icon and its menu. It offers the page's bridge
// to the shipped page on every load and carries out the page's window operations; what its
// close and its tray entries do to the drive is handed in by the program.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "desktop/bridge/BridgeWindow.h"
#include "desktop/shell/TarvexUnit.h"
#include "desktop/shell/WindowGeometry.h"

class CConfig;
class MLog;
class QAction;
class QMenu;
class QWebView;
class ShippedPage;

// What the form set-up builds: the web view child.
struct DialogForm {
  QWebView* webView = nullptr;
};

// What the window hands on to the rest of the program.
struct DialogHooks {
  // Runs when the window closes, before the close is accepted.
  std::function<void()> closing;
};

class Dialog : public QDialog, public BridgeWindow {
  Q_OBJECT

 public:
  // The window takes its size and the web view's context menu from `settings`; the page comes
  // from `programFolder` (or the installed page folder). `log` outlives the window.
  Dialog(MLog& log, const QString& programFolder, const CConfig& settings, DialogHooks hooks,
         QWidget* parent = nullptr);
  ~Dialog() override;

  // The object the shipped page's script reaches as "Quellanview"; offered from the next
  // load on.
  void setBridge(QObject* bridge) { bridge_ = bridge; }
  // A tray balloon; GUI thread only.
  void showNotice(const QString& text);
  // Shows the window, restored from hidden or minimised, in front of the others (the tray's
  // entry, a second start of the program).
  void bringToFront();

  // Window operations for the bridge.
  void showWindow() override;
  // Hides to the tray; without a tray the window is minimised, never lost.
  void hideWindow() override;
  void minimiseWindow() override { showMinimized(); }
  void moveWindow(int x, int y) override { move(x, y); }
  void resizeWindow(int width, int height) override { resize(width, height); }
  void closeWindow() override { close(); }
  void centreOnDesktop() override;
  void setMoveRange(int top, int left, int height, int width) override;
  void setMoving(bool enabled) override { movingEnabled_ = enabled; }

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
  void applySettings(const CConfig& settings);
  void loadPage(const QString& programFolder);
  void setUpTray(const QString& programFolder);
  void showServiceState(TarvexUnit::State state);
  void restoreFrameless();

  MLog& log_;
  const DialogHooks hooks_;
  std::unique_ptr<DialogForm> form_;
  ShippedPage* page_ = nullptr;  // owned by the web view
  std::unique_ptr<QMenu> trayMenu_;
  std::unique_ptr<QSystemTrayIcon> trayIcon_;  // goes before its menu
  QAction* showAction_ = nullptr;              // owned by the window
  QAction* exitAction_ = nullptr;              // owned by the window
  QAction* stopServiceAction_ = nullptr;       // owned by the window
  TarvexUnit* serviceUnit_ = nullptr;          // owned by the window; only with a tray
  QObject* bridge_ = nullptr;
  QPoint lastGlobalPosition_;
  MoveRange moveRange_;
  bool movingEnabled_ = false;
  bool dragging_ = false;
};
