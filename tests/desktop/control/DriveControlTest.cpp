// Stopping the drive from the desktop program ends only this program folder's drive program:
// the child it started, or the one serving its control pipe for its folder. Real drive
// programs of two program folders, each with its own pipe.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QString>
#include <memory>
#include <string>

#include "desktop/drive/CAction.h"
#include "platform/process/Process.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

using namespace std::chrono_literals;

// A drive program this test started for `folder` on `pipe`, ended when it goes.
class OtherDriveProgram {
 public:
  OtherDriveProgram(const std::string& folder, const std::string& pipe) {
    ScopedEnv pipePath("QUELLAN_PIPE", pipe);
    pid_ = process::StartDetached({QUELLAN_PROGRAM, "-d", folder});
  }
  ~OtherDriveProgram() {
    if (!reaped_ && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // True while it runs (it is reaped once it ended).
  bool alive() {
    int exitCode = 0;
    if (!reaped_ && process::ExitedYet(pid_, &exitCode)) reaped_ = true;
    return !reaped_;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

bool Serves(const std::string& pipe) { return DrivePipeClient(pipe).openPipe() == 0; }

TEST(DriveControlTest, StopEndsOnlyThisProgramFoldersDriveProgram) {
  TempDir top;
  const std::string mine = top.path() + "/mine";
  const std::string other = top.path() + "/other";
  std::filesystem::create_directories(mine);
  std::filesystem::create_directories(other);
  const std::string myPipe = top.path() + "/run-mine/Tarvex";
  const std::string otherPipe = top.path() + "/run-other/Tarvex";
  ScopedEnv pipePath("QUELLAN_PIPE", myPipe);

  // Another program folder's drive program, of the same image and the same user.
  OtherDriveProgram bystander(other, otherPipe);
  ASSERT_TRUE(WaitFor([&] { return Serves(otherPipe); }, 20s));

  {
    // The child this program started.
    CAction action(QString::fromLatin1(QUELLAN_PROGRAM), QString::fromStdString(mine));
    action.startDrive();
    ASSERT_TRUE(WaitFor([&] { return Serves(myPipe); }, 20s));
    EXPECT_EQ(action.activity(), CAction::Activity::kStarting) << "on its way, not mounted";
    action.stopDrive();
    EXPECT_TRUE(WaitFor([&] { return !Serves(myPipe); }, 5s));
    EXPECT_TRUE(action.startFailure().isEmpty()) << "a stop is no failed start";
    EXPECT_TRUE(bystander.alive());
  }
  {
    // One started for this folder before this program ran (its pipe tells which it is), and
    // the stop asked for from the page, which returns at once.
    OtherDriveProgram earlier(mine, myPipe);
    ASSERT_TRUE(WaitFor([&] { return Serves(myPipe); }, 20s));
    CAction action(QString::fromLatin1(QUELLAN_PROGRAM), QString::fromStdString(mine));
    action.requestStop();
    EXPECT_TRUE(action.waitUntilIdle(15s));
    EXPECT_TRUE(WaitFor([&] { return !earlier.alive(); }, 5s));
    EXPECT_TRUE(bystander.alive());
  }
  {
    // The other folder's drive program answering on this program's pipe is asked to unmount
    // but keeps running: it is not this folder's.
    ScopedEnv otherPipePath("QUELLAN_PIPE", otherPipe);
    CAction action(QString::fromLatin1(QUELLAN_PROGRAM), QString::fromStdString(mine));
    action.stopDrive();
    EXPECT_TRUE(bystander.alive());
    EXPECT_TRUE(Serves(otherPipe));
  }
}

}  // namespace
