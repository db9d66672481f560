// The page's window operations. Without a window only close does something: it stops the
// drive program, as closing the window would.
#pragma once

class BridgeWindow;
class CAction;

namespace bridge {

class WindowAnswers {
 public:
  WindowAnswers(BridgeWindow* window, CAction& action) : window_(window), action_(action) {}

  void setMouseMoveRange(int top, int left, int height, int width);
  void isMoving(bool moving);
  void moveScreenCentre();
  void close();
  void miniWindow();
  void hideWindow();
  void moveWindow(int x, int y);
  void resize(int width, int height);
  void show();

 private:
  BridgeWindow* const window_;
  CAction& action_;
};

}  // namespace bridge
