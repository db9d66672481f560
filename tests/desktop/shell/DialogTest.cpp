// The main window in this process, headless: window size from the settings, dragging by the
// move range, and the bridge object on every load of the shipped page and on no other page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMimeData>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWebFrame>
#include <QWebView>
#include <QWindow>
#include <filesystem>
#include <fstream>

#include "WebViewLoad.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/DesktopProgram.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/QtTranslations.h"
#include "tests/support/ScriptedHttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

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

// One application object for all the tests: the web engine cannot start a second time.
class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app;
    app = nullptr;
  }
  // A program folder in `dir`, without a drive program to talk to.
  void SetUp() override {
    ::setenv("QUELLAN_PIPE", dir.file("no-drive").c_str(), 1);
    std::filesystem::create_directories(dir.file("skin"));
  }
  // The whole program on `dir`, made once the test has laid out its files.
  DesktopProgram& startProgram() {
    context = std::make_unique<DesktopContext>(QString::fromStdString(dir.path()));
    program = std::make_unique<DesktopProgram>(*context);
    return *program;
  }
  void TearDown() override {
    program.reset();
    context.reset();
  }

  TempDir dir;
  std::unique_ptr<DesktopContext> context;
  std::unique_ptr<DesktopProgram> program;
  static inline int argc = 1;
  static inline char name[] = "dialog_test";
  static inline char* argv[] = {name, nullptr};
  static inline QApplication* app = nullptr;
};

TEST_F(DialogTest, SizesDragsAndExposesTheBridgeOnEveryLoad) {
  std::ofstream(dir.file("skin/index.html")) << "<html><body>page</body></html>";
  std::ofstream(dir.file("tarvex.ini")) << "[Set]\nWidth=800\nHeight=0\n";

  Dialog& dialog = startProgram().window();
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

// Without a tray the page's "hide" minimises the window, which a second start (or the tray's
// "显示窗口") brings back; Qt's own texts come in Chinese.
TEST_F(DialogTest, WithoutATrayHidingMinimisesAndQtSpeaksChinese) {
  std::ofstream(dir.file("skin/index.html")) << "<html><body>page</body></html>";
  Dialog& dialog = startProgram().window();
  dialog.setVisible(true);
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  dialog.hideWindow();
  EXPECT_TRUE(WaitFor([&] { return dialog.isMinimized(); }, std::chrono::seconds(5)));
  EXPECT_TRUE(dialog.isVisible()) << "the window is never lost";
  dialog.bringToFront();
  EXPECT_TRUE(WaitFor([&] { return !dialog.isMinimized() && dialog.isVisible(); },
                      std::chrono::seconds(5)));

  ASSERT_TRUE(InstallQtTranslations(*app)) << "Qt's translations (qttranslations5-l10n)";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}

// Counts the loads that the page's frames start and end, child frames included.
class Loads : public QObject {
 public:
  explicit Loads(QWebPage* page) {
    watch(page->mainFrame());
    connect(page, &QWebPage::frameCreated, this, &Loads::watch);
  }
  // Lets the window run until every started load has ended.
  bool settle() {
    return WaitFor(
        [&] {
          QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
          return started_ == finished_;
        },
        std::chrono::seconds(20));
  }
  int started() const { return started_; }

 private:
  void watch(QWebFrame* frame) {
    connect(frame, &QWebFrame::loadStarted, this, [this] { ++started_; });
    connect(frame, &QWebFrame::loadFinished, this, [this] { ++finished_; });
  }
  int started_ = 0;
  int finished_ = 0;
};

// Stands in for the system's browser: keeps the addresses handed to it.
class Browser : public QObject {
  Q_OBJECT

 public:
  std::vector<std::string> opened;

 public slots:
  void open(const QUrl& url) { opened.push_back(url.toString().toStdString()); }
};

void Drop(QWidget* window, QPoint at, const QUrl& url) {
  QMimeData data;
  data.setUrls({url});
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window->windowHandle(), &enter);
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window->windowHandle(), &move);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window->windowHandle(), &drop);
}

// Any page but the shipped one, from a local folder or from a web server, reached by a load, a
// drop, a link or a child frame: none of them is shown, and none sees the bridge, neither
// its own nor the shipped page's through its parent. Links to web addresses go to the browser.
TEST_F(DialogTest, OnlyTheShippedPageGetsTheBridge) {
  std::ofstream(dir.file("skin/index.html")) << "<html><head><title>shipped</title></head>"
                                                "<body><a id='out' href='#'>out</a></body></html>";
  // A page that tells, in its title, whether it sees the bridge itself or through its parent.
  const std::string other =
      "<html><head><script>var seen = [];"
      "if (typeof window.Quellanview !== 'undefined') seen.push('own');"
      "try { if (typeof parent.Quellanview !== 'undefined' && parent !== window)"
      " seen.push('parent'); } catch (e) {}"
      "document.title = 'other:' + seen.join(',');</script></head><body></body></html>";
  std::ofstream(dir.file("other.html")) << other;
  ScriptedHttpServer web([&](const std::string&) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(other.size()) + "\r\n\r\n" + other;
  });
  Browser browser;
  QDesktopServices::setUrlHandler("http", &browser, "open");

  Dialog& dialog = startProgram().window();
  dialog.show();
  QWebView* view = dialog.webView();
  ASSERT_TRUE(WaitForLoad(view));
  QWebFrame* frame = view->page()->mainFrame();
  const std::string shipped = frame->url().toString().toStdString();
  auto shown = [&] { return frame->url().toString().toStdString(); };
  Loads loads(view->page());

  const QUrl others[] = {QUrl::fromLocalFile(QString::fromStdString(dir.file("other.html"))),
                         QUrl(QStringLiteral("http://127.0.0.1:%1/other").arg(web.port()))};
  for (const QUrl& url : others) {
    SCOPED_TRACE(url.toString().toStdString());
    const QString address = url.toString();
    view->load(url);
    ASSERT_TRUE(loads.settle());
    Drop(&dialog, view->geometry().center(), url);
    ASSERT_TRUE(loads.settle());
    // A script's navigation is decided on a timer; the next timer of the page runs after it.
    const int startedBefore = loads.started();
    frame->evaluateJavaScript("location.href = '" + address +
                              "'; setTimeout(function () { window.decided = true; }, 0);");
    WaitFor([&] {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      return loads.started() > startedBefore ||
             frame->evaluateJavaScript("window.decided === true").toBool();
    });
    ASSERT_TRUE(loads.settle());
    frame->evaluateJavaScript("var child = document.createElement('iframe'); child.src = '" +
                              address + "'; document.body.appendChild(child);");
    ASSERT_TRUE(loads.settle());

    EXPECT_EQ(shown(), shipped);
    EXPECT_EQ(frame->title().toStdString(), "shipped");
    for (QWebFrame* child : frame->childFrames())
      EXPECT_FALSE(child->title().startsWith("other:")) << child->title().toStdString();
    frame->evaluateJavaScript("document.body.removeChild(child)");
  }
  // A link to a web address opens in the browser; the page stays.
  frame->evaluateJavaScript("var out = document.getElementById('out'); out.href = '" +
                            others[1].toString() + "'; out.click();");
  ASSERT_TRUE(loads.settle());
  EXPECT_EQ(browser.opened, std::vector<std::string>{others[1].toString().toStdString()});
  EXPECT_EQ(shown(), shipped);
  EXPECT_EQ(frame->evaluateJavaScript("typeof Quellanview").toString(), "object");
  EXPECT_TRUE(web.requests().empty()) << web.requests().front();
  QDesktopServices::unsetUrlHandler("http");
}

}  // namespace

#include "DialogTest.moc"
