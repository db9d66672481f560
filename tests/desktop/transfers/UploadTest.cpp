// Upload tasks copying into a drive folder. The drive root is a plain local folder here, so
// every target state can be laid out: "M:\up" stands for <drive root>/M/up. UploadToDriveTest
// copies into the mounted drive.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "desktop/control/DrivePipeClient.h"
#include "desktop/transfers/UploadFile.h"
#include "tests/desktop/transfers/QtTestApp.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace fs = std::filesystem;

namespace {

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    ::setenv("QUELLAN_DRIVE_ROOT", driveRoot_.path().c_str(), 1);
    fs::create_directories(targetFolder());
  }

  std::string targetFolder() const { return driveRoot_.path() + "/M/up"; }
  static std::string DriveFolderOf(const std::string& key) {
    return key == "folder1" ? "M:\\up" : std::string();
  }
  QString programFolder() const { return QString::fromStdString(programs_.path()); }

  int32_t statusOf(UploadFile& uploads, const std::string& upId) {
    auto all = uploads.allTasks();
    auto found = all.find(upId);
    return found == all.end() ? -100 : found->second.status;
  }

  TempDir driveRoot_;
  TempDir local_;
  TempDir programs_;
};

TEST_F(UploadTest, ANameTheServiceHoldsIsNeitherMixedNorAdopted) {
  const std::string data = PatternBytes(3 << 20, 31);
  struct Case {
    const char* name;
    std::string held;  // the file the service holds under the name; none when empty
  } cases[] = {{"fresh", ""},
               {"prefix", data.substr(0, 1000)},
               {"same", data},
               {"longer", data + "x"},
               {"other", std::string(data.size(), 'x')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string source = local_.file(std::string(c.name) + ".bin");
    WriteFile(source, data);
    std::string target = targetFolder() + "/" + c.name + ".bin";
    if (!c.held.empty()) WriteFile(target, c.held);
    UploadFile uploads(programFolder(), DriveFolderOf);
    ASSERT_EQ(uploads.add(source, "folder1", true), 0);
    std::string upId = UploadFile::UpIdOf("folder1", std::string(c.name) + ".bin");
    if (c.held.empty()) {
      ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskCompleted; }));
      EXPECT_TRUE(ReadFile(target) == data);
      continue;
    }
    ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskFailed; }));
    EXPECT_EQ(uploads.allTasks().at(upId).failure, kFailureTargetTaken);
    EXPECT_TRUE(ReadFile(target) == c.held);
  }
}

TEST_F(UploadTest, SameFileTwiceIsRefusedWhileItRunsAndReusedOnceComplete) {
  const std::string data = PatternBytes(16 << 20, 33);
  std::string source = local_.file("twice.bin");
  WriteFile(source, data);
  const std::string upId = UploadFile::UpIdOf("folder1", "twice.bin");
  EXPECT_EQ(upId.size(), 32u);
  {
    // The first run holds at the folder look-up until the test has tried the second add.
    std::atomic<bool> release{false};
    UploadFile uploads(programFolder(), [&](const std::string& key) {
      WaitFor([&] { return release.load(); });
      return DriveFolderOf(key);
    });
    EXPECT_EQ(uploads.add(local_.file("missing.bin"), "folder1", true), -2);
    ASSERT_EQ(uploads.add(local_.path() + "\\twice.bin", "folder1", true), 0);
    EXPECT_EQ(uploads.add(source, "folder1", true), -1);
    EXPECT_EQ(uploads.start(upId), -2);
    release = true;
    ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskCompleted; }));
    EXPECT_EQ(uploads.pause(upId), 0);  // nothing left to pause: it stays completed
    EXPECT_EQ(statusOf(uploads, upId), kTaskCompleted);
    EXPECT_EQ(uploads.start(upId), -3);
    EXPECT_EQ(uploads.add(source, "folder1", true), 0);  // the completed task again
    EXPECT_EQ(uploads.allTasks().size(), 1u);
    ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskCompleted; }));
    EXPECT_EQ(ReadFile(targetFolder() + "/twice.bin"), data);
  }
  // The list survives a restart; the task counts as completed. A line written before the
  // target copy was recorded still loads. A failed task stays failed, even with all its bytes
  // written; a failure code the program does not know rejects its line.
  std::ofstream(programs_.file(".tasklist.u"), std::ios::app | std::ios::binary)
      << R"({"CompletedTime":"0","CreateTime":"1","FileName":"old.bin","FilePath":"/old.bin","FullSize":"5","PId":"folder1","Size":"1","Status":0,"Time":0,"UpId":"old"})"
         "\r\n"
      << R"({"CompletedTime":"0","CreateTime":"1","Failure":6,"FileName":"f.bin","FilePath":"/f.bin","FullSize":"5","PId":"folder1","Size":"5","Status":0,"Time":0,"UpId":"failed"})"
         "\r\n"
      << R"({"CompletedTime":"0","CreateTime":"1","Failure":99,"FileName":"u.bin","FilePath":"/u.bin","FullSize":"5","PId":"folder1","Size":"1","Status":0,"Time":0,"UpId":"unknown"})"
         "\r\n";
  UploadFile restarted(programFolder(), DriveFolderOf);
  ASSERT_EQ(restarted.load(), 3);
  EXPECT_EQ(restarted.allTasks().at("old").remoteSize, -1);
  EXPECT_EQ(restarted.allTasks().at("failed").status, kTaskFailed);
  EXPECT_EQ(restarted.allTasks().at("failed").failure, kFailureDriveFull);
  EXPECT_EQ(restarted.completedTasks().at(upId).fullSize, static_cast<int64_t>(data.size()));
  EXPECT_EQ(restarted.completedTasks().at(upId).status, kTaskCompleted);
  ASSERT_EQ(restarted.remove(upId, true), 0);
  EXPECT_EQ(restarted.allTasks().size(), 2u);
  EXPECT_EQ(restarted.remove(upId, true), -1);
  restarted.timer();
  UploadFile afterRemoval(programFolder(), DriveFolderOf);
  EXPECT_EQ(afterRemoval.load(), 2);
}

TEST_F(UploadTest, PauseLeavesAPartialTargetAndStartAppends) {
  const std::string data = PatternBytes(BigTestBytes(128 << 20), 35);
  UploadFile uploads(programFolder(), DriveFolderOf);
  std::string source, target, upId;
  // Pause at the first bytes, while the copy runs. On a loaded machine the whole copy may
  // finish before the pause reaches it (it then stays completed); that try is made again
  // under another name.
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::string name = "paused" + std::to_string(attempt) + ".bin";
    source = local_.file(name);
    WriteFile(source, data);
    target = targetFolder() + "/" + name;
    upId = UploadFile::UpIdOf("folder1", name);
    ASSERT_EQ(uploads.add(source, "folder1", true), 0);
    std::error_code error;
    while (fs::file_size(target, error) == 0 || error) {
    }
    ASSERT_EQ(uploads.pause(upId), 0);
    ASSERT_TRUE(WaitFor([&] {
      int32_t status = statusOf(uploads, upId);
      return status == kTaskStopped || status == kTaskCompleted;
    }));
    if (statusOf(uploads, upId) == kTaskStopped) break;
    EXPECT_TRUE(ReadFile(target) == data);
  }
  ASSERT_EQ(statusOf(uploads, upId), kTaskStopped);
  const uintmax_t kept = fs::file_size(target);
  EXPECT_LT(kept, data.size());
  EXPECT_TRUE(ReadFile(target) == data.substr(0, kept));

  // Someone else changes the partial copy: it is not continued, nor overwritten.
  const fs::file_time_type left = fs::last_write_time(target);
  WriteFile(target, data.substr(0, kept) + "x");
  fs::last_write_time(target, left + std::chrono::seconds(5));
  ASSERT_EQ(uploads.start(upId), 0);
  ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskFailed; }));
  EXPECT_EQ(uploads.allTasks().at(upId).failure, kFailureTargetChanged);
  EXPECT_TRUE(ReadFile(target) == data.substr(0, kept) + "x");

  // As the task left it, the copy is continued.
  WriteFile(target, data.substr(0, kept));
  fs::last_write_time(target, left);
  ASSERT_EQ(uploads.start(upId), 0);
  ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskCompleted; }));
  EXPECT_TRUE(ReadFile(target) == data);
}

TEST_F(UploadTest, WithoutTheDriveTheTaskEndsInError) {
  std::string source = local_.file("nodrive.bin");
  WriteFile(source, "abc");
  const std::string upId = UploadFile::UpIdOf("folder1", "nodrive.bin");
  // The drive's folders come over a control pipe that nobody serves; a drive that could not
  // log in answers an error code instead of a folder.
  DrivePipeClient pipe(local_.file("no-pipe"));
  std::vector<UploadFile::LocalPathOfKey> drives = {
      [&](const std::string& key) { return pipe.localPathOfKey(key); },
      [](const std::string&) { return std::string("-2"); }};
  for (const auto& drive : drives) {
    UploadFile uploads(programFolder(), drive);
    ASSERT_EQ(uploads.add(source, "folder1", true), 0);
    ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskFailed; }));
    EXPECT_EQ(uploads.allTasks().at(upId).failure, kFailureNoDrive);
    EXPECT_EQ(uploads.start(upId), 0);  // may be tried again
    ASSERT_TRUE(WaitFor([&] { return statusOf(uploads, upId) == kTaskFailed; }));
  }
}

}  // namespace
