// The window operations the page may ask for. The main window implements them; the bridge
// sees only this interface, so that it can run without a window.
#pragma once

class BridgeWindow {
 public:
  virtual ~BridgeWindow() = default;

  // Makes the window and its web view visible.
  virtual void showWindow() = 0;
  virtual void hideWindow() = 0;
  virtual void minimiseWindow() = 0;
  virtual void moveWindow(int x, int y) = 0;
  virtual void resizeWindow(int width, int height) = 0;
  // Closing the window stops the drive program and ends the program.
  virtual void closeWindow() = 0;
  virtual void centreOnDesktop() = 0;
  virtual void setMoveRange(int top, int left, int height, int width) = 0;
  virtual void setMoving(bool enabled) = 0;
};
