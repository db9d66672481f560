// The version checker, the login session and the window.
#include "desktop/drive/CAction.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/WebData.h"
#include "desktop/bridge/ResultText.h"
#include "desktop/transfers/DownloadFile.h"
#include "desktop/transfers/MVersion.h"

using bridge::ResultText;
using bridge::Success;
using bridge::Text;

QString WebData::getCurVersion() {
  return ResultText(Success(Text(version_ ? version_->currentVersion() : QString())));
}

void WebData::getNewVersion(QString back) {
  if (version_) version_->check(back);
}

void WebData::downloadNewProgram(QString back) {
  if (version_) version_->download(back);
}

// Downloads are signed with this session: without it the download scheduler starts nothing.
void WebData::setLoginSession(QString session) {
  loginSession_ = session;
  if (downloads_) downloads_->setSession(session);
}

void WebData::setMouseMoveRange(int top, int left, int height, int width) {
  if (window_) window_->setMoveRange(top, left, height, width);
}

void WebData::isMoving(bool moving) {
  if (window_) window_->setMoving(moving);
}

void WebData::moveScreenCentre() {
  if (window_) window_->centreOnDesktop();
}

// The window's close stops the drive program first.
void WebData::close() {
  if (window_)
    window_->close();
  else
    action_.stopDrive();
}

void WebData::miniWindow() {
  if (window_) window_->showMinimized();
}

void WebData::hideWindow() {
  if (window_) window_->hide();
}

void WebData::moveWindow(int x, int y) {
  if (window_) window_->move(x, y);
}

void WebData::resize(int w, int h) {
  if (window_) window_->resize(w, h);
}

// Kept for pages that call it; hideWindow() is the slot that hides the window.
void WebData::hide() {}

void WebData::show() {
  if (window_) window_->showWindow();
}
