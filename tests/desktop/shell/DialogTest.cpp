// The main window in this process, headless: window size from the settings, dragging by the
// move range, and the bridge object on every page load.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>
#include <QWebFrame>
#include <QWebView>
#include <filesystem>
#include <fstream>

#include "WebViewLoad.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/ProgramFolder.h"
#include "tests/support/TempDir.h"

// The web engine keeps one buffer, which holds on to the headless platform's screen, for the
// life of the process and never frees it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libQt5WebKit.so\nleak:libqoffscreen.so\n";
}

namespace {

void Press(QWidget* target, QEvent::Type type, QPoint position, QPoint global,
           Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent event(type, position, global, button, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

TEST(DialogTest, SizesDragsAndExposesTheBridgeOnEveryLoad) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  TempDir dir;
  ::setenv("QUELLAN_PIPE", dir.file("no-drive").c_str(), 1);
  std::filesystem::create_directories(dir.file("skin"));
  std::ofstream(dir.file("skin/index.html")) << "<html><body>page</body></html>";
  std::ofstream(dir.file("tarvex.ini")) << "[Set]\nWidth=800\nHeight=0\n";
  int argc = 1;
  char name[] = "dialog_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  setProgramFolder(QString::fromStdString(dir.path()));

  Dialog dialog;
  EXPECT_EQ(dialog.size(), QSize(800, 690));
  QWebView* view = dialog.webView();
  ASSERT_TRUE(WaitForLoad(view));
  QWebFrame* frame = view->page()->mainFrame();
  EXPECT_EQ(frame->evaluateJavaScript("typeof Quellanview").toString(), "object");
  view->reload();
  ASSERT_TRUE(WaitForLoad(view));
  EXPECT_EQ(frame->evaluateJavaScript("typeof Quellanview.getNetDiskStatus").toString(),
            "function");
  // The page's own parser reads the bridge's texts: a letter passed as a character, and a
  // stored value with Chinese characters and backslashes, come back as they went in.
  EXPECT_EQ(frame
                ->evaluateJavaScript("Quellanview.setDriveLetter('K');"
                                     "JSON.parse(Quellanview.getDriveLetter()).result")
                .toString(),
            "K");
  EXPECT_EQ(frame
                ->evaluateJavaScript("Quellanview.saveData('k', 'C:\\\\下载\\\\a');"
                                     "JSON.parse(Quellanview.getData('k')).result")
                .toString(),
            QStringLiteral("C:\\下载\\a"));

  // Presses at y = 51 (outside), then at y = 50 (the range's bottom edge): only the second
  // drags the window along.
  dialog.setMoving(true);
  dialog.move(100, 100);
  for (int y : {51, 50}) {
    QPoint start = dialog.pos();
    QPoint global(300, 300);
    Press(view, QEvent::MouseButtonPress, {10, y}, global, Qt::LeftButton, Qt::LeftButton);
    Press(view, QEvent::MouseMove, {30, y + 5}, global + QPoint(20, 5), Qt::NoButton,
          Qt::LeftButton);
    Press(view, QEvent::MouseButtonRelease, {30, y + 5}, global + QPoint(20, 5), Qt::LeftButton,
          Qt::NoButton);
    EXPECT_EQ(dialog.pos() - start, y == 50 ? QPoint(20, 5) : QPoint(0, 0)) << "y " << y;
  }
}

}  // namespace
