#include "desktop/bridge/WindowAnswers.h"

#include "desktop/bridge/BridgeWindow.h"
#include "desktop/drive/CAction.h"

namespace bridge {

void WindowAnswers::setMouseMoveRange(int top, int left, int height, int width) {
  if (window_) window_->setMoveRange(top, left, height, width);
}

void WindowAnswers::isMoving(bool moving) {
  if (window_) window_->setMoving(moving);
}

void WindowAnswers::moveScreenCentre() {
  if (window_) window_->centreOnDesktop();
}

// The window's close stops the drive program first.
void WindowAnswers::close() {
  if (window_)
    window_->closeWindow();
  else
    action_.stopDrive();
}

void WindowAnswers::miniWindow() {
  if (window_) window_->minimiseWindow();
}

void WindowAnswers::hideWindow() {
  if (window_) window_->hideWindow();
}

void WindowAnswers::moveWindow(int x, int y) {
  if (window_) window_->moveWindow(x, y);
}

void WindowAnswers::resize(int width, int height) {
  if (window_) window_->resizeWindow(width, height);
}

void WindowAnswers::show() {
  if (window_) window_->showWindow();
}

}  // namespace bridge
