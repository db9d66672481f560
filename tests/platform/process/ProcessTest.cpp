#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/process/Process.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

pid_t Spawn(const std::string& program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

TEST(ProcessTest, KillByImageNameEndsOnlyThatImage) {
  TempDir dir;
  std::string sleeper = dir.file("qtest-sleeper");
  std::string bystander = dir.file("qtest-bystander");
  std::filesystem::copy_file("/bin/sleep", sleeper);
  std::filesystem::copy_file("/bin/sleep", bystander);
  pid_t a = Spawn(sleeper, {"30"});
  pid_t b = Spawn(sleeper, {"30"});
  pid_t c = Spawn(bystander, {"30"});
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  ASSERT_GT(c, 0);

  EXPECT_EQ(process::KillByImageName("qtest-sleeper.exe"), 2);
  // Both have ended by the time it returns, and their exit status is still the caller's to
  // collect: nothing was reaped behind its back.
  for (pid_t child : {a, b}) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WNOHANG), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  }
  int status = 0;
  EXPECT_EQ(waitpid(c, &status, WNOHANG), 0) << "a process of another image was ended";
  kill(c, SIGKILL);
  waitpid(c, &status, 0);
}

TEST(ProcessTest, KillByImageNameWithNoMatchDoesNothing) {
  EXPECT_EQ(process::KillByImageName("no-such-image-here"), 0);
  EXPECT_EQ(process::KillByImageName(""), 0);
}

TEST(ProcessTest, RunAndWaitReportsExitStatusAndStartFailure) {
  EXPECT_EQ(process::RunAndWait({"true"}), 0);
  EXPECT_EQ(process::RunAndWait({"sh", "-c", "exit 7"}), 7);
  EXPECT_EQ(process::RunAndWait({"/no/such/program"}), -1);
  EXPECT_EQ(process::RunAndWait({}), -1);
  // A helper that hangs is ended at its limit (the drive's unmount helper runs so).
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(process::RunAndWait({"sleep", "60"}, true, 200), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(process::RunAndWait({"sh", "-c", "exit 3"}, true, 5000), 3);
  EXPECT_TRUE(process::IsOnPath("sh"));
  EXPECT_FALSE(process::IsOnPath("no-such-program-anywhere"));
  EXPECT_FALSE(process::ExecutablePath().empty());
}

}  // namespace
