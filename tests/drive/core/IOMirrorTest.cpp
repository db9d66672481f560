#include <gtest/gtest.h>

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"

namespace {

TEST(IOMirrorTest, BaseBehaviourRefusesFileSystemCallsButUnmount) {
  IOMirror mirror;
  DOKAN_FILE_INFO info{};
  DWORD count = 0;
  char buffer[4];
  BY_HANDLE_FILE_INFORMATION fileInfo{};
  ULONGLONG a = 0, b = 0, c = 0;
  EXPECT_EQ(mirror.CreateFile(u"\\a", GENERIC_READ, 0, OPEN_EXISTING, 0, &info), -1);
  EXPECT_EQ(mirror.OpenDirectory(u"\\", &info), -1);
  EXPECT_EQ(mirror.CreateDirectory(u"\\d", &info), -1);
  EXPECT_EQ(mirror.CloseFile(u"\\a", &info), -1);
  EXPECT_EQ(mirror.Cleanup(u"\\a", &info), -1);
  EXPECT_EQ(mirror.ReadFile(u"\\a", buffer, 4, &count, 0, &info), -1);
  EXPECT_EQ(mirror.WriteFile(u"\\a", buffer, 4, &count, 0, &info), -1);
  EXPECT_EQ(mirror.FlushFileBuffers(u"\\a", &info), -1);
  EXPECT_EQ(mirror.GetFileInformation(u"\\a", &fileInfo, &info), -1);
  EXPECT_EQ(mirror.FindFiles(u"\\", nullptr, &info), -1);
  EXPECT_EQ(mirror.DeleteFile(u"\\a", &info), -1);
  EXPECT_EQ(mirror.DeleteDirectory(u"\\d", &info), -1);
  EXPECT_EQ(mirror.MoveFile(u"\\a", u"\\b", 0, &info), -1);
  EXPECT_EQ(mirror.LockFile(u"\\a", 0, 1, &info), -1);
  EXPECT_EQ(mirror.SetEndOfFile(u"\\a", 0, &info), -1);
  EXPECT_EQ(mirror.SetAllocationSize(u"\\a", 0, &info), -1);
  EXPECT_EQ(mirror.SetFileAttributes(u"\\a", 0, &info), -1);
  EXPECT_EQ(mirror.SetFileTime(u"\\a", nullptr, nullptr, nullptr, &info), -1);
  EXPECT_EQ(mirror.UnlockFile(u"\\a", 0, 1, &info), -1);
  EXPECT_EQ(mirror.GetVolumeInformation(nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0, &info),
            -1);
  EXPECT_EQ(mirror.GetDiskFreeSpace(&a, &b, &c, &info), -1);
  EXPECT_EQ(mirror.Unmount(&info), 0);
}

TEST(IOMirrorTest, BaseLookupsAreEmptyAndLoginSucceeds) {
  IOMirror mirror;
  NodeRecord record;
  record.name = u"untouched";
  EXPECT_EQ(mirror.GetDrivePath(u"1"), u"");
  EXPECT_EQ(mirror.GetPath(u"1"), u"");
  EXPECT_EQ(mirror.GetIdOfPath(u"\\a"), u"");
  EXPECT_EQ(mirror.GetEntry(u"1", &record), 0);
  EXPECT_EQ(record.name, u"untouched");
  EXPECT_TRUE(mirror.GetChildren(u"1").empty());
  DriveProcess drive;
  EXPECT_EQ(mirror.Login(drive), 0);
  EXPECT_EQ(drive.driveState(), 5);
}

class FixedLogin : public IOMirror {
 public:
  FixedLogin(int result, const DriveProcess& drive) : result_(result), drive_(drive) {}

 protected:
  int DoLogin() override {
    seenDuringLogin = drive_.driveState();
    return result_;
  }

 public:
  int seenDuringLogin = 0;

 private:
  int result_;
  const DriveProcess& drive_;
};

TEST(IOMirrorTest, LoginResultsMapOntoDriveState) {
  const std::pair<int, int32_t> cases[] = {{0, 5},   {3, 5},   {-1, 10}, {-2, 11}, {-3, 11},
                                           {-4, 12}, {-5, 12}, {-6, 12}, {-7, -1}, {-100, -1}};
  DriveProcess drive;
  for (auto [result, state] : cases) {
    FixedLogin mirror(result, drive);
    EXPECT_EQ(mirror.Login(drive), result);
    EXPECT_EQ(mirror.seenDuringLogin, 4);
    EXPECT_EQ(drive.driveState(), state) << "login result " << result;
  }
}

}  // namespace
