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

#include "desktop/log/MLog.h"
#include "desktop/settings/CConfig.h"
#include "desktop/settings/ProgramFolder.h"
#include "desktop/shell/ShippedPage.h"

namespace {

constexpr int kBalloonMs = 10000;

}  // namespace

Dialog::Dialog(MLog& log, const QString& programFolder, const CConfig& settings, DialogHooks hooks,
               QWidget* parent)
    : QDialog(parent), log_(log), hooks_(std::move(hooks)), form_(std::make_unique<DialogForm>()) {
  setUpForm();
  makePageTransparent();
  setWindowFlags(Qt::FramelessWindowHint);
  form_->webView->resize(size());
  applySettings(settings);
  loadPage(programFolder);
  setUpTray(programFolder);
  connect(form_->webView->page()->mainFrame(), &QWebFrame::javaScriptWindowObjectCleared, this,
          &Dialog::populateJavaScriptWindowObject);
  setAttribute(Qt::WA_TranslucentBackground, true);
  moveRange_ = MoveRange{0, 0, 50, width()};
}

Dialog::~Dialog() = default;

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

void Dialog::applySettings(const CConfig& settings) {
  if (settings.debugging & 1) form_->webView->setContextMenuPolicy(Qt::DefaultContextMenu);
  resize(WindowSizeFromSettings(settings.width, settings.height, size()));
}

void Dialog::loadPage(const QString& programFolder) {
  page_->setShippedUrl(
      QUrl::fromLocalFile(PageFolder(programFolder) + QStringLiteral("/skin/index.html")));
  connect(page_, &ShippedPage::refused, this, [this](const QUrl& url) {
    log_.write(QStringLiteral("page: refused to show %1").arg(url.toString()));
  });
  form_->webView->setUrl(page_->shippedUrl());
  form_->webView->installEventFilter(this);
}

// The tray shows no balloon of its own at start: the drive's notices are the only ones. The
// service entry stays hidden until the service manager reports the drive's unit installed.
void Dialog::setUpTray(const QString& programFolder) {
  showAction_ = new QAction(QStringLiteral("显示窗口"), this);
  connect(showAction_, &QAction::triggered, this, &Dialog::bringToFront);
  exitAction_ = new QAction(QStringLiteral("退出"), this);
  connect(exitAction_, &QAction::triggered, this, &Dialog::quit);
  stopServiceAction_ = new QAction(QStringLiteral("停止Ondrel服务"), this);
  stopServiceAction_->setVisible(false);
  connect(stopServiceAction_, &QAction::triggered, this, &Dialog::ServiceCmd);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    log_.write(QStringLiteral("no system tray: running without the tray icon"));
    return;
  }
  trayIcon_ = std::make_unique<QSystemTrayIcon>(this);
  trayIcon_->setIcon(TrayIcon(PageFolder(programFolder)));
  trayIcon_->setVisible(true);
  trayIcon_->setToolTip(windowTitle());
  trayMenu_ = std::make_unique<QMenu>();
  trayMenu_->addAction(showAction_);
  trayMenu_->addAction(exitAction_);
  trayMenu_->addSeparator();
  trayMenu_->addAction(stopServiceAction_);
  trayIcon_->setContextMenu(trayMenu_.get());
  connect(trayIcon_.get(), &QSystemTrayIcon::activated, this, &Dialog::iconIsActived);
  serviceUnit_ = new TarvexUnit(this);
  connect(serviceUnit_, &TarvexUnit::stateChanged, this, &Dialog::showServiceState);
  connect(serviceUnit_, &TarvexUnit::operationFailed, this, [] {
    QMessageBox box(QMessageBox::Information, QStringLiteral("操作服务失败"),
                    QStringLiteral("操作服务失败"), QMessageBox::Ok);
    box.exec();
  });
  connect(trayMenu_.get(), &QMenu::aboutToShow, serviceUnit_, &TarvexUnit::query);
  serviceUnit_->query();
}

void Dialog::showServiceState(TarvexUnit::State state) {
  bool installed = state == TarvexUnit::State::Running || state == TarvexUnit::State::Stopped;
  stopServiceAction_->setVisible(installed);
  stopServiceAction_->setText(state == TarvexUnit::State::Stopped
                                  ? QStringLiteral("启动Ondrel服务")
                                  : QStringLiteral("停止Ondrel服务"));
}

// Only the shipped page gets the bridge: its frame's address is checked at every load.
void Dialog::populateJavaScriptWindowObject() {
  QWebFrame* frame = page_->mainFrame();
  if (bridge_ == nullptr || !page_->isShippedPage(frame->url())) return;
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

void Dialog::resizeEvent(QResizeEvent* event) { form_->webView->resize(event->size()); }

void Dialog::iconIsActived(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
    restoreFrameless();
}

void Dialog::quit() { close(); }

void Dialog::closeEvent(QCloseEvent* event) {
  if (hooks_.closing) hooks_.closing();
  event->accept();
}

// Stops or starts the drive's unit without waiting for it: the answer comes back as a new
// state, or as the message box "操作服务失败".
void Dialog::ServiceCmd() {
  if (serviceUnit_ != nullptr) serviceUnit_->toggle();
}

void Dialog::showNotice(const QString& text) {
  if (trayIcon_ != nullptr)
    trayIcon_->showMessage(QString(), text, QSystemTrayIcon::Information, kBalloonMs);
}

void Dialog::bringToFront() {
  restoreFrameless();
  raise();
  activateWindow();
}

void Dialog::hideWindow() {
  if (trayIcon_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable()) {
    hide();
    return;
  }
  log_.write(QStringLiteral("no system tray: the window is minimised instead of hidden"));
  showMinimized();
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
