// quellanview as a process, headless, against the reference service and the real drive
// program: one instance per user, plugins from its own folders only, starting the drive from the
// page, the watcher's notices while the drive runs, dies and fails to log in, and a close that
// stops the drive.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "LaidOutProgramFolder.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScriptedHttpServer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The drive program runs as a copy under this name, so that stopping it, which ends every
// process of that name, never reaches drive programs of other tests.
const std::string kDriveName = "qdrive-" + std::to_string(::getpid());  // within 15 characters

using Environment = std::vector<std::pair<std::string, std::string>>;

// One headless quellanview, started in `startFolder` (else the test's own) with `environment`
// added; killed when it goes, if it did not end by itself.
class Quellanview {
 public:
  explicit Quellanview(const std::string& folderArgument, const std::string& startFolder = "",
                       const Environment& environment = {}) {
    pid_ = fork();
    if (pid_ == 0) {
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
      if (!startFolder.empty() && ::chdir(startFolder.c_str()) != 0) _exit(126);
      execl(QUELLANVIEW_PROGRAM, QUELLANVIEW_PROGRAM, "-d", folderArgument.c_str(), nullptr);
      _exit(127);
    }
  }
  ~Quellanview() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The exit status once it ended within `limit`, else -2.
  int waitExit(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -2;
    WaitFor(
        [&] {
          int status = 0;
          if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
          exited_ = true;
          exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
          return true;
        },
        limit);
    return exited_ ? exitStatus_ : -2;
  }
  void terminate() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  // Process id of its drive program child, or 0.
  pid_t driveChild() const {
    std::string out;
    RunCommand("pgrep -P " + std::to_string(pid_) + " -x " + kDriveName, &out);
    return static_cast<pid_t>(std::atoi(out.c_str()));
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int exitStatus_ = -2;
};

class QuellanviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.addUser("alice", "secret");
    fs::path mine = fs::path(server.userDir("alice")) / "我的空间";
    fs::create_directories(mine);
    std::ofstream(mine / "a.txt") << "hello";
    LayOutProgramFolder(folders, kDriveName);
  }
  std::string folder() const {
    std::string path = folders.programFolder();
    return path.substr(0, path.size() - 1);
  }
  std::string log() const { return ReadFile(folder() + "/quellan.log"); }
  // Settings for user alice with `storedPassword` (an MD5 digest, or empty) and `run`.
  void writeSettings(const std::string& storedPassword, int run = 1,
                     const std::string& process = "") {
    std::ofstream(folder() + "/tarvex.ini")
        << "[Set]\nDebug=7\nDriveLetter=Q\nWidth=800\nProcess=" << process << "\nRun=" << run
        << "\n[User]\nUserName=alice\nPassWord=" << storedPassword << "\n";
  }
  static std::string Digest(const std::string& password) {
    return QCryptographicHash::hash(QByteArray::fromStdString(password), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
  }

  // A runtime folder as the session gives one: the user's own, closed to others.
  static std::string RuntimeFolder(const std::string& path) {
    fs::create_directories(path);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  TestDriveFolders folders;
  ReferenceServer server;
  // The copies this test starts are one user's: they share a runtime folder of their own.
  ScopedEnv runtime{"XDG_RUNTIME_DIR", RuntimeFolder(folders.top() + "/run")};
};

// A helper process under a name of its own (a copy of sleep), killed when it goes.
class NamedProcess {
 public:
  NamedProcess(const std::string& folder, const std::string& name) {
    std::string path = folder + "/" + name;
    fs::copy_file("/bin/sleep", path);
    pid_ = fork();
    if (pid_ == 0) {
      execl(path.c_str(), name.c_str(), "300", nullptr);
      _exit(127);
    }
  }
  ~NamedProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // True once it ended through SIGKILL.
  bool killed() {
    int status = 0;
    if (pid_ <= 0 || reaped_ || waitpid(pid_, &status, WNOHANG) != pid_) return reaped_;
    reaped_ = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    return reaped_;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

TEST_F(QuellanviewTest, OneInstanceAndItsCloseEndsTheListedProcesses) {
  NamedProcess helperA(folders.top(), "helper-a");
  NamedProcess helperB(folders.top(), "helper-b");
  writeSettings(Digest("secret"), 0, "helper-a,,helper-b");
  // The folder is given with backslashes, as it arrives from the other system's shells.
  std::string backslashed = folders.top() + "\\program";
  Quellanview first(backslashed);
  ASSERT_TRUE(WaitFor([&] { return CountOf(log(), "notice") >= 1; }, 20s)) << log();
  EXPECT_EQ(CountOf(log(), "no system tray: running without the tray icon"), 1u);
  // Every line carries its time; the window's size is no line of its own.
  std::istringstream lines(log());
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(line.rfind("[20", 0), 0u) << "a line without its time: " << line;

  // A second start of the same user brings the running window to the front and ends.
  Quellanview second(folder());
  EXPECT_EQ(second.waitExit(10s), 0);
  EXPECT_TRUE(WaitFor(
      [&] {
        return CountOf(log(), "instance: window brought to the front for a second start") == 1;
      },
      5s))
      << log();
  first.terminate();
  EXPECT_EQ(first.waitExit(15s), 0);
  EXPECT_TRUE(WaitFor([&] { return helperA.killed(); }, 5s));
  EXPECT_TRUE(WaitFor([&] { return helperB.killed(); }, 5s));
}

// Another user's copy on the same machine (a runtime folder of its own) starts and runs beside
// the first.
TEST_F(QuellanviewTest, AnotherUserStartsBesideTheFirst) {
  writeSettings(Digest("secret"), 0);
  const std::string running = "instance: running for this user";
  Quellanview first(folder());
  ASSERT_TRUE(WaitFor([&] { return CountOf(log(), running) == 1; }, 20s)) << log();
  Quellanview other(folder(), "", {{"XDG_RUNTIME_DIR", RuntimeFolder(folders.top() + "/run-2")}});
  ASSERT_TRUE(WaitFor([&] { return CountOf(log(), running) == 2; }, 20s)) << log();
  EXPECT_EQ(other.waitExit(0ms), -2) << "the other user's copy is still running";
  other.terminate();
  first.terminate();
  EXPECT_EQ(other.waitExit(15s), 0);
  EXPECT_EQ(first.waitExit(15s), 0);
}

// A platform plugin planted in the folder the program is started in, which QT_PLUGIN_PATH also
// names relative to it, is never loaded: the program starts with Qt's own.
TEST_F(QuellanviewTest, LoadsNoPluginFromTheFolderItStartsIn) {
  writeSettings(Digest("secret"), 0);
  const std::string start = folders.top() + "/start";
  fs::create_directories(start + "/plugins/platforms");
  fs::copy_file(PLANTED_PLUGIN, start + "/plugins/platforms/libplanted.so");
  const std::string marker = folders.top() + "/planted-plugin-loaded";
  Quellanview view(folder(), start,
                   {{"QT_PLUGIN_PATH", "plugins"}, {"QUELLAN_PLANTED_MARKER", marker}});
  ASSERT_TRUE(WaitFor(
      [&] {
        return CountOf(log(), "notice") >= 1 || fs::exists(marker) || view.waitExit(0ms) != -2;
      },
      20s))
      << log();
  EXPECT_FALSE(fs::exists(marker));
  view.terminate();
  EXPECT_EQ(view.waitExit(15s), 0);
}

TEST_F(QuellanviewTest, StartsWatchesAndStopsTheDrive) {
  SKIP_WITHOUT_FUSE();
  ASSERT_TRUE(server.start());
  ScopedEnv webPort("QUELLAN_WEB_PORT", std::to_string(server.webPort()));
  writeSettings(Digest("secret"));
  {
    // The page starts the drive; the watcher sees it mounted; closing stops it.
    Quellanview view(folder());
    ASSERT_TRUE(
        WaitFor([&] { return log().find("notice 2 网盘正在运行 Q\n") != std::string::npos; }, 60s))
        << log() << ReadFile(folder() + "/mirror.log");
    EXPECT_TRUE(folders.isMounted('Q'));
    pid_t drive = view.driveChild();
    ASSERT_GT(drive, 0);
    view.terminate();
    EXPECT_EQ(view.waitExit(30s), 0);
    EXPECT_TRUE(WaitFor([&] { return ::kill(drive, 0) != 0; }, 10s));
    EXPECT_FALSE(folders.isMounted('Q'));
    EXPECT_EQ(CountOf(log(), "notice 2 "), 1u) << log();
  }
  fs::remove(folder() + "/quellan.log");
  {
    // A killed drive program: the open pipe breaks (-9), then no pipe opens (-99).
    Quellanview view(folder());
    ASSERT_TRUE(WaitFor([&] { return log().find("notice 2 ") != std::string::npos; }, 60s))
        << log();
    pid_t drive = view.driveChild();
    ASSERT_GT(drive, 0);
    ::kill(drive, SIGKILL);
    auto sinceKill = [&] {
      std::string text = log();
      return text.substr(text.find("notice 2 "));
    };
    ASSERT_TRUE(WaitFor([&] { return sinceKill().find("notice -99 ") != std::string::npos; }, 20s))
        << log();
    std::string text = sinceKill();
    EXPECT_EQ(CountOf(text, "notice -9 无法连接到网盘或网盘未启动\n"), 1u) << text;
    EXPECT_EQ(CountOf(text, "notice -99 网盘服务未运行\n"), 1u) << text;
    EXPECT_LT(text.find("notice -9 "), text.find("notice -99 "));
    // Its dead mount is taken away, and the program says what happened.
    EXPECT_NE(text.find("drive lost: 网盘程序已意外退出，已卸载失效的网盘 Q:\n"), std::string::npos)
        << text;
    EXPECT_FALSE(folders.isMounted('Q'));
    ForceUnmountBelow(folders.driveRoot());
    view.terminate();
    EXPECT_EQ(view.waitExit(30s), 0);
  }
  // A password the service refuses fails the login step (12); a missing one is an account
  // error (10). Either way the drive program retries and the close still ends it.
  const std::pair<std::string, std::string> failures[] = {
      {Digest("wrong"), "notice 12 网盘登录失败\n"}, {"", "notice 10 网盘账号密码错误\n"}};
  for (const auto& [stored, notice] : failures) {
    fs::remove(folder() + "/quellan.log");
    writeSettings(stored);
    Quellanview view(folder());
    // Clang before 16 cannot capture a structured binding, so the lambda gets a reference to it.
    EXPECT_TRUE(
        WaitFor([&, &expected = notice] { return log().find(expected) != std::string::npos; }, 60s))
        << log();
    view.terminate();
    EXPECT_EQ(view.waitExit(30s), 0);
    EXPECT_EQ(view.driveChild(), 0);
  }
}

}  // namespace
