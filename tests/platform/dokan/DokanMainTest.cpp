// The driver's main call and unmount on real FUSE mounts under a temporary drive root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/dokan/Dokan.h"
#include "platform/driveroot/DriveRoot.h"
#include "platform/process/Process.h"
#include "tests/support/FuseDrives.h"
#include "tests/support/Leftovers.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

#define SKIP_WITHOUT_FUSE()                                              \
  do {                                                                   \
    if (::access("/dev/fuse", R_OK | W_OK) != 0)                         \
      GTEST_SKIP() << "no usable /dev/fuse: FUSE is not available here"; \
  } while (0)

std::atomic<int> unmountCallbacks{0};
int CountUnmount(PDOKAN_FILE_INFO) {
  ++unmountCallbacks;
  return 0;
}

// A drive whose unmount is counted.
class DriveThread : public EmptyDrive {
 public:
  explicit DriveThread(char letter) : EmptyDrive(letter, CountUnmount) {}
};

TEST(DokanMain, RefusesLettersOutsideAToZ) {
  TempDriveRoot root;
  DOKAN_OPERATIONS operations{};
  for (WCHAR letter : {u'm', u'\0', u'[', u'@', u'1', u'Ä'}) {
    DOKAN_OPTIONS options{};
    options.DriveLetter = letter;
    EXPECT_EQ(DokanMain(&options, &operations), DOKAN_DRIVE_LETTER_ERROR) << int(letter);
  }
  EXPECT_FALSE(std::filesystem::exists(root.top() + "/drives"));
  EXPECT_EQ(DokanMain(nullptr, &operations), DOKAN_ERROR);
  EXPECT_EQ(DokanUnmount(u'Q'), 0);  // nothing of ours is mounted there
}

TEST(DokanMain, AFolderThatCannotBeMadeCannotBeMounted) {
  SKIP_WITHOUT_FUSE();
  TempDriveRoot root;
  std::string file = root.top() + "/plain-file";
  ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0644));
  ::setenv("QUELLAN_DRIVE_ROOT", file.c_str(), 1);  // a file where the root folder should be
  DOKAN_OPTIONS options{};
  options.DriveLetter = u'M';
  DOKAN_OPERATIONS operations{};
  EXPECT_EQ(DokanMain(&options, &operations), DOKAN_MOUNT_ERROR);
}

TEST(DokanMain, UnmountFromAnotherThreadReturnsZeroAndCallsUnmount) {
  SKIP_WITHOUT_FUSE();
  TempDriveRoot root;
  unmountCallbacks = 0;
  auto drive = std::make_unique<DriveThread>('M');
  ASSERT_TRUE(WaitFor([&] { return root.mounted('M') || drive->finished(); }));
  ASSERT_TRUE(root.mounted('M'));
  EXPECT_TRUE(std::filesystem::is_directory(root.canonical() + "/M"));

  std::thread other([] { EXPECT_EQ(DokanUnmount(u'M'), 1); });
  other.join();
  ASSERT_TRUE(WaitFor([&] { return drive->finished(); }));
  EXPECT_EQ(drive->result(), DOKAN_SUCCESS);
  EXPECT_FALSE(root.mounted('M'));
  EXPECT_EQ(unmountCallbacks, 1);
}

TEST(DokanMain, ATakenLetterCannotBeMountedTwice) {
  SKIP_WITHOUT_FUSE();
  TempDriveRoot root;
  DriveThread first('K');
  ASSERT_TRUE(WaitFor([&] { return root.mounted('K') || first.finished(); }));
  DOKAN_OPTIONS options{};
  options.DriveLetter = u'K';
  DOKAN_OPERATIONS operations{};
  EXPECT_EQ(DokanMain(&options, &operations), DOKAN_MOUNT_ERROR);
  EXPECT_TRUE(root.mounted('K'));
}

// Runs in a child process that ends with _exit: when the last user of a lazily unmounted
// drive lets go, the kernel drops the folder's pending release and FUSE's own record of the
// open folder is never freed, which the leak checker would report against this test.
TEST(DokanMain, ABusyDriveIsTakenAwayAtOnceAndEndsWhenReleased) {
  SKIP_WITHOUT_FUSE();
  TempDriveRoot root;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 0;
    {
      auto drive = std::make_unique<DriveThread>('B');
      if (!WaitFor([&] { return root.mounted('B') || drive->finished(); })) code = 10;
      int busy = ::open((root.canonical() + "/B").c_str(), O_RDONLY | O_DIRECTORY);
      if (code == 0 && busy < 0) code = 11;
      if (code == 0 && DokanUnmount(u'B') != 1) code = 12;
      if (code == 0 && root.mounted('B')) code = 13;  // must be gone while still open
      ::close(busy);
      if (code == 0 && !WaitFor([&] { return drive->finished(); })) code = 14;
      if (code == 0 && drive->result() != DOKAN_SUCCESS) code = 15;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "step that failed: 10 mount, 11 open, 12 unmount, "
                                       "13 still in the tree, 14 did not end, 15 result";
}

TEST(LogicalDrives, ListsTheMountedLettersOfTheDriveRoot) {
  SKIP_WITHOUT_FUSE();
  TempDriveRoot root;
  WCHAR buffer[64];
  EXPECT_EQ(GetLogicalDriveStrings(64, buffer), 0u);
  EXPECT_EQ(buffer[0], u'\0');
  std::filesystem::create_directories(root.canonical() + "/D");  // a folder is not a drive

  DriveThread q('Q'), c('C');
  ASSERT_TRUE(WaitFor([&] { return root.mounted('Q') && root.mounted('C'); }));
  ASSERT_EQ(GetLogicalDriveStrings(64, buffer), 8u);
  EXPECT_EQ(std::u16string(buffer, 9), std::u16string(u"C:\\\0Q:\\\0\0", 9));
  EXPECT_EQ(GetLogicalDriveStrings(5, buffer), 9u);  // too small: the length it needs
  EXPECT_EQ(GetLogicalDriveStrings(0, nullptr), 9u);
}

}  // namespace
