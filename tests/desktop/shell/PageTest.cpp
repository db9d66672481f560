// The shipped page in the real main window, headless, against the reference service and the
// real drive program: a person's session driven through the page's own controls — log in,
// the drive starts, folders and files are listed, a folder is made, renamed and removed, a
// file is downloaded and another uploaded, and the version is checked and the update fetched.
// Names holding bidirectional controls show them as visible text. The top-level folders offer
// no rename or removal, the lists sort by a clicked column (new entries included), a deleted
// task leaves its list at once, and auto-login is a check box the next start obeys. A
// screenshot of the page with files listed is saved under the build folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <filesystem>
#include <fstream>

#include "LaidOutProgramFolder.h"
#include "WebViewLoad.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/DesktopProgram.h"
#include "desktop/shell/Dialog.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/ScopedEnv.h"

// The web engine keeps one buffer, which holds on to the headless platform's screen, for the
// life of the process and never frees it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libQt5WebKit.so\nleak:libqoffscreen.so\n";
}

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The drive program runs as a copy under this name, so that stopping it, which ends every
// process of that name, never reaches drive programs of other tests.
const std::string kDriveName = "qpage-" + std::to_string(::getpid());

// A name whose right-to-left override would make "gnp.exe" read "exe.png".
const std::string kSpoofed = "照片\u202Egnp.exe";
const std::string kSpoofedShown = "照片⟨U+202E⟩gnp.exe";

// Helpers the test adds to the page: the open folder's rows, and clicks on a row's buttons.
const char kPageHelpers[] = R"JS(
window.T = {
  rows: function () {
    var e = Page.files.entries(), names = [];
    for (var i = 0; i < e.length; i++) names.push(e[i].kind + ":" + e[i].name);
    return names.join("|");
  },
  has: function (kind, name) { return ("|" + T.rows() + "|").indexOf("|" + kind + ":" + name + "|") >= 0; },
  click: function (name, action) {
    var rows = document.querySelectorAll("#file-table tbody tr"), e = Page.files.entries();
    for (var i = 0; i < rows.length; i++) {
      if (e[Number(rows[i].getAttribute("data-index"))].name !== name) continue;
      var button = rows[i].querySelector('[data-action="' + action + '"]');
      if (!button) return false;
      button.click();
      return true;
    }
    return false;
  },
  answerDialog: function (value) {
    if (value !== null) Page.ui.$("modal-input").value = value;
    Page.ui.$("modal-ok").click();
  },
  task: function (kind, name) {
    var rows = document.querySelectorAll("#" + kind + "-table tbody tr");
    for (var i = 0; i < rows.length; i++) {
      var task = Page.transfers.task(kind, rows[i].getAttribute("data-id"));
      if (task && task.fileName === name) return task.status;
    }
    return "";
  },
  clickTask: function (kind, name, action) {
    var rows = document.querySelectorAll("#" + kind + "-table tbody tr");
    for (var i = 0; i < rows.length; i++) {
      var task = Page.transfers.task(kind, rows[i].getAttribute("data-id"));
      if (!task || task.fileName !== name) continue;
      rows[i].querySelector('[data-action="' + action + '"]').click();
      return true;
    }
    return false;
  },
  text: function (id) { return document.getElementById(id).textContent; },
  // The actions a row offers, in order ("enter,rename,remove").
  actions: function (name) {
    var rows = document.querySelectorAll("#file-table tbody tr"), e = Page.files.entries(), found = [];
    for (var i = 0; i < rows.length; i++) {
      if (e[Number(rows[i].getAttribute("data-index"))].name !== name) continue;
      var buttons = rows[i].querySelectorAll(".actions [data-action]");
      for (var j = 0; j < buttons.length; j++) found.push(buttons[j].getAttribute("data-action"));
    }
    return found.join(",");
  },
  sortBy: function (table, key) {
    document.querySelector("#" + table + " th[data-sort='" + key + "']").click();
    return document.querySelector("#" + table + " th[data-sort='" + key + "']").className;
  },
  // How many bidirectional control characters the page shows: in its text, its tooltips and
  // its input fields.
  bidiShown: function () {
    var texts = [document.body.textContent], i;
    var titled = document.querySelectorAll("[title]");
    for (i = 0; i < titled.length; i++) texts.push(titled[i].getAttribute("title"));
    var inputs = document.querySelectorAll("input");
    for (i = 0; i < inputs.length; i++) texts.push(inputs[i].value);
    var found = texts.join("\n").match(/[\u061C\u200E\u200F\u202A-\u202E\u2066-\u2069]/g);
    return found ? found.length : 0;
  }
};
true;
)JS";

class PageSession {
 public:
  explicit PageSession(QWebFrame* frame) : frame_(frame) {}

  QVariant js(const QString& script) { return frame_->evaluateJavaScript(script); }
  QString text(const QString& script) { return js(script).toString(); }

  // Lets the window run until the script's condition holds.
  bool waitFor(const QString& condition, std::chrono::milliseconds limit) {
    return WaitFor(
        [&] {
          QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
          return js(condition).toBool();
        },
        limit);
  }
  // Every message the page showed, for failure reports.
  std::string messages() {
    return text("Page.ui.messages.join('\\n') + '\\nrows: ' + T.rows()").toStdString();
  }

 private:
  QWebFrame* frame_;
};

void SaveScreenshot(QWebView* view, const std::string& name) {
  fs::path folder = fs::path(QUELLAN_BUILD_DIR) / "screenshots";
  fs::create_directories(folder);
  QImage image(view->size(), QImage::Format_ARGB32);
  image.fill(QColor(0xd8, 0xdd, 0xe4));  // a desktop behind the translucent window
  QPainter painter(&image);
  view->page()->mainFrame()->render(&painter);
  painter.end();
  image.save(QString::fromStdString((folder / name).string()));
}

// Stands in for the system's handler of local files and folders: keeps what was opened.
class OpenedFiles : public QObject {
  Q_OBJECT

 public:
  std::string last;

 public slots:
  void open(const QUrl& url) { last = url.toLocalFile().toStdString(); }
};

// Closes the window (which stops the drive program) when the test ends, also on failure.
struct CloseOnExit {
  Dialog& dialog;
  ~CloseOnExit() { dialog.close(); }
};

// The shipped release.ini, asking the service on `webPort` instead of 8168 for the update.
void WriteShippedReleaseIni(const std::string& path, int webPort) {
  std::string text = ReadFile(QUELLAN_SOURCE_DIR "/skin/release.ini");
  const std::string shippedPort = ":8168/";
  size_t at = text.find(shippedPort);
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, shippedPort.size(), ":" + std::to_string(webPort) + "/");
  WriteFile(path, text);
}

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    server.addUser("alice", "secret");
    fs::path home = server.userDir("alice");
    WriteFile(home / "我的空间/报告.txt", "季度报告：一切顺利。\n");
    WriteFile(home / "我的空间/sample.bin", PatternBytes(3 << 20, 1));
    WriteFile(home / "我的空间/项目计划.pdf", PatternBytes(180 << 10, 2));
    WriteFile(home / "我的空间/会议记录.docx", PatternBytes(42 << 10, 3));
    WriteFile(home / "我的空间/旅行视频.mp4", PatternBytes(1 << 20, 4));
    WriteFile(home / ("我的空间/" + kSpoofed), PatternBytes(20 << 10, 9));
    WriteFile(home / "我的空间/照片/海边.jpg", PatternBytes(200 << 10, 5));
    WriteFile(home / "下载空间/使用说明.txt", "欢迎使用。\n");
    release = folders.top() + "/quellanview-2.0.0";
    WriteFile(release, PatternBytes(300 << 10, 6));

    LayOutProgramFolder(folders, kDriveName);
    std::ofstream(folder() + "/tarvex.ini") << "[Set]\nDebug=7\nDriveLetter=P\nRun=1\n";
  }
  std::string folder() const {
    std::string path = folders.programFolder();
    return path.substr(0, path.size() - 1);
  }

  TestDriveFolders folders;
  ReferenceServer server;
  std::string release;
};

TEST_F(PageTest, APersonsSessionThroughThePage) {
  SKIP_WITHOUT_FUSE();
  ASSERT_TRUE(server.start(0, {"--release", release, "--release-version", "2.0.0"}));
  // The page, the drive program and the update check reach the test's own service.
  ScopedEnv webPort("QUELLAN_WEB_PORT", std::to_string(server.webPort()));
  ASSERT_NO_FATAL_FAILURE(WriteShippedReleaseIni(folder() + "/release.ini", server.webPort()));
  int argc = 1;
  char name[] = "page_test";
  char* argv[] = {name, nullptr};
  codepage::InitProcessLocale();
  QApplication app(argc, argv);
  DesktopContext context(QString::fromStdString(folder()));
  OpenedFiles opened;
  QDesktopServices::setUrlHandler("file", &opened, "open");
  DesktopProgram program(context);
  Dialog& dialog = program.window();
  CloseOnExit closer{dialog};
  dialog.show();
  QWebView* view = dialog.webView();
  ASSERT_TRUE(WaitForLoad(view));
  PageSession page(view->page()->mainFrame());
  ASSERT_TRUE(page.js(kPageHelpers).toBool());
  fs::path home = server.userDir("alice");
  SaveScreenshot(view, "page-login.png");

  // Log in: the page stores the account, gets its page session and starts the drive. Auto-login
  // is a check box, on until the person turns it off.
  EXPECT_TRUE(
      page.js("Page.ui.$('login-auto').type === 'checkbox' && Page.ui.$('login-auto').checked")
          .toBool());
  page.js(
      "Page.ui.$('login-name').value = 'alice'; Page.ui.$('login-password').value = 'secret';"
      "Page.ui.$('login-button').click();");
  const QString running = "T.text('drive-status').indexOf('网盘正在运行') === 0";
  page.waitFor(running + " || T.text('login-error') !== ''", 90s);
  ASSERT_TRUE(page.js(running).toBool()) << page.messages() << ReadFile(folder() + "/mirror.log");
  EXPECT_EQ(page.text("T.text('drive-letter')").toStdString(), "P:");
  EXPECT_EQ(page.text("T.text('account')").toStdString(), "alice");

  // The top level lists both folders, which are the drive's own: they open, and offer neither
  // rename nor removal. 我的空间 lists its files and its sub-folder.
  ASSERT_TRUE(page.waitFor("T.has('folder', '我的空间') && T.has('folder', '下载空间')", 20s))
      << page.messages();
  EXPECT_EQ(page.text("T.actions('我的空间') + ' ' + T.actions('下载空间')").toStdString(),
            "enter enter");
  ASSERT_TRUE(page.js("T.click('我的空间', 'enter')").toBool());
  ASSERT_TRUE(
      page.waitFor("T.has('folder', '照片') && T.has('file', '报告.txt') && "
                   "T.has('file', 'sample.bin') && T.has('file', '旅行视频.mp4')",
                   20s))
      << page.messages();
  EXPECT_EQ(page.text("T.text('files-count')").toStdString(), "1 个文件夹，6 个文件");
  EXPECT_EQ(page.text("T.actions('照片')").toStdString(), "enter,rename,remove");
  SaveScreenshot(view, "page-after-login.png");

  // A click on the size column sorts by size, a second one from large to small; folders stay
  // first.
  EXPECT_EQ(page.text("T.sortBy('file-table', 'size')").toStdString(), "sortable sorted");
  EXPECT_EQ(page.text("T.sortBy('file-table', 'size')").toStdString(),
            "sortable sorted descending");
  EXPECT_EQ(
      page.text("T.rows()").toStdString(),
      "folder:照片|file:sample.bin|file:旅行视频.mp4|file:项目计划.pdf|file:会议记录.docx|file:" +
          kSpoofed + "|file:报告.txt");

  // The name with a bidirectional control shows it as text in the list and in the rename and
  // remove dialogs; leaving the rename dialog as shown changes nothing.
  const QString spoofed = QString::fromStdString(kSpoofed);
  EXPECT_NE(page.text("T.text('file-table')").toStdString().find(kSpoofedShown), std::string::npos);
  EXPECT_EQ(page.js("T.bidiShown()").toInt(), 0) << page.messages();
  ASSERT_TRUE(page.js("T.click('" + spoofed + "', 'rename')").toBool());
  EXPECT_EQ(page.text("Page.ui.$('modal-input').value").toStdString(), kSpoofedShown);
  EXPECT_EQ(page.js("T.bidiShown()").toInt(), 0);
  page.js("T.answerDialog(null)");
  ASSERT_TRUE(page.js("T.click('" + spoofed + "', 'remove')").toBool());
  EXPECT_EQ(page.js("T.bidiShown()").toInt(), 0);
  page.js("Page.ui.$('modal-cancel').click()");
  EXPECT_EQ(page.js("Page.ui.messages.join('|').indexOf('已重命名为')").toInt(), -1)
      << page.messages();

  // A remote file opens from the drive, where it reads as the service's file; its folder too.
  std::string onDrive = folders.mountPoint('P') + "/我的空间";
  ASSERT_TRUE(page.js("T.click('报告.txt', 'play')").toBool());
  EXPECT_EQ(opened.last, onDrive + "/报告.txt") << page.messages();
  EXPECT_EQ(ReadFile(opened.last), ReadFile(home / "我的空间/报告.txt"));
  ASSERT_TRUE(page.js("T.click('报告.txt', 'reveal')").toBool());
  EXPECT_EQ(opened.last, onDrive) << page.messages();

  // A refused operation shows the program's sentence, not a code, and nothing changes.
  ASSERT_TRUE(page.js("T.click('报告.txt', 'rename')").toBool());
  page.js("T.answerDialog('sample.bin')");
  EXPECT_TRUE(
      page.waitFor("Page.ui.messages.join('|').indexOf('error:已经有同名的文件或文件夹') >= 0", 5s))
      << page.messages();
  EXPECT_TRUE(fs::exists(home / "我的空间/报告.txt"));

  // Make, rename and remove a folder; the service's tree follows each step.
  page.js("Page.ui.$('files-mkdir').click()");
  SaveScreenshot(view, "page-make-folder.png");
  page.js("T.answerDialog('新文件夹')");
  EXPECT_TRUE(page.waitFor("T.has('folder', '新文件夹')", 20s)) << page.messages();
  EXPECT_TRUE(fs::is_directory(home / "我的空间/新文件夹"));
  ASSERT_TRUE(page.js("T.click('新文件夹', 'rename')").toBool());
  page.js("T.answerDialog('改名后的文件夹')");
  EXPECT_TRUE(
      page.waitFor("T.has('folder', '改名后的文件夹') && !T.has('folder', '新文件夹')", 20s))
      << page.messages();
  EXPECT_TRUE(fs::is_directory(home / "我的空间/改名后的文件夹"));
  EXPECT_FALSE(fs::exists(home / "我的空间/新文件夹"));
  ASSERT_TRUE(page.js("T.click('改名后的文件夹', 'remove')").toBool());
  page.js("T.answerDialog(null)");
  EXPECT_TRUE(page.waitFor("!T.has('folder', '改名后的文件夹')", 20s)) << page.messages();
  EXPECT_FALSE(fs::exists(home / "我的空间/改名后的文件夹"));

  // Download into the folder chosen in the settings: the local file is the service's file.
  std::string downloads = folders.top() + "/下载";
  page.js(
      QString::fromStdString("Page.app.showView('settings'); Page.ui.$('settings-path').value = '" +
                             downloads + "'; Page.ui.$('settings-path-save').click();"));
  EXPECT_TRUE(fs::is_directory(downloads)) << page.messages();
  SaveScreenshot(view, "page-settings.png");
  page.js("Page.app.showView('files')");
  ASSERT_TRUE(page.waitFor("T.click('sample.bin', 'download')", 10s)) << page.messages();
  EXPECT_TRUE(page.waitFor("T.task('download', 'sample.bin') === 'completed'", 60s))
      << page.messages();
  EXPECT_EQ(ReadFile(downloads + "/sample.bin"), ReadFile(home / "我的空间/sample.bin"));
  ASSERT_TRUE(page.js("T.click('" + spoofed + "', 'download')").toBool());
  EXPECT_TRUE(page.waitFor("T.task('download', '" + spoofed + "') === 'completed'", 60s))
      << page.messages();
  EXPECT_EQ(ReadFile(downloads + "/" + kSpoofed), ReadFile(home / ("我的空间/" + kSpoofed)));
  page.js("Page.app.showView('downloads')");
  EXPECT_NE(page.text("T.text('download-table')").toStdString().find(kSpoofedShown),
            std::string::npos);
  EXPECT_EQ(page.js("T.bidiShown()").toInt(), 0) << page.messages();
  ASSERT_TRUE(page.js("T.clickTask('download', 'sample.bin', 'open-file')").toBool());
  EXPECT_EQ(opened.last, downloads + "/sample.bin") << page.messages();
  ASSERT_TRUE(page.js("T.clickTask('download', 'sample.bin', 'open-folder')").toBool());
  EXPECT_EQ(opened.last, downloads) << page.messages();
  page.js("Page.app.showView('files')");

  // Uploads into the open folder, given the paths a file dialog would hand over.
  std::string upload = folders.top() + "/上传的文件.bin";
  WriteFile(upload, PatternBytes((2 << 20) + 123, 7));
  // While the service answers slowly, an upload is paused on the way and started again: it
  // goes on from the partial copy and the service ends with the whole file.
  std::string paused = folders.top() + "/暂停的上传.bin";
  WriteFile(paused, PatternBytes(24 << 20, 8));
  server.setFaults({"fault-delay-ms 100"});
  EXPECT_EQ(page.js(QString::fromStdString("Page.files.uploadPaths(['" + paused + "'])")).toInt(),
            1)
      << page.messages();
  page.js("Page.app.showView('uploads')");
  EXPECT_TRUE(page.waitFor("T.task('upload', '暂停的上传.bin') === 'uploading'", 30s))
      << page.messages();
  ASSERT_TRUE(page.js("T.clickTask('upload', '暂停的上传.bin', 'pause')").toBool());
  EXPECT_TRUE(page.waitFor("T.task('upload', '暂停的上传.bin') === 'stop'", 30s))
      << page.messages();
  server.setFaults({});
  ASSERT_TRUE(page.js("T.clickTask('upload', '暂停的上传.bin', 'start')").toBool());
  EXPECT_TRUE(page.waitFor("T.task('upload', '暂停的上传.bin') === 'completed'", 60s))
      << page.messages();
  EXPECT_TRUE(
      WaitFor([&] { return ReadFile(home / "我的空间/暂停的上传.bin") == ReadFile(paused); }, 30s));
  page.js("Page.app.showView('files')");

  // A whole upload: the service holds the same bytes.
  EXPECT_EQ(page.js(QString::fromStdString("Page.files.uploadPaths(['" + upload + "'])")).toInt(),
            1)
      << page.messages();
  EXPECT_TRUE(page.waitFor("T.task('upload', '上传的文件.bin') === 'completed'", 60s))
      << page.messages();
  EXPECT_TRUE(
      WaitFor([&] { return ReadFile(home / "我的空间/上传的文件.bin") == ReadFile(upload); }, 30s));
  EXPECT_TRUE(page.waitFor("T.has('file', '上传的文件.bin')", 20s)) << page.messages();
  // New files take their place in the list's order (largest first).
  EXPECT_EQ(page.text("T.rows()")
                .toStdString()
                .find("folder:照片|file:暂停的上传.bin|file:sample.bin|file:上传的文件.bin|file:"
                      "旅行视频.mp4"),
            0u)
      << page.messages();
  page.js("Page.app.showView('downloads')");
  SaveScreenshot(view, "page-downloads.png");

  // The installed version, the newer one offered by the service, and its download.
  page.js("Page.app.showView('settings'); Page.ui.$('version-check').click();");
  EXPECT_EQ(page.text("T.text('version-current')").toStdString(), "1.0.0");
  EXPECT_TRUE(page.waitFor("T.text('version-result') === '发现新版本 2.0.0'", 20s))
      << page.messages();
  page.js("Page.ui.$('version-download').click()");
  EXPECT_TRUE(page.waitFor("T.text('update-progress').indexOf('已下载到') >= 0", 30s))
      << page.messages();
  EXPECT_EQ(ReadFile(folder() + "/update/quellanview-2.0.0"), ReadFile(release));
  SaveScreenshot(view, "page-version.png");

  // Deleting tasks empties both lists; the downloaded file stays unless asked otherwise.
  page.js("Page.app.showView('downloads')");
  ASSERT_TRUE(page.js("T.clickTask('download', 'sample.bin', 'delete')").toBool());
  page.js("T.answerDialog(null)");
  EXPECT_EQ(page.text("T.task('download', 'sample.bin')").toStdString(), "") << "left at once";
  for (const char* name : {"上传的文件.bin", "暂停的上传.bin"}) {
    ASSERT_TRUE(page.js(QString("T.clickTask('upload', '%1', 'delete')").arg(name)).toBool());
    page.js("T.answerDialog(null)");
    EXPECT_EQ(page.text(QString("T.task('upload', '%1')").arg(name)).toStdString(), "")
        << "left at once";
  }
  EXPECT_TRUE(
      page.waitFor("T.task('download', 'sample.bin') === '' && "
                   "T.task('upload', '上传的文件.bin') === '' && "
                   "T.task('upload', '暂停的上传.bin') === ''",
                   20s))
      << page.messages();
  EXPECT_TRUE(fs::exists(downloads + "/sample.bin"));

  // Stop, start, and a new drive letter that the restart mounts.
  page.js("Page.app.showView('files'); Page.ui.$('files-refresh').click()");
  page.js("Page.ui.$('drive-stop').click()");
  EXPECT_TRUE(page.waitFor("T.text('drive-status') === '网盘服务未运行'", 30s)) << page.messages();
  EXPECT_FALSE(folders.isMounted('P'));
  page.js("Page.ui.$('drive-start').click()");
  EXPECT_TRUE(page.waitFor(running + " && T.text('drive-letter') === 'P:'", 60s))
      << page.messages();
  page.js(
      "Page.app.showView('settings'); Page.ui.$('settings-letter').value = 'R';"
      "Page.ui.$('settings-letter-save').click(); Page.ui.$('drive-restart').click();");
  EXPECT_TRUE(page.waitFor(running + " && T.text('drive-letter') === 'R:'", 60s))
      << page.text("T.text('drive-status') + ' ' + T.text('drive-letter')").toStdString()
      << ReadFile(folder() + "/tarvex.ini") << page.messages();
  EXPECT_TRUE(folders.isMounted('R'));
  EXPECT_NE(ReadFile(folder() + "/tarvex.ini").find("DriveLetter=R"), std::string::npos);

  // No other failure was shown along the way.
  EXPECT_EQ(page.text("Page.ui.messages.filter(function (m) { return (m.indexOf('error:') === 0 || "
                      "m.indexOf('login:') === 0) && m.indexOf('已经有同名的文件或文件夹') < 0; "
                      "}).join('\\n')")
                .toStdString(),
            "");

  // Auto-login turned off in the settings: the next start fills in the name and waits for the
  // password instead of logging in.
  page.js("Page.app.showView('settings')");
  EXPECT_TRUE(page.js("Page.ui.$('settings-auto-login').checked").toBool());
  EXPECT_EQ(page.text("T.text('settings-letter-folder')").toStdString(), folders.mountPoint('R'));
  page.js("Page.ui.$('settings-auto-login').click()");
  EXPECT_EQ(page.text("Page.bridge.ask('getData', 'autoLogin').result").toStdString(), "0");
  view->reload();
  ASSERT_TRUE(WaitForLoad(view));
  EXPECT_TRUE(
      page.js("!Page.app.loggedIn() && !Page.ui.$('login-button').disabled && "
              "!Page.ui.$('login-auto').checked && Page.ui.$('login-name').value === 'alice'")
          .toBool());
}

}  // namespace

#include "PageTest.moc"
