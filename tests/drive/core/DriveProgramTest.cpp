// The drive program as a whole process: command line, service installation and service mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "tests/drive/core/TestFiles.h"
#include "tests/platform/service/FakeSystemctl.h"
#include "tests/support/Leftovers.h"
#include "tests/support/Wait.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::string ProgramPath() {
  const char* build = std::getenv("QUELLAN_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/bin/quellan";
}

// One run of the drive program (or another program) with its standard output in a file.
class DriveProgram {
 public:
  DriveProgram(const TempDir& dir, std::vector<std::string> args,
               const std::string& program = ProgramPath())
      : out_(dir.file("stdout.txt")) {
    EndLeftoversOfEndedTests();
    // Each run serves its control pipe in its own folder, so runs never meet.
    ::setenv("QUELLAN_PIPE", dir.file("Tarvex").c_str(), 1);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~DriveProgram() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Exit status, or -1 when it did not exit normally within `limit`.
  int wait(std::chrono::milliseconds limit = 10s) {
    int status = 0;
    bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    exited_ = exited_ || ended;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void signal(int number) { kill(pid_, number); }
  std::string output() const { return ReadFile(out_); }

 private:
  std::string out_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

TEST(DriveProgramTest, InstallTwiceReportsTheExistingService) {
  FakeSystemctl systemctl;
  TempDir dir;
  {
    DriveProgram first(dir, {"-i", "-d", "ignored", "whatever"});
    ASSERT_EQ(first.wait(), 0);
    EXPECT_EQ(first.output(), "add Service Succeed\n");
  }
  std::string unit = ReadFile(systemctl.unitFile("Tarvex"));
  EXPECT_NE(
      unit.find("ExecStart=" + std::filesystem::canonical(ProgramPath()).string() + " service\n"),
      std::string::npos)
      << unit;
  DriveProgram second(dir, {"-i"});
  ASSERT_EQ(second.wait(), 0);
  EXPECT_EQ(second.output(), "Service Tarvex Exist!\n");
  EXPECT_EQ(ReadFile(systemctl.unitFile("Tarvex")), unit);
}

TEST(DriveProgramTest, RemoveMissingAndRunningServices) {
  FakeSystemctl systemctl;
  TempDir dir;
  {
    DriveProgram missing(dir, {"-u"});
    ASSERT_EQ(missing.wait(), 0);
    EXPECT_EQ(missing.output(), "Service Tarvex is not Exist \n");
  }
  {
    DriveProgram install(dir, {"-i"});
    ASSERT_EQ(install.wait(), 0);
  }
  systemctl.setActive(true);
  DriveProgram remove(dir, {"-u"});
  ASSERT_EQ(remove.wait(), 0);
  EXPECT_EQ(remove.output(), "Service Tarvex Delete!\n");
  std::string calls = systemctl.calls();
  size_t stop = calls.find("stop Tarvex.service");
  ASSERT_NE(stop, std::string::npos) << calls;
  EXPECT_LT(stop, calls.find("disable Tarvex.service"));
  EXPECT_FALSE(std::filesystem::exists(systemctl.unitFile("Tarvex")));
}

TEST(DriveProgramTest, ManagerErrorIsReportedWithItsCode) {
  FakeSystemctl systemctl;
  ::setenv("QUELLAN_UNIT_DIR", "/proc/no-units-here", 1);
  TempDir dir;
  DriveProgram install(dir, {"-i"});
  ASSERT_EQ(install.wait(), 0);
  EXPECT_EQ(install.output().rfind("link SCManager Err ", 0), 0u) << install.output();
}

TEST(DriveProgramTest, ServiceModeEndsWithStatusZeroOnStop) {
  TempDir dir;
  WriteFile(dir.file("tarvex.ini"), "[Set]\nDebug=1\nRun=0\n");
  for (int signalNumber : {SIGTERM, SIGHUP}) {
    std::filesystem::remove(dir.file("mirror.log"));
    DriveProgram service(dir, {"-d", dir.path(), "service"});
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir.file("mirror.log")); }));
    service.signal(signalNumber);
    EXPECT_EQ(service.wait(), 0) << "signal " << signalNumber;
  }
}

// The settings echo shows every setting but the password digest, on the console and in the
// log, and the log is the user's alone.
TEST(DriveProgramTest, ConsoleRunReadsTheSettingsOfItsFolder) {
  TempDir dir;
  const std::string digest = "0123456789abcdef0123456789abcdef";
  WriteFile(dir.file("tarvex.ini"),
            "[Set]\nDebug=4\nRun=0\nDriveLetter=Q\n[User]\nPassWord=" + digest + "\n");
  DriveProgram drive(dir, {"-d", dir.path(), "-t"});
  EXPECT_TRUE(WaitFor([&] {
    auto lines = LogTexts(dir.file("mirror.log"));
    return Contains(lines, "DriveLetter:Q") && Contains(lines, "PassWord:******");
  })) << ReadFile(dir.file("mirror.log"));
  EXPECT_TRUE(WaitFor([&] {
    return drive.output().find("PassWord:******\r\n") != std::string::npos;
  })) << drive.output();
  EXPECT_NE(drive.output().find("DriveLetter:Q\r\n"), std::string::npos);
  EXPECT_EQ(drive.output().find(digest), std::string::npos);
  EXPECT_EQ(ReadFile(dir.file("mirror.log")).find(digest), std::string::npos);
  EXPECT_EQ(std::filesystem::status(dir.file("mirror.log")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(DriveProgramTest, ConsoleRunEndsWithStatusZeroOnTerminationSignals) {
  TempDir dir;
  WriteFile(dir.file("tarvex.ini"), "[Set]\nDebug=1\nRun=0\n");
  for (int signalNumber : {SIGINT, SIGTERM}) {
    std::filesystem::remove(dir.file("mirror.log"));
    DriveProgram drive(dir, {"-d", dir.path()});
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir.file("mirror.log")); }));
    drive.signal(signalNumber);
    EXPECT_EQ(drive.wait(), 0) << "signal " << signalNumber;
  }
}

// -h and --help print a usage on standard output and end with status 0 before the program
// starts anything: no log, no settings, no data folder content. The output file is the only
// entry in the folder afterwards.
TEST(DriveProgramTest, HelpPrintsUsageAndStartsNothing) {
  const std::string build =
      std::getenv("QUELLAN_BUILD_DIR") ? std::getenv("QUELLAN_BUILD_DIR") : ".";
  struct Case {
    std::string program;
    std::vector<std::string> args;  // "DIR" stands for the test's folder
    std::string usageStart;
  };
  const Case cases[] = {
      {build + "/bin/quellan", {"-h"}, "quellan: "},
      {build + "/bin/quellan", {"-d", "DIR", "-t", "--help"}, "quellan: "},
      {build + "/bin/quellan-server", {"--help"}, "quellan-server: "},
      {build + "/bin/quellan-server", {"--data", "DIR", "-h"}, "quellan-server: "},
  };
  // Without -d the program folder is the program's own: its log must not change either.
  const std::string binLog = build + "/bin/mirror.log";
  auto binLogSize = [&] {
    std::error_code error;
    return std::filesystem::file_size(binLog, error);
  };
  const auto binLogBefore = binLogSize();
  for (const Case& c : cases) {
    TempDir dir;
    std::vector<std::string> args = c.args;
    for (auto& arg : args)
      if (arg == "DIR") arg = dir.path();
    DriveProgram program(dir, args, c.program);
    SCOPED_TRACE(c.program + " " + c.args.back());
    ASSERT_EQ(program.wait(), 0);
    std::string out = program.output();
    EXPECT_EQ(out.rfind(c.usageStart, 0), 0u) << out;
    EXPECT_NE(out.find("-h, --help"), std::string::npos) << out;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  }
  EXPECT_EQ(binLogSize(), binLogBefore);
}

}  // namespace
