#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "drive/core/RunLoop.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/TestFiles.h"

namespace {

using namespace std::chrono_literals;

// Records every DriveState value and lets the test wait for a given number of them.
class StateRecorder {
 public:
  explicit StateRecorder(DriveProcess& drive) : drive_(drive) {
    drive_.onDriveState = [this](int32_t state) {
      std::lock_guard<std::mutex> guard(lock_);
      states_.push_back(state);
      changed_.notify_all();
    };
  }
  ~StateRecorder() { drive_.onDriveState = nullptr; }

  std::vector<int32_t> waitFor(size_t count) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, 20s, [&] { return states_.size() >= count; });
    return std::vector<int32_t>(states_.begin(), states_.begin() + std::min(count, states_.size()));
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<int32_t> states_;  // guarded by lock_
  DriveProcess& drive_;
};

class RefusedLogin : public IOMirror {
 public:
  static inline std::atomic<int> created{0};
  static inline std::atomic<int> destroyed{0};
  RefusedLogin() { ++created; }
  ~RefusedLogin() override { ++destroyed; }

 protected:
  int DoLogin() override { return -4; }
};

class RunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive.programFolder = dir.path() + "/";
    drive.openLog(dir.file("mirror.log"));
    drive.createMirror = [] { return new RefusedLogin(); };
  }
  void TearDown() override { stopLoop(); }
  void startLoop() {
    timing.afterMount = 10ms;
    timing.afterStop = 10ms;
    timing.runPoll = 10ms;
    loop = std::thread([this] { RunMountCycles(drive, timing, keepRunning); });
  }
  void stopLoop() {
    keepRunning = false;
    if (loop.joinable()) loop.join();
  }

  TempDir dir;
  DriveProcess drive;
  RunLoopTiming timing;
  std::atomic<bool> keepRunning{true};
  std::thread loop;
};

TEST_F(RunLoopTest, MissingSettingsFileRetriesWithoutLoggingIn) {
  drive.debugMask = 1;
  StateRecorder states(drive);
  startLoop();
  EXPECT_EQ(states.waitFor(4), (std::vector<int32_t>{1, 8, 1, 8}));
  stopLoop();
  EXPECT_EQ(RefusedLogin::created, 0);
  EXPECT_TRUE(Contains(LogTexts(dir.file("mirror.log")), dir.path() + "/tarvex.ini不存在!"));
}

TEST_F(RunLoopTest, RefusedLoginEndsTheCycleAndDestroysTheMirror) {
  WriteFile(dir.file("tarvex.ini"), "[Set]\nRun=1\n[User]\nUserName=a\n");
  StateRecorder states(drive);
  startLoop();
  EXPECT_EQ(states.waitFor(8), (std::vector<int32_t>{1, 4, 12, 8, 1, 4, 12, 8}));
  stopLoop();
  EXPECT_GE(RefusedLogin::created, 2);
  EXPECT_EQ(RefusedLogin::created, RefusedLogin::destroyed);
  EXPECT_EQ(drive.currentMirror, nullptr);
  EXPECT_EQ(drive.currentSettings, nullptr);
}

}  // namespace
