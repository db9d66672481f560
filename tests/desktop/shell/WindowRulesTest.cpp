// The start-up and window rules of the desktop program that need no running window.
#include <gtest/gtest.h>

#include <vector>

#include "desktop/settings/ProgramFolder.h"
#include "desktop/shell/WindowGeometry.h"

namespace {

TEST(WindowRulesTest, ProgramFolderComesFromDashDWithForwardSlashes) {
  struct Case {
    std::vector<const char*> args;
    const char* folder;
  } cases[] = {
      {{"quellanview", "-d", "C:\\x\\y"}, "C:/x/y"},
      {{"quellanview", "-d", "/opt/ondrel", "extra"}, "/opt/ondrel"},
      {{"quellanview", "-d"}, ""},
      {{"quellanview", "-x", "C:\\x"}, ""},
      {{"quellanview"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const char* arg : c.args) argv.push_back(const_cast<char*>(arg));
    EXPECT_EQ(ProgramFolderFromArguments(static_cast<int>(argv.size()), argv.data()), c.folder);
  }
}

TEST(WindowRulesTest, SettingsSizeReplacesOnlyPositiveDimensions) {
  QSize form(980, 690);
  EXPECT_EQ(WindowSizeFromSettings(0, 0, form), QSize(980, 690));
  EXPECT_EQ(WindowSizeFromSettings(800, 0, form), QSize(800, 690));
  EXPECT_EQ(WindowSizeFromSettings(-5, 500, form), QSize(980, 500));
}

TEST(WindowRulesTest, LeftPressInsideTheMoveRangeStartsADrag) {
  MoveRange range{0, 0, 50, 980};
  struct Case {
    bool moving;
    Qt::MouseButton button;
    QPoint position;
    bool drags;
  } cases[] = {
      {true, Qt::LeftButton, {10, 50}, true},   {true, Qt::LeftButton, {10, 51}, false},
      {true, Qt::LeftButton, {980, 0}, true},   {true, Qt::LeftButton, {981, 0}, false},
      {true, Qt::RightButton, {10, 10}, false}, {false, Qt::LeftButton, {10, 10}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartsDrag(range, c.moving, c.button, c.position), c.drags)
        << c.position.x() << "," << c.position.y() << " moving " << c.moving;
  }
}

}  // namespace
