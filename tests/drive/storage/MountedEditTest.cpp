// Working inside files on a real mount backed by the reference service: edits in place (random
// writes, reads on the same and on another handle, ftruncate, append, fsync) end with the
// service holding exactly what the same steps give on a local disk, and the service's old
// content stays whole until the close; unlink and rename of a file open for editing; a
// refused upload fails the close, keeps the service's content and the edit, which the next
// start uploads; a copy that does not fit the disk cache fails the open; and a drive program
// killed during an edit leaves the old content, its next start uploads the edit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "drive/core/DriveProcess.h"
#include "drive/replies/TextDigest.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/storage/mounted/MountedServiceTest.h"
#include "tests/drive/storage/mounted/ProgramRun.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/ScopedEnv.h"

namespace fs = std::filesystem;

namespace {

// One step of an edit, run on a descriptor of the drive's file and of a local file alike.
using EditStep = std::function<void(int fd)>;

void WriteAt(int fd, const std::string& bytes, off_t offset) {
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
}

std::string ReadAt(int fd, size_t size, off_t offset) {
  std::string bytes(size, '\0');
  ssize_t got = ::pread(fd, bytes.data(), size, offset);
  bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
  return bytes;
}

// Runs `steps` on `path` opened with `flags`; the descriptor's reads are checked by the steps.
void Edit(const fs::path& path, int flags, const std::vector<EditStep>& steps) {
  int fd = ::open(path.c_str(), flags, 0644);
  ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
  for (const EditStep& step : steps) step(fd);
  EXPECT_EQ(::close(fd), 0) << path << ": " << std::strerror(errno);
}

std::string LogText(TestDriveFolders& folders) {
  return ReadFile(folders.programFolder() + "mirror.log");
}

size_t FilesIn(const fs::path& folder) {
  std::error_code error;
  size_t count = 0;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    ++count;
  return count;
}

}  // namespace

class MountedEditTest : public MountedServiceTest {
 protected:
  MountedEditTest() : MountedServiceTest('E') {}

  void SetUp() override {
    MountedServiceTest::SetUp();
    if (!reason_.empty()) return;
    local_ = fs::path(folders_.top()) / "local";
    fs::create_directories(local_);
  }

  fs::path writeCache() { return fs::path(folders_.programFolder()) / "writecache"; }

  fs::path local_;
};

TEST_F(MountedEditTest, EditsInPlaceEndAsOnALocalDisk) {
  SKIP_WITHOUT_FUSE_HERE();
  const std::string original = PatternBytes(1 << 20, 5);
  WriteFile(mine_ / "doc.bin", original);
  WriteFile(local_ / "doc.bin", original);
  mountDrive();

  // Random writes (one past the end), reads on the same handle and on another, the size seen
  // at once, fsync, then shrink and extend; the service's content stays whole until the close.
  auto editSteps = [&](const fs::path& path, bool onDrive) {
    std::vector<EditStep> steps = {
        [](int fd) { WriteAt(fd, PatternBytes(5000, 1), 4096); },
        [](int fd) { WriteAt(fd, PatternBytes(300, 2), (1 << 20) + 100); },
        [](int fd) { EXPECT_EQ(ReadAt(fd, 5000, 4096), PatternBytes(5000, 1)); },
        [path](int) {
          EXPECT_EQ(fs::file_size(path), (1u << 20) + 400);
          int other = ::open(path.c_str(), O_RDONLY);
          ASSERT_GE(other, 0);
          EXPECT_EQ(ReadAt(other, 300, (1 << 20) + 100), PatternBytes(300, 2));
          EXPECT_EQ(ReadAt(other, 100, 1 << 20), std::string(100, '\0'));
          ::close(other);
        },
        [](int fd) { EXPECT_EQ(::fsync(fd), 0); },
        [](int fd) { EXPECT_EQ(::ftruncate(fd, 700000), 0); },
        [](int fd) { EXPECT_EQ(::ftruncate(fd, 800000), 0); },
        [](int fd) { WriteAt(fd, "tail", 799996); },
    };
    if (onDrive) {
      steps.push_back([&](int) { EXPECT_TRUE(ReadFile(mine_ / "doc.bin") == original); });
    }
    return steps;
  };
  Edit(drive_ / "doc.bin", O_RDWR, editSteps(drive_ / "doc.bin", true));
  Edit(local_ / "doc.bin", O_RDWR, editSteps(local_ / "doc.bin", false));
  // Appending, and a new file made read-write, as programs keep journals and databases.
  for (const fs::path& folder : {drive_, local_}) {
    SCOPED_TRACE(folder);
    Edit(folder / "doc.bin", O_WRONLY | O_APPEND,
         {[](int fd) { ASSERT_EQ(::write(fd, "appended", 8), 8); }});
    Edit(folder / "new.db", O_RDWR | O_CREAT | O_EXCL, {[](int fd) {
           WriteAt(fd, PatternBytes(70000, 3), 0);
           WriteAt(fd, "head", 0);
           EXPECT_EQ(ReadAt(fd, 4, 0), "head");
         }});
  }
  for (const char* name : {"doc.bin", "new.db"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(ReadFile(mine_ / name) == ReadFile(local_ / name));
    EXPECT_TRUE(ReadFile(drive_ / name) == ReadFile(local_ / name));
    EXPECT_EQ(fs::file_size(drive_ / name), fs::file_size(local_ / name));
  }

  // A file unlinked while open for editing leaves at once and never reaches the service; one
  // renamed while open goes up under its new name.
  int scratch = ::open((drive_ / "scratch.tmp").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(scratch, 0);
  WriteAt(scratch, "scratch", 0);
  EXPECT_EQ(::unlink((drive_ / "scratch.tmp").c_str()), 0);
  EXPECT_FALSE(fs::exists(drive_ / "scratch.tmp"));
  EXPECT_EQ(ReadAt(scratch, 7, 0), "scratch");
  EXPECT_EQ(::close(scratch), 0);
  int moved = ::open((drive_ / "doc.bin").c_str(), O_RDWR);
  ASSERT_GE(moved, 0);
  WriteAt(moved, "moved", 0);
  EXPECT_EQ(::rename((drive_ / "doc.bin").c_str(), (drive_ / "renamed.bin").c_str()), 0);
  EXPECT_EQ(::close(moved), 0);
  std::string expected = ReadFile(local_ / "doc.bin").replace(0, 5, "moved");
  EXPECT_FALSE(fs::exists(mine_ / "scratch.tmp"));
  EXPECT_FALSE(fs::exists(mine_ / "doc.bin"));
  EXPECT_TRUE(ReadFile(mine_ / "renamed.bin") == expected);
  EXPECT_TRUE(ReadFile(drive_ / "renamed.bin") == expected);
  // A lock file made read-write and closed empty (it goes up at the release that follows the
  // close) can be removed again at once; the service follows when its upload has ended.
  Edit(drive_ / "index.lock", O_RDWR | O_CREAT | O_EXCL, {});
  EXPECT_TRUE(WaitFor([&] { return fs::exists(mine_ / "index.lock"); }));
  EXPECT_EQ(::unlink((drive_ / "index.lock").c_str()), 0);
  EXPECT_FALSE(fs::exists(drive_ / "index.lock"));
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(mine_ / "index.lock"); }));
  // Every copy is gone once its file is released (which follows the close).
  EXPECT_TRUE(WaitFor([&] { return FilesIn(writeCache()) == 0; }));
}

// A refused upload fails the close and changes nothing at the service; the edit stays in the
// write cache and goes up at the next start. An edit whose copy does not fit the disk cache
// limit cannot open.
TEST_F(MountedEditTest, RefusedUploadKeepsTheEditForTheNextStart) {
  SKIP_WITHOUT_FUSE_HERE();
  const std::string original = PatternBytes(2 << 20, 6);
  WriteFile(mine_ / "big.bin", original);
  WriteFile(mine_ / "notes.txt", "first line\n");
  mount_.moreSettings = "MaxDiskCache=1\n";
  mountDrive();

  int tooBig = ::open((drive_ / "big.bin").c_str(), O_RDWR);
  EXPECT_EQ(tooBig, -1);
  EXPECT_EQ(errno, ENOSPC);
  if (tooBig >= 0) ::close(tooBig);

  struct Refusal {
    std::string fault;
    int error;
  };
  for (const Refusal& refusal : std::vector<Refusal>{{"fault-error tw_close=quota", ENOSPC},
                                                     {"fault-error tw_close=disk", EIO}}) {
    SCOPED_TRACE(refusal.fault);
    server_.setFaults({refusal.fault});
    int fd = ::open((drive_ / "notes.txt").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "edit\n", 5), 5);
    EXPECT_EQ(::close(fd), -1);
    EXPECT_EQ(errno, refusal.error);
    EXPECT_EQ(ReadFile(mine_ / "notes.txt"), "first line\n");
    // The drive shows the service's content again.
    EXPECT_TRUE(WaitFor([&] { return ReadFile(drive_ / "notes.txt") == "first line\n"; }));
  }
  server_.setFaults({});
  // Two kept copies, each a data file with its record, also once released.
  EXPECT_EQ(FilesIn(writeCache()), 4u);
  mount_.stop();
  EXPECT_EQ(FilesIn(writeCache()), 4u);

  ASSERT_TRUE(mount_.start(server_, "alice", "secret"));
  // The first kept edit goes over the file; the second was made from the same version, which
  // the first replaced, so it goes beside it.
  EXPECT_EQ(ReadFile(mine_ / "notes.txt"), "first line\nedit\n");
  EXPECT_EQ(ReadFile(mine_ / "notes (edit kept).txt"), "first line\nedit\n");
  EXPECT_EQ(ReadFile(drive_ / "notes (edit kept).txt"), "first line\nedit\n");
  EXPECT_EQ(CountOf(LogText(folders_), "uploaded the copy left by an earlier run"), 2u);
  EXPECT_EQ(CountOf(LogText(folders_), "holds a newer version"), 1u);
  EXPECT_EQ(FilesIn(writeCache()), 0u);
}

// The drive program killed with SIGKILL after an fsync in the middle of an edit: the service
// keeps the old content, and the next start uploads the edit and says so in its log.
TEST_F(MountedEditTest, EditOfAKilledProgramGoesUpAtItsNextStart) {
  SKIP_WITHOUT_FUSE_HERE();
  WriteFile(mine_ / "db.bin", PatternBytes(300000, 7));
  ASSERT_TRUE(server_.start());
  ScopedEnv webPort("QUELLAN_WEB_PORT", std::to_string(server_.webPort()));
  std::ofstream(folders_.programFolder() + "tarvex.ini")
      << "[Set]\nDebug=3\nDriveLetter=K\nServerAddress=127.0.0.1\nRun=1\n[User]\nUserName=alice"
      << "\nPassWord=" << codepage::WideToUtf8(text_digest::Md5Text(u"secret")) << "\n";
  fs::path file = fs::path(folders_.mountPoint('K')) / "我的空间" / "db.bin";
  std::string edited = PatternBytes(300000, 7).replace(1000, 6, "edited");
  {
    ProgramRun program(QUELLAN_PROGRAM, folders_.programFolder(), folders_.pipePath());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(file); }, std::chrono::seconds(30)));
    int fd = ::open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    WriteAt(fd, "edited", 1000);
    EXPECT_EQ(::fsync(fd), 0);
    program.kill();
    ::close(fd);
  }
  EXPECT_TRUE(ReadFile(mine_ / "db.bin") == PatternBytes(300000, 7));

  ProgramRun again(QUELLAN_PROGRAM, folders_.programFolder(), folders_.pipePath());
  EXPECT_TRUE(
      WaitFor([&] { return ReadFile(mine_ / "db.bin") == edited; }, std::chrono::seconds(30)));
  EXPECT_TRUE(WaitFor([&] { return ReadFile(file) == edited; }, std::chrono::seconds(30)));
  EXPECT_EQ(CountOf(LogText(folders_), "uploaded the copy left by an earlier run"), 1u);
  EXPECT_EQ(FilesIn(writeCache()), 0u);
}
