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

// The reference service with user alice, the drive mounted over it and the control pipe
// the upload workers ask for the drive's folders.
class UploadToDrive : public ::testing::Test {
 protected:
  void mount() {
    server.addUser("alice", "secret");
    ASSERT_TRUE(server.start());
    drive = std::make_unique<ServiceDrive>(folders, 'U');
    ASSERT_TRUE(drive->start(server, "alice", "secret"));
    pipeServer = std::make_unique<ControlPipeServer>(folders.drive(), folders.pipePath(), [] {});
    ASSERT_TRUE(pipeServer->start());
    folderId =
        codepage::WideToUtf8(folders.drive().currentMirror.load()->GetIdOfPath(u"\\我的空间"));
    ASSERT_FALSE(folderId.empty());
  }

  fs::path mine() const { return fs::path(server.userDir("alice")) / "我的空间"; }
  QString programFolder() const { return QString::fromStdString(folders.programFolder()); }

  TestDriveFolders folders;
  ReferenceServer server;
  std::unique_ptr<ServiceDrive> drive;
  std::unique_ptr<ControlPipeServer> pipeServer;
  DrivePipeClient pipe{folders.pipePath()};
  std::string folderId;
};

TEST_F(UploadToDrive, CopiesReachTheServiceAndPausedCopiesResume) {
  SKIP_WITHOUT_FUSE();
  EnsureQtApplication();
  const std::string held = PatternBytes(1 << 20, 45);  // the service's file, not the task's
  WriteFile(mine() / "held.bin", held.substr(0, 1000));
  mount();
  if (HasFatalFailure()) return;

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
  EXPECT_EQ(ReadFile(mine() / "twice.bin"), data);
  EXPECT_EQ(uploads.add(source.string(), folderId, true), 0);  // the completed task again
  EXPECT_EQ(uploads.allTasks().size(), 1u);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, twice) == kTaskCompleted; }));
  EXPECT_EQ(ReadFile(mine() / "twice.bin"), data);

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
  EXPECT_EQ(ReadFile(mine() / "paused.bin"), big.substr(0, static_cast<size_t>(kept)));
  ASSERT_EQ(uploads.start(paused), 0);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, paused) == kTaskCompleted; },
                      std::chrono::seconds(120)));
  EXPECT_EQ(ReadFile(mine() / "paused.bin"), big);

  // A name the service holds already is neither continued nor replaced.
  const fs::path heldSource = fs::path(folders.top()) / "held.bin";
  WriteFile(heldSource, held);
  const std::string heldId = UploadFile::UpIdOf(folderId, "held.bin");
  ASSERT_EQ(uploads.add(heldSource.string(), folderId, true), 0);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, heldId) == kTaskFailed; }));
  EXPECT_EQ(uploads.allTasks().at(heldId).failure, kFailureTargetTaken);
  EXPECT_TRUE(ReadFile(mine() / "held.bin") == held.substr(0, 1000));

  // With the drive program gone the folder is unknown and the task ends in error.
  pipeServer->stop();
  drive->stop();
  ASSERT_EQ(uploads.add(source.string(), folderId, true), 0);
  ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, paused) == kTaskFailed; }));
  EXPECT_EQ(uploads.allTasks().at(paused).failure, kFailureNoDrive);
}

// The service refuses the upload at its close, or every write for lack of space: the task
// ends failed with its reason, the service holds nothing, the list keeps the task failed, and
// once the service takes uploads again a restart completes it.
TEST_F(UploadToDrive, RefusedUploadsEndFailedAndARestartCompletesThem) {
  SKIP_WITHOUT_FUSE();
  EnsureQtApplication();
  mount();
  if (HasFatalFailure()) return;
  struct Case {
    const char* name;
    const char* fault;
    int32_t failure;
  } cases[] = {{"refused.bin", "fault-error tw_close=quota", kFailureNotSaved},
               {"full.bin", "fault-error tw_write=quota", kFailureDriveFull}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UploadFile uploads(programFolder(),
                       [&](const std::string& key) { return pipe.localPathOfKey(key); });
    const std::string data = PatternBytes(3 << 20, 47);
    const fs::path source = fs::path(folders.top()) / c.name;
    WriteFile(source, data);
    const std::string upId = UploadFile::UpIdOf(folderId, c.name);
    server.setFaults({c.fault});
    ASSERT_EQ(uploads.add(source.string(), folderId, true), 0);
    ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, upId) == kTaskFailed; }));
    TaskFields failed = uploads.allTasks().at(upId);
    EXPECT_EQ(failed.failure, c.failure);
    EXPECT_EQ(failed.size, 0);  // what the service holds of it
    EXPECT_TRUE(uploads.completedTasks().empty());
    EXPECT_FALSE(fs::exists(mine() / c.name));
    EXPECT_FALSE(fs::exists(drive->root() / "我的空间" / c.name));  // nor does the drive show it

    uploads.save();
    UploadFile restarted(programFolder(), [](const std::string&) { return std::string(); });
    restarted.load();
    EXPECT_EQ(StatusOf(restarted, upId), kTaskFailed);
    EXPECT_EQ(restarted.allTasks().at(upId).failure, c.failure);

    server.setFaults({});
    ASSERT_EQ(uploads.start(upId), 0);
    ASSERT_TRUE(WaitFor([&] { return StatusOf(uploads, upId) == kTaskCompleted; }))
        << "status " << StatusOf(uploads, upId) << ", failure "
        << uploads.allTasks().at(upId).failure;
    EXPECT_TRUE(ReadFile(mine() / c.name) == data);
  }
}

}  // namespace
