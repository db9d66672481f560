// Upload tasks into the really mounted drive: the worker asks the drive for the folder over
// the control pipe and copies into the mount, and the service's data folder receives the file.
#include <gtest/gtest.h>

#include <filesystem>

#include "desktop/control/DrivePipeClient.h"
#include "desktop/transfers/UploadFile.h"
#include "drive/core/ControlPipeServer.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "platform/codepage/CodePage.h"
#include "tests/desktop/transfers/QtTestApp.h"
#include "tests/drive/storage/mounted/ServiceDrive.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;

namespace {

int32_t StatusOf(const UploadFile& uploads, const std::string& upId) {
  UploadFile::TaskList all = uploads.allTasks();
  auto found = all.find(upId);
  return found == all.end() ? -100 : found->second.status;
}

TEST(UploadToDrive, CopiesReachTheServiceAndPausedCopiesResume) {
  SKIP_WITHOUT_FUSE();
  EnsureQtApplication();
  TestDriveFolders folders;
  ReferenceServer server;
  server.addUser("alice", "secret");
  const fs::path mine = fs::path(server.userDir("alice")) / "我的空间";
  const std::string held = PatternBytes(1 << 20, 45);  // the service's file, not the task's
  WriteFile(mine / "held.bin", held.substr(0, 1000));
  ASSERT_TRUE(server.start());
  ServiceDrive drive(folders, 'U');
  ASSERT_TRUE(drive.start(server, "alice", "secret"));
  ControlPipeServer pipeServer(folders.drive(), folders.pipePath(), [] {});
  ASSERT_TRUE(pipeServer.start());
  DrivePipeClient pipe(folders.pipePath());
  const std::string folderId =
      codepage::WideToUtf8(folders.drive().currentMirror.load()->GetIdOfPath(u"\\我的空间"));
  ASSERT_FALSE(folderId.empty());

  // The first run holds at the folder look-up until the second add has been tried.
  std::atomic<bool> release{false};
  UploadFile uploads(QString::fromStdString(folders.programFolder()), [&](const std::string& key) {
    WaitFor([&] { return release.load(); });
    return pipe.localPathOfKey(key);
  });
  fs::path source = fs::path(folders.top()) / "twice.bin";
  const std::string data = PatternBytes(24 << 20, 41);
  WriteFile(source, data);
  const std::string twice = UploadFile::UpIdOf(folderId, "twice.bin");
  ASSERT_EQ(uploads.add(source.string(), folderId, true), 0);
  EXPECT_EQ(uploads.add(source.string(), folderId, true), -1);
  release = true;
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, twice) == kTaskCompleted; }));
  EXPECT_EQ(ReadFile(mine / "twice.bin"), data);
  EXPECT_EQ(uploads.add(source.string(), folderId, true), 0);  // the completed task again
  EXPECT_EQ(uploads.allTasks().size(), 1u);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, twice) == kTaskCompleted; }));
  EXPECT_EQ(ReadFile(mine / "twice.bin"), data);

  // Paused at its first bytes, the service keeps the part copied; a start appends the rest.
  const std::string big = PatternBytes(BigTestBytes(64 << 20), 43);
  source = fs::path(folders.top()) / "paused.bin";
  WriteFile(source, big);
  const std::string paused = UploadFile::UpIdOf(folderId, "paused.bin");
  ASSERT_EQ(uploads.add(source.string(), folderId, true), 0);
  ASSERT_TRUE(WaitFor([&] { return uploads.allTasks().at(paused).size > 0; }));
  ASSERT_EQ(uploads.pause(paused), 0);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, paused) == kTaskStopped; }));
  const int64_t kept = uploads.allTasks().at(paused).size;
  EXPECT_LT(kept, static_cast<int64_t>(big.size()));
  EXPECT_EQ(ReadFile(mine / "paused.bin"), big.substr(0, static_cast<size_t>(kept)));
  ASSERT_EQ(uploads.start(paused), 0);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, paused) == kTaskCompleted; },
                      std::chrono::seconds(120)));
  EXPECT_EQ(ReadFile(mine / "paused.bin"), big);

  // A name the service holds already is neither continued nor replaced.
  const fs::path heldSource = fs::path(folders.top()) / "held.bin";
  WriteFile(heldSource, held);
  const std::string heldId = UploadFile::UpIdOf(folderId, "held.bin");
  ASSERT_EQ(uploads.add(heldSource.string(), folderId, true), 0);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, heldId) == kTaskFailed; }));
  EXPECT_EQ(uploads.allTasks().at(heldId).failure, kFailureTargetTaken);
  EXPECT_TRUE(ReadFile(mine / "held.bin") == held.substr(0, 1000));

  // With the drive program gone the folder is unknown and the task ends in error.
  pipeServer.stop();
  drive.stop();
  ASSERT_EQ(uploads.add(source.string(), folderId, true), 0);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, paused) == kTaskFailed; }));
}

}  // namespace
