// A test process that ends without cleaning up: what it started and its folders are gone
// once the next test's fixture starts, and nothing of a test that still runs is touched.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/Leftovers.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

extern char** environ;

namespace {

// True once the process has ended (a zombie waiting for its parent counts as ended).
bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z';
}

TEST(Leftovers, WhatAnEndedTestStartedIsEndedAndItsFoldersRemoved) {
  EndLeftoversOfEndedTests();  // marks this process as the owner of what it starts
  TempDir mine;
  char* sleepArgs[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
  pid_t ours = 0;
  ASSERT_EQ(::posix_spawnp(&ours, "sleep", nullptr, nullptr, sleepArgs, environ), 0);

  // A "test" that starts a program and makes a folder, then ends without cleaning up.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t crashed = ::fork();
  if (crashed == 0) {
    EndLeftoversOfEndedTests();
    pid_t left = 0;
    ::posix_spawnp(&left, "sleep", nullptr, nullptr, sleepArgs, environ);
    std::string folder = OwnedTempPrefix() + "XXXXXX";
    ::mkdtemp(folder.data());
    std::string report = std::to_string(left) + " " + folder;
    ::write(pipeFds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  char report[512] = {0};
  ASSERT_GT(::read(pipeFds[0], report, sizeof report - 1), 0);
  ::close(pipeFds[0]);
  ASSERT_EQ(::waitpid(crashed, nullptr, 0), crashed);
  pid_t left = std::atoi(report);
  std::string folder = std::strchr(report, ' ') + 1;
  ASSERT_GT(left, 0);
  ASSERT_TRUE(std::filesystem::exists(folder));

  EndLeftoversOfEndedTests();
  EXPECT_TRUE(WaitFor([&] { return Gone(left); }));
  EXPECT_FALSE(std::filesystem::exists(folder));
  // This test still runs: its own program and folder stay.
  EXPECT_FALSE(Gone(ours));
  EXPECT_TRUE(std::filesystem::exists(mine.path()));
  ::kill(ours, SIGKILL);
  ::waitpid(ours, nullptr, 0);
}

}  // namespace
