#include "desktop/shell/Dialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <thread>

#include "desktop/drive/CAction.h"
#include "desktop/drive/DriveStatus.h"
#include "desktop/log/MLog.h"
#include "desktop/settings/CConfig.h"
#include "desktop/settings/ProgramFolder.h"
#include "desktop/shell/ShippedPage.h"
#include "desktop/shell/WebData.h"
#include "desktop/transfers/DownloadFile.h"
#include "desktop/transfers/MVersion.h"
#include "desktop/transfers/UploadFile.h"
#include "platform/process/Process.h"
#include "platform/service/ServiceManager.h"

namespace {

constexpr int kBalloonMs = 10000;
constexpr int kServiceStopPolls = 100;

// Opens the drive service; both handles null when either cannot be opened.
struct DriveService {
  SC_HANDLE manager = OpenSCManager();
  SC_HANDLE service = manager ? OpenService(manager, WaitThread::kServiceName) : nullptr;
  ~DriveService() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
};

}  // namespace

Dialog::Dialog(QWidget* parent) : QDialog(parent), form_(std::make_unique<DialogForm>()) {
  setUpForm();
  makePageTransparent();
  setWindowFlags(Qt::FramelessWindowHint);
  form_->webView->resize(size());
  initialise();
  setAttribute(Qt::WA_TranslucentBackground, true);
  moveRange_ = MoveRange{0, 0, 50, width()};
}

Dialog::~Dialog() {
  waitThread_.reset();  // before the action and the window it reports to go
  uploads_.reset();     // its workers ask the action for drive folders
  downloads_.reset();
  delete trayIcon_;
  trayIcon_ = nullptr;
  SetDesktopLog(nullptr);
  delete log_;
}

void Dialog::setUpForm() {
  if (objectName().isEmpty()) setObjectName(QStringLiteral("Dialog"));
  setWindowModality(Qt::NonModal);
  resize(980, 690);
  setMouseTracking(true);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  setAcceptDrops(true);
  setWindowIcon(QIcon(QStringLiteral("Server.ico")));
  setModal(false);
  form_->webView = new QWebView(this);
  form_->webView->setObjectName(QStringLiteral("webView"));
  form_->webView->setGeometry(0, 0, 631, 421);
  form_->webView->setMouseTracking(true);
  form_->webView->setFocusPolicy(Qt::WheelFocus);
  form_->webView->setContextMenuPolicy(Qt::NoContextMenu);
  // Nothing dropped onto the view is opened: the view shows the shipped page only.
  form_->webView->setAcceptDrops(false);
  page_ = new ShippedPage(form_->webView);
  form_->webView->setPage(page_);
  // Qt 5 draws with a non-cosmetic default pen already.
  setWindowTitle(QCoreApplication::translate("Dialog", "Ondrel"));
  QMetaObject::connectSlotsByName(this);
}

void Dialog::makePageTransparent() {
  QPalette palette = form_->webView->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setBrush(group, QPalette::Base, QBrush(Qt::transparent));
  form_->webView->page()->setPalette(palette);
  form_->webView->setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Dialog::initialise() {
  if (programFolder().isEmpty()) setProgramFolder(DefaultProgramFolder());
  const QString folder = programFolder();
  log_ = new MLog(folder + QStringLiteral("/quellan.log"));
  SetDesktopLog(log_);
  iniPath_ = folder + QStringLiteral("/tarvex.ini");

  auto* settings = new CConfig(iniPath_);
  settings->load();
  if (settings->debugging & 1) form_->webView->setContextMenuPolicy(Qt::DefaultContextMenu);
  downloads_ = std::make_unique<DownloadFile>(folder);
  downloads_->load();
  uploads_ = std::make_unique<UploadFile>(
      folder, [this](const std::string& key) {  // Each upload worker asks over a connection of its
                                                // own, closed when it has the answer.
        return action_->newConnection()->localPathOfKey(key);
      });
  uploads_->load();
  QSize windowSize = WindowSizeFromSettings(settings->width, settings->height, size());
  if (!settings->process.isEmpty()) processKillList_ = settings->process.split(QLatin1Char(','));
  resize(windowSize);
  delete settings;

  action_ = std::make_unique<CAction>(CAction::DriveProgramBesideMe(), folder);
  page_->setShippedUrl(QUrl::fromLocalFile(PageFolder() + QStringLiteral("/skin/index.html")));
  connect(page_, &ShippedPage::refused, this, [this](const QUrl& url) {
    log_->write(QStringLiteral("page: refused to show %1").arg(url.toString()));
  });
  form_->webView->setUrl(page_->shippedUrl());
  form_->webView->installEventFilter(this);
  setUpTray();

  bridge_ = new WebData(*action_, this);
  bridge_->setDownloads(downloads_.get());
  bridge_->setUploads(uploads_.get());
  auto* bridgeSettings = new CConfig(iniPath_);
  bridgeSettings->load();
  bridge_->setConfig(bridgeSettings);
  connect(form_->webView->page()->mainFrame(), &QWebFrame::javaScriptWindowObjectCleared, this,
          &Dialog::populateJavaScriptWindowObject);
  version_ = new MVersion(folder, this);
  bridge_->setVersion(version_);
  QWebFrame* frame = form_->webView->page()->mainFrame();
  connect(version_, &MVersion::answer, frame,
          [frame](const QString& script) { frame->evaluateJavaScript(script); });
  bridge_->setFrame(form_->webView->page()->mainFrame());

  waitThread_ = std::make_unique<WaitThread>(this, *action_, PublishedDriveStatus());
  waitThread_->start(QThread::InheritPriority);
}

void Dialog::setUpTray() {
  exitAction_ = new QAction(QStringLiteral("退出"), this);
  connect(exitAction_, &QAction::triggered, this, &Dialog::quit);
  stopServiceAction_ = new QAction(QStringLiteral("停止Ondrel服务"), this);
  connect(stopServiceAction_, &QAction::triggered, this, &Dialog::ServiceCmd);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    log_->write(QStringLiteral("no system tray: running without the tray icon"));
    return;
  }
  trayIcon_ = new QSystemTrayIcon(this);
  trayIcon_->setIcon(TrayIcon());
  trayIcon_->setVisible(true);
  trayIcon_->showMessage(QString(), windowTitle(), QSystemTrayIcon::Information, kBalloonMs);
  trayIcon_->setToolTip(windowTitle());
  trayMenu_ = std::make_unique<QMenu>();
  trayMenu_->addAction(exitAction_);
  trayMenu_->addSeparator();
  trayMenu_->addAction(stopServiceAction_);
  trayIcon_->setContextMenu(trayMenu_.get());
  connect(trayIcon_, &QSystemTrayIcon::activated, this, &Dialog::iconIsActived);
}

// Only the shipped page gets the bridge: its frame's address is checked at every load.
void Dialog::populateJavaScriptWindowObject() {
  QWebFrame* frame = page_->mainFrame();
  if (!page_->isShippedPage(frame->url())) return;
  frame->addToJavaScriptWindowObject(QStringLiteral("Quellanview"), bridge_);
}

bool Dialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched != form_->webView) return QDialog::eventFilter(watched, event);
  QEvent::Type type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
      type != QEvent::MouseMove)
    return false;
  auto* mouse = static_cast<QMouseEvent*>(event);
  switch (type) {
    case QEvent::MouseButtonPress:
      if (StartsDrag(moveRange_, movingEnabled_, mouse->button(), mouse->pos())) {
        dragging_ = true;
        lastGlobalPosition_ = mouse->globalPos();
      }
      break;
    case QEvent::MouseButtonRelease:
      if (dragging_ && mouse->button() == Qt::LeftButton) dragging_ = false;
      break;
    case QEvent::MouseMove:
      if (dragging_ && (mouse->buttons() & Qt::LeftButton)) {
        move(pos() + mouse->globalPos() - lastGlobalPosition_);
        lastGlobalPosition_ = mouse->globalPos();
      }
      break;
    default:
      break;
  }
  return false;  // the page sees every event
}

void Dialog::restoreFrameless() {
  setWindowFlags(Qt::FramelessWindowHint);
  setWindowState(Qt::WindowNoState);
  setVisible(true);
}

void Dialog::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange && !isMinimized()) restoreFrameless();
}

void Dialog::resizeEvent(QResizeEvent* event) {
  log_->write(event->size().width());
  form_->webView->resize(event->size());
}

void Dialog::iconIsActived(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
    restoreFrameless();
}

void Dialog::quit() { close(); }

void Dialog::closeEvent(QCloseEvent* event) {
  action_->stopDrive();
  {
    DriveService drive;
    if (drive.service) ControlService(drive.service, SERVICE_CONTROL_STOP, nullptr);
  }
  for (const QString& name : processKillList_) {
    if (!name.isEmpty()) process::KillByImageName(name.toStdString());
  }
  event->accept();
}

void Dialog::ServiceCmd() {
  DriveService drive;
  if (!drive.service) return;
  bool done = false;
  switch (PublishedDriveStatus().values().serviceFlag) {
    case 0:
      done = StartService(drive.service);
      break;
    case 1: {
      SERVICE_STATUS status{};
      done = ControlService(drive.service, SERVICE_CONTROL_STOP, &status);
      for (int waits = 0;
           done && waits < kServiceStopPolls && QueryServiceStatus(drive.service, &status) &&
           status.dwCurrentState != SERVICE_STOPPED;
           ++waits)
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
      break;
    }
    default:
      break;
  }
  if (!done) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("操作服务失败"),
                    QStringLiteral("操作服务失败"), QMessageBox::Ok);
    box.exec();
  }
}

void Dialog::notify() {
  DriveStatusValues status = PublishedDriveStatus().values();
  if (!notices_.changed(status.code, status.serviceFlag)) return;
  // Every notice is also logged, so a program without a tray still tells what happened.
  log_->write(QStringLiteral("notice %1 %2 %3")
                  .arg(status.code)
                  .arg(status.text)
                  .arg(status.code == 2 ? status.runDriveLetter : QString())
                  .trimmed());
  QMetaObject::invokeMethod(
      this, [this, text = status.text] { showNotice(text); }, Qt::QueuedConnection);
}

void Dialog::showNotice(const QString& text) {
  if (trayIcon_ != nullptr)
    trayIcon_->showMessage(QString(), text, QSystemTrayIcon::Information, kBalloonMs);
}

void Dialog::showWindow() {
  setVisible(true);
  form_->webView->setVisible(true);
}

void Dialog::centreOnDesktop() {
  QRect desktop = QApplication::desktop()->geometry();
  move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
}

void Dialog::setMoveRange(int top, int left, int height, int width) {
  moveRange_ = MoveRange{top, left, height, width};
}
