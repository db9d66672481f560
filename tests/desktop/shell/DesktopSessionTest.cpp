// The real quellanview on an X desktop (Xvfb, a window manager, a system tray), run as normal
// (non-root) users against the reference service and the real drive program, driven through
// the page's own controls: log in, download to the default folder, upload, stop and start the
// drive, a drive program that dies, a drive program that cannot start, a second user beside
// the first, and hiding the window without a tray. Every page operation a call makes is timed
// while the drive starts and stops. A screenshot of the whole screen is saved at each step in
// <build>/screenshots/desktop-*.png, and the timings in desktop-timings.txt beside them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "DesktopUser.h"
#include "X11Desktop.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/Files.h"
#include "tests/support/Leftovers.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Stopping the drive may still end drive programs by name, so the copy has a name of its own.
const std::string kDriveName = "qlx-" + std::to_string(::getpid());
const std::string kRunning = "T.text('drive-status').indexOf('网盘正在运行') === 0";

// Helpers added to the page before each script: its rows, its tasks, clicks on their buttons.
const char kPageHelpers[] = R"JS(
window.T = window.T || {
  text: function (id) { return document.getElementById(id).textContent; },
  shown: function () { return document.body.innerText; },
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
  task: function (kind, name) {
    var rows = document.querySelectorAll("#" + kind + "-table tbody tr");
    for (var i = 0; i < rows.length; i++) {
      var task = Page.transfers.task(kind, rows[i].getAttribute("data-id"));
      if (task && task.fileName === name) return task.status;
    }
    return "";
  },
  // The slowest page operation since the last call, "name ms", and the list cleared.
  slowest: function () {
    var times = window.__slotTimes || [], worst = ["none", 0];
    for (var i = 0; i < times.length; i++) if (times[i][1] > worst[1]) worst = times[i];
    window.__slotTimes = [];
    return worst[0] + " " + worst[1].toFixed(1) + " " + times.length;
  }
};
)JS";

double Seconds(Clock::duration elapsed) { return std::chrono::duration<double>(elapsed).count(); }

// The page of one running quellanview, seen through its probe.
class PageView {
 public:
  explicit PageView(ProbeClient& probe) : probe_(probe) {}

  std::string js(const std::string& expression) {
    return probe_.eval(std::string(kPageHelpers) + "String(" + expression + ");");
  }
  // Runs statements; answers "ok" once they ran.
  std::string run(const std::string& statements) {
    return probe_.eval(std::string(kPageHelpers) + statements + "; 'ok';");
  }
  bool isTrue(const std::string& condition) { return js(condition) == "true"; }
  bool waitFor(const std::string& condition, std::chrono::milliseconds limit) {
    return probe_.waitFor(std::string(kPageHelpers) + "!!(" + condition + ");", limit);
  }
  // Waits for the page to load, unless `process` ends first.
  bool waitReady(SpawnedProcess& process) {
    return WaitFor(
               [&] {
                 return !process.running() ||
                        isTrue("!!(window.Page && Page.ui && document.readyState === 'complete')");
               },
               30s) &&
           process.running();
  }
  // The slowest page operation since the last call and how long it took (ms).
  std::pair<std::string, double> slowest() {
    std::string answer = js("T.slowest()");
    size_t space = answer.find(' ');
    if (space == std::string::npos) return {answer, 1e9};
    return {answer.substr(0, space) + " (of" + answer.substr(answer.rfind(' ')) + " calls)",
            std::atof(answer.c_str() + space + 1)};
  }
  std::string messages() {
    return js(
        "(Page.ui.messages || []).join('\\n') + '\\nstatus: ' + T.text('drive-status') + "
        "'\\nshown: ' + T.shown().slice(0, 600)");
  }
  QJsonObject window() {
    return QJsonDocument::fromJson(QByteArray::fromStdString(probe_.ask("window"))).object();
  }
  QJsonObject tray() {
    return QJsonDocument::fromJson(QByteArray::fromStdString(probe_.ask("tray"))).object();
  }
  std::string screenshot() { return probe_.ask("shot", 20s); }

 private:
  ProbeClient& probe_;
};

class DesktopSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EndLeftoversOfEndedTests();
    SKIP_WITHOUT_FUSE();
    std::string missing = X11Desktop::MissingReason();
    if (!missing.empty()) GTEST_SKIP() << missing;
    alice.emplace("qlview-a", top.path());
    if (!alice->problem().empty()) GTEST_SKIP() << alice->problem();
    ASSERT_NO_FATAL_FAILURE(openFuseToUsers());

    server.addUser("alice", "secret");
    fs::path files = server.userDir("alice");
    WriteFile(files / "我的空间/报告.txt", "季度报告：一切顺利。\n");
    WriteFile(files / "我的空间/sample.bin", PatternBytes(3 << 20, 1));
    WriteFile(files / "下载空间/使用说明.txt", "欢迎使用。\n");
    ASSERT_TRUE(server.start());
    std::string why;
    ASSERT_TRUE(desktop.start(top.path(), &why)) << why << ReadFile(top.file("xvfb.log"));
    layOut(*alice);
  }
  void TearDown() override {
    // The people's programs end before the desktop they run on.
    if (alice) alice->endEverything();
    if (bob) bob->endEverything();
    if (fuseMode) ::chmod("/dev/fuse", *fuseMode);
  }

  // A normal user mounts through /dev/fuse, which a booted system makes readable and writable
  // for everyone; a container may make it root's alone. While the test runs, it is as on a
  // booted system.
  void openFuseToUsers() {
    struct stat info {};
    ASSERT_EQ(::stat("/dev/fuse", &info), 0);
    const mode_t everyone = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
    if ((info.st_mode & everyone) == everyone) return;
    if (::geteuid() != 0) GTEST_SKIP() << "/dev/fuse is not open to normal users";
    fuseMode = info.st_mode & 07777;
    ASSERT_EQ(::chmod("/dev/fuse", everyone), 0);
  }

  // The user's program folder: the page from the source tree, a drive program copy, and the
  // drive letter P without an account (the page asks for the login).
  void layOut(const DesktopUser& user) {
    std::string program = user.programFolder();
    fs::create_directories(program);
    fs::create_directory_symlink(QUELLAN_SOURCE_DIR "/skin", program + "/skin");
    fs::copy_file(QUELLAN_PROGRAM, program + "/" + kDriveName);
    std::ofstream(program + "/tarvex.ini") << "[Set]\nDebug=7\nDriveLetter=P\nRun=1\n";
    user.own(program);
  }
  DesktopUser::Run start(DesktopUser& user, Environment extra = {}) {
    extra.push_back({"QUELLAN_WEB_PORT", std::to_string(server.webPort())});
    extra.push_back({"QUELLAN_DRIVE_PROGRAM", user.programFolder() + "/" + kDriveName});
    return user.startQuellanview(desktop.display(), extra);
  }
  void screenshot(PageView& page, const std::string& name) {
    fs::path folder = fs::path(QUELLAN_BUILD_DIR) / "screenshots";
    fs::create_directories(folder);
    std::string png = page.screenshot();
    if (png.empty()) {
      ADD_FAILURE() << "no screenshot for " << name;
      return;
    }
    WriteFile(folder / ("desktop-" + name + ".png"), png);
  }
  void timing(const std::string& line) {
    fs::path folder = fs::path(QUELLAN_BUILD_DIR) / "screenshots";
    fs::create_directories(folder);
    std::ofstream(folder / "desktop-timings.txt", std::ios::app) << line << "\n";
    std::printf("timing: %s\n", line.c_str());
  }
  // Clicks a control and checks that no page operation took longer than 100 ms until
  // `condition` held (within `limit`). Returns the seconds it took.
  double clickAndWatch(PageView& page, const std::string& control, const std::string& condition,
                       std::chrono::milliseconds limit, const std::string& what) {
    page.slowest();
    auto clicked = Clock::now();
    page.js("Page.ui.$('" + control + "').click()");
    bool reached = page.waitFor(condition, limit);
    double took = Seconds(Clock::now() - clicked);
    EXPECT_TRUE(reached) << what << ": " << page.messages();
    auto [slowest, ms] = page.slowest();
    timing(what + ": " + std::to_string(took) + " s; slowest page operation " + slowest + " " +
           std::to_string(ms) + " ms");
    EXPECT_LE(ms, 100.0) << what << ": " << slowest;
    return took;
  }
  // Process ids of this user's running drive programs.
  std::vector<pid_t> drivePrograms(const DesktopUser& user) {
    std::string out;
    RunCommand("pgrep -u " + std::to_string(user.uid()) + " -x " + kDriveName, &out);
    std::vector<pid_t> pids;
    for (size_t at = 0; at < out.size();) {
      pid_t pid = static_cast<pid_t>(std::atoi(out.c_str() + at));
      // One that ended but was not yet reaped by its parent no longer runs.
      std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
      size_t state = stat.rfind(") ");
      if (state != std::string::npos && stat.compare(state + 2, 1, "Z") != 0) pids.push_back(pid);
      at = out.find('\n', at);
      if (at == std::string::npos) break;
      ++at;
    }
    return pids;
  }
  std::string mountPoint(const DesktopUser& user) { return user.home() + "/Quellan/P"; }
  std::string log(const DesktopUser& user) {
    return ReadFile(user.programFolder() + "/quellan.log") + "\nmirror.log:\n" +
           ReadFile(user.programFolder() + "/mirror.log");
  }
  void logIn(PageView& page) {
    page.run(
        "Page.ui.$('login-name').value = 'alice'; Page.ui.$('login-password').value = 'secret'");
  }

  TempDir top;
  ReferenceServer server;
  X11Desktop desktop;
  std::optional<DesktopUser> alice;
  std::optional<DesktopUser> bob;
  std::optional<mode_t> fuseMode;  // the mode /dev/fuse had, while the test changed it
};

TEST_F(DesktopSessionTest, LogInDownloadUploadStopStartAndADriveThatDies) {
  std::string why;
  ASSERT_TRUE(desktop.startTray(&why)) << why;
  auto started = Clock::now();
  DesktopUser::Run run = start(*alice);
  PageView page(*run.probe);
  ASSERT_TRUE(page.waitReady(run.process)) << ReadFile(alice->home() + "/quellanview-1.out");
  ASSERT_TRUE(WaitFor([&] { return page.window()["visible"].toBool(); }, 10s));
  timing("window shown: " + std::to_string(Seconds(Clock::now() - started)) + " s");
  QJsonObject tray = page.tray();
  EXPECT_TRUE(tray["available"].toBool());
  EXPECT_TRUE(tray["shown"].toBool());
  EXPECT_TRUE(tray["menu"].toArray().contains(QString("显示窗口")))
      << QJsonDocument(tray).toJson().toStdString();
  screenshot(page, "01-login");

  // Log in: the drive starts, and the page stays responsive while it does.
  logIn(page);
  clickAndWatch(page, "login-button", kRunning, 30s, "log in and start the drive");
  ASSERT_TRUE(page.isTrue(kRunning)) << page.messages() << log(*alice);
  ASSERT_TRUE(page.waitFor("T.has('folder', '我的空间')", 20s)) << page.messages();
  screenshot(page, "02-logged-in");

  // A download lands in the user's download folder, in "QLDownloads".
  ASSERT_TRUE(page.isTrue("T.click('我的空间', 'enter')")) << page.messages();
  ASSERT_TRUE(page.waitFor("T.has('file', 'sample.bin')", 20s)) << page.messages();
  ASSERT_TRUE(page.isTrue("T.click('sample.bin', 'download')")) << page.messages();
  page.run("Page.app.showView('downloads')");
  EXPECT_TRUE(page.waitFor("T.task('download', 'sample.bin') === 'completed'", 60s))
      << page.messages();
  const fs::path downloaded = fs::path(alice->home()) / "Downloads/QLDownloads/sample.bin";
  EXPECT_EQ(ReadFile(downloaded),
            ReadFile(fs::path(server.userDir("alice")) / "我的空间/sample.bin"))
      << downloaded;
  screenshot(page, "03-download");

  // An upload from the user's home into the open folder.
  const std::string upload = alice->home() + "/上传的文件.bin";
  WriteFile(upload, PatternBytes((2 << 20) + 123, 7));
  alice->own(upload);
  page.run("Page.app.showView('files')");
  EXPECT_EQ(page.js("Page.files.uploadPaths(['" + upload + "'])"), "1") << page.messages();
  page.run("Page.app.showView('uploads')");
  EXPECT_TRUE(page.waitFor("T.task('upload', '上传的文件.bin') === 'completed'", 60s))
      << page.messages();
  EXPECT_TRUE(WaitFor(
      [&] {
        return ReadFile(fs::path(server.userDir("alice")) / "我的空间/上传的文件.bin") ==
               ReadFile(upload);
      },
      30s));
  screenshot(page, "04-upload");

  // Stop and start again: no page operation waits for the drive.
  page.run("Page.app.showView('files')");
  clickAndWatch(page, "drive-stop", "T.text('drive-status') === '网盘服务未运行'", 30s,
                "stop the drive");
  EXPECT_TRUE(WaitFor([&] { return drivePrograms(*alice).empty(); }, 10s));
  clickAndWatch(page, "drive-start", kRunning, 60s, "start the drive");
  EXPECT_TRUE(page.waitFor("T.has('file', 'sample.bin')", 20s)) << page.messages();
  screenshot(page, "05-restarted");

  // The drive program dies: its mount is cleared, the page says so and the list empties.
  std::vector<pid_t> drives = drivePrograms(*alice);
  ASSERT_EQ(drives.size(), 1u);
  page.slowest();
  auto killed = Clock::now();
  ::kill(drives[0], SIGKILL);
  EXPECT_TRUE(page.waitFor("!(" + kRunning + ")", 10s)) << page.messages();
  timing("killed drive shown: " + std::to_string(Seconds(Clock::now() - killed)) + " s");
  EXPECT_TRUE(page.waitFor("T.rows() === ''", 5s)) << "the list keeps the dead drive's entries\n"
                                                   << page.messages();
  EXPECT_TRUE(WaitFor(
      [&] {
        struct stat info {};
        return ::stat(mountPoint(*alice).c_str(), &info) == 0 || errno == ENOENT;
      },
      10s))
      << "dead mount left at " << mountPoint(*alice);
  EXPECT_EQ(page.js("T.text('drive-status')").find("网盘正在运行"), std::string::npos);
  screenshot(page, "06-drive-died");
}

// The drive program cannot make its control pipe (its folder is open to others) and ends at
// once: the reason it gave is on screen within 2 s, and the page never waited.
TEST_F(DesktopSessionTest, ADriveThatCannotStartShowsItsReason) {
  std::string why;
  ASSERT_TRUE(desktop.startTray(&why)) << why;
  const std::string openFolder = alice->home() + "/open";
  fs::create_directories(openFolder);
  ::chmod(openFolder.c_str(), 0755);
  alice->own(openFolder);
  DesktopUser::Run run = start(*alice, {{"QUELLAN_PIPE", openFolder + "/Tarvex"}});
  PageView page(*run.probe);
  ASSERT_TRUE(page.waitReady(run.process)) << ReadFile(alice->home() + "/quellanview-1.out");
  logIn(page);
  const std::string reasonShown =
      "T.shown().indexOf('control pipe') >= 0 || T.shown().indexOf('create fifo Err') >= 0";
  double took = clickAndWatch(page, "login-button", reasonShown, 25s, "failed start's reason");
  EXPECT_LE(took, 2.0) << page.messages() << log(*alice);
  EXPECT_TRUE(drivePrograms(*alice).empty());
  screenshot(page, "07-failed-start");
}

// A second person starts the program while the first one's runs; the first one's second start
// brings the running window to the front.
TEST_F(DesktopSessionTest, ASecondUserStartsBesideTheFirst) {
  bob.emplace("qlview-b", top.path());
  if (!bob->problem().empty()) GTEST_SKIP() << bob->problem();
  layOut(*bob);
  std::string why;
  ASSERT_TRUE(desktop.startTray(&why)) << why;
  DesktopUser::Run first = start(*alice);
  PageView firstPage(*first.probe);
  ASSERT_TRUE(firstPage.waitReady(first.process)) << ReadFile(alice->home() + "/quellanview-1.out");

  DesktopUser::Run second = start(*bob);
  PageView secondPage(*second.probe);
  EXPECT_TRUE(secondPage.waitReady(second.process))
      << "second user's start: exit " << second.process.waitExit(0ms) << "\n"
      << ReadFile(bob->home() + "/quellanview-1.out") << log(*bob);
  EXPECT_TRUE(second.process.running());
  EXPECT_TRUE(WaitFor([&] { return secondPage.window()["visible"].toBool(); }, 10s));
  EXPECT_TRUE(firstPage.window()["visible"].toBool());
  screenshot(firstPage, "08-second-user");
}

// Without a tray, hiding minimises the window; a new start brings it back.
TEST_F(DesktopSessionTest, HidingWithoutATrayMinimises) {
  DesktopUser::Run run = start(*alice);
  PageView page(*run.probe);
  ASSERT_TRUE(page.waitReady(run.process)) << ReadFile(alice->home() + "/quellanview-1.out");
  ASSERT_TRUE(WaitFor([&] { return page.window()["visible"].toBool(); }, 10s));
  EXPECT_FALSE(page.tray()["available"].toBool());
  page.js("Page.ui.$('button-hide').click()");
  const std::string window = page.window()["id"].toString().toStdString();
  EXPECT_TRUE(WaitFor(
      [&] { return desktop.property(window, "WM_STATE").find("Iconic") != std::string::npos; }, 5s))
      << desktop.property(window, "WM_STATE")
      << QJsonDocument(page.window()).toJson().toStdString();
  screenshot(page, "09-hidden-without-tray");

  DesktopUser::Run again = start(*alice);
  EXPECT_NE(again.process.waitExit(15s), -2) << "a second start of the same user keeps running";
  EXPECT_TRUE(WaitFor(
      [&] { return desktop.property(window, "WM_STATE").find("Normal") != std::string::npos; }, 5s))
      << desktop.property(window, "WM_STATE");
  EXPECT_TRUE(WaitFor([&] { return page.window()["active"].toBool(); }, 5s))
      << QJsonDocument(page.window()).toJson().toStdString();
  EXPECT_TRUE(run.process.running());
  screenshot(page, "10-brought-back");
}

}  // namespace
