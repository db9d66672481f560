// Changing the drive through a real mount backed by the reference service: copies into a
// writable folder land byte-identical in the service's data folder and show at once; writes
// at offsets and a tree read during an upload; refused creates and names send nothing; mkdir,
// rename, move, replace, rm and rm -r leave the service and the drive in agreement while the
// protected folders stay; refusals and a dropped upload connection leave things as they were;
// failed writes and appends say why; a read after a change gives exactly the new content.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/ReadLinkCache.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/storage/mounted/MountedServiceTest.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Relative path → "d" or "f <size>"; empty files left out, as the drive does not show them.
std::map<std::string, std::string> TreeOf(const fs::path& top) {
  std::map<std::string, std::string> seen;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    bool folder = entry.is_directory();
    if (!folder && entry.file_size() == 0) continue;
    seen[fs::relative(entry.path(), top).string()] =
        folder ? "d" : "f " + std::to_string(entry.file_size());
  }
  return seen;
}

int RenameNoReplace(const fs::path& from, const fs::path& to) {
  return static_cast<int>(
      syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
}

// Opens the file for writing (new, or truncated), writes `pieces` pieces of 128 KiB from
// `offset` on and closes it, calling `meanwhile` after the open: 0, or the errno of the first
// call that failed. Writes are pipelined, so a refusal may surface only at the close.
int WriteError(const fs::path& path, int64_t offset, int pieces,
               const std::function<void()>& meanwhile) {
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) return errno;
  meanwhile();
  std::string piece(128 << 10, 'w');
  int error = 0;
  for (int i = 0; i < pieces && error == 0; ++i) {
    off_t at = static_cast<off_t>(offset + static_cast<int64_t>(i) * piece.size());
    if (::pwrite(fd, piece.data(), piece.size(), at) < 0) error = errno;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

// The bytes read from the start of the file up to its end or to the first failed read.
std::string ReadUntilError(const fs::path& path) {
  std::string bytes;
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return bytes;
  char buffer[65536];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return bytes;
}

// Size of the large upload: 200 MiB unless QUELLAN_TEST_UPLOAD_MIB says otherwise (0: none).
uint64_t LargeUploadBytes() {
  const char* mib = std::getenv("QUELLAN_TEST_UPLOAD_MIB");
  return (mib ? std::strtoull(mib, nullptr, 10) : 200ULL) << 20;
}

}  // namespace

class MountedWriteTest : public MountedServiceTest {
 protected:
  MountedWriteTest() : MountedServiceTest('W') {}

  void mountDrive() {
    MountedServiceTest::mountDrive();
    root_ = mount_.root();
  }

  std::string fileList() { return ReadFile(folders_.programFolder() + ".filelist"); }
  std::string serverLog() { return ReadFile(server_.logPath()); }
  size_t sent(const std::string& action) { return CountOf(serverLog(), "action=" + action + "&"); }

  // Asks for a tree read and waits until it is done.
  void readTreeAgain() {
    std::string log = folders_.programFolder() + "mirror.log";
    size_t before = CountOf(ReadFile(log), "初始化完成");
    folders_.drive().refreshRequest = 1;
    ASSERT_TRUE(WaitFor([&] { return CountOf(ReadFile(log), "初始化完成") > before; }));
  }

  int run(const std::string& command, std::string* output = nullptr) {
    return RunCommand("cd " + Quoted(drive_) + " && " + command, output);
  }

  fs::path root_;
};

TEST_F(MountedWriteTest, CopiesLandByteIdenticalAndShowAtOnce) {
  SKIP_WITHOUT_FUSE_HERE();
  mountDrive();
  std::vector<uint64_t> sizes = {0, 1, 64 << 10, 10 << 20};
  if (LargeUploadBytes() > 0) sizes.push_back(LargeUploadBytes());
  for (uint64_t size : sizes) {
    std::string name = "up " + std::to_string(size) + ".bin";
    SCOPED_TRACE(name);
    fs::path source = fs::path(folders_.top()) / "source.bin";
    WriteFile(source, PatternBytes(size, static_cast<uint32_t>(size + 7)));
    std::string output;
    ASSERT_EQ(RunCommand("cp " + Quoted(source) + " " + Quoted(drive_ / name), &output), 0)
        << output;
    // A file closed without writes is finished at release, which follows the close.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(mine_ / name); }));
    EXPECT_EQ(RunCommand("cmp " + Quoted(source) + " " + Quoted(mine_ / name), &output), 0)
        << output;
    if (size == 0) {
      // The service holds an empty file, which its listings leave out: the drive shows it, empty,
      // until the next tree read.
      EXPECT_EQ(fs::file_size(drive_ / name), 0u);
      EXPECT_EQ(ReadFile(drive_ / name), "");
      readTreeAgain();
      EXPECT_TRUE(WaitFor([&] { return fileList().find("|" + name + "|") == std::string::npos; }));
      EXPECT_TRUE(WaitFor([&] { return !fs::exists(drive_ / name); }));
    } else {
      EXPECT_EQ(fs::file_size(drive_ / name), size);
      EXPECT_NE(fileList().find("|" + name + "|"), std::string::npos);
      EXPECT_NE(fileList().find("|\\我的空间\\|1|" + std::to_string(size) + "\r\n"),
                std::string::npos);
    }
    fs::remove(source);
  }

  // Listed with size 0 right after the create; 100 bytes at 0 and 50 at 200 make 250; a tree
  // read during the upload keeps the node; the close stores 250 bytes with a zero gap.
  int fd = ::open((drive_ / "gaps.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fileList().find("|gaps.bin|"), std::string::npos);
  EXPECT_NE(fileList().find("\\我的空间\\|1|0\r\n"), std::string::npos);
  std::string first = PatternBytes(100, 1), second = PatternBytes(50, 2);
  EXPECT_EQ(::pwrite(fd, first.data(), first.size(), 0), 100);
  EXPECT_EQ(::pwrite(fd, second.data(), second.size(), 200), 50);
  EXPECT_EQ(fs::file_size(drive_ / "gaps.bin"), 250u);
  readTreeAgain();
  EXPECT_EQ(fs::file_size(drive_ / "gaps.bin"), 250u);
  // The tree read logs its end before it saves ".filelist".
  EXPECT_TRUE(
      WaitFor([&] { return fileList().find("\\我的空间\\|1|250\r\n") != std::string::npos; }));
  EXPECT_EQ(::close(fd), 0);
  EXPECT_EQ(ReadFile(mine_ / "gaps.bin"), first + std::string(100, '\0') + second);
  readTreeAgain();
  EXPECT_EQ(fs::file_size(drive_ / "gaps.bin"), 250u);

  // Overwriting uploads under the service's id and shows one entry.
  WriteFile(fs::path(folders_.top()) / "new.bin", PatternBytes(5000, 9));
  ASSERT_EQ(RunCommand("cp " + Quoted(fs::path(folders_.top()) / "new.bin") + " " +
                       Quoted(drive_ / "gaps.bin")),
            0);
  EXPECT_EQ(ReadFile(mine_ / "gaps.bin"), PatternBytes(5000, 9));
  EXPECT_EQ(fs::file_size(drive_ / "gaps.bin"), 5000u);
  EXPECT_EQ(CountOf(fileList(), "|gaps.bin|"), 1u);
  readTreeAgain();
  EXPECT_EQ(CountOf(fileList(), "|gaps.bin|"), 1u);

  // What shells and copies of folders do: a redirection closes one descriptor before the
  // writes and one after them; touch sets the times; cp -r makes the folders first.
  fs::path tree = fs::path(folders_.top()) / "tree";
  WriteFile(tree / "one.txt", "one");
  WriteFile(tree / "sub" / "two.txt", "two!");
  std::string output;
  EXPECT_EQ(
      run("echo hello > said.txt && touch touched.txt && cp -r " + Quoted(tree) + " .", &output), 0)
      << output;
  EXPECT_EQ(ReadFile(mine_ / "said.txt"), "hello\n");
  // Appending uploads the file again, starting with what the service holds: a small file and
  // one of many read pieces.
  const std::string bigName = "up " + std::to_string(10 << 20) + ".bin";
  EXPECT_EQ(run("echo more >> said.txt && echo tail >> " + Quoted(bigName), &output), 0) << output;
  EXPECT_EQ(ReadFile(mine_ / "said.txt"), "hello\nmore\n");
  EXPECT_EQ(ReadFile(mine_ / bigName), PatternBytes(10 << 20, (10 << 20) + 7) + "tail\n");
  EXPECT_EQ(fs::file_size(drive_ / bigName), (10u << 20) + 5);
  EXPECT_EQ(CountOf(fileList(), "|" + bigName + "|"), 1u);
  EXPECT_TRUE(WaitFor([&] { return fs::exists(mine_ / "touched.txt"); }));
  EXPECT_EQ(TreeOf(mine_ / "tree"), TreeOf(tree));
  EXPECT_EQ(TreeOf(drive_ / "tree"), TreeOf(tree));
}

TEST_F(MountedWriteTest, RefusedCreatesAndNamesSendNothing) {
  SKIP_WITHOUT_FUSE_HERE();
  fs::create_directories(mine_ / "f");
  WriteFile(mine_ / "f" / "x.txt", "x");
  WriteFile(fs::path(server_.userDir("alice")) / "下载空间" / "kept.txt", "kept");
  mountDrive();
  // Appending outside the writable folders is refused at the open, as on a read-only disk.
  EXPECT_EQ(::open((root_ / "下载空间" / "kept.txt").c_str(), O_WRONLY | O_APPEND), -1);
  EXPECT_EQ(errno, EROFS);
  struct Case {
    fs::path path;
    int error;
  };
  for (const Case& c : std::vector<Case>{{root_ / "下载空间" / "new.txt", EROFS},
                                         {drive_ / "a:b.txt", EIO},
                                         {drive_ / "a*b.txt", EIO},
                                         {drive_ / "a\\b.txt", EINVAL}}) {
    SCOPED_TRACE(c.path);
    size_t before = sent("writedist");
    EXPECT_EQ(::open(c.path.c_str(), O_CREAT | O_WRONLY, 0644), -1);
    EXPECT_EQ(errno, c.error);
    EXPECT_EQ(sent("writedist"), before);
    if (c.error != EROFS) {
      EXPECT_EQ(::mkdir(c.path.c_str(), 0755), -1);
    }
  }
  for (const char* name : {"a|b", "a:b", "a\"b"}) {
    EXPECT_NE(::rename((drive_ / "f" / "x.txt").c_str(), (drive_ / "f" / name).c_str()), 0);
    EXPECT_NE(::rename((drive_ / "f").c_str(), (drive_ / name).c_str()), 0);
  }
  EXPECT_EQ(sent("mkdir") + sent("rename") + sent("move"), 0u);
  EXPECT_TRUE(fs::exists(mine_ / "f" / "x.txt"));
}

TEST_F(MountedWriteTest, NameOperationsLeaveServiceAndDriveInAgreement) {
  SKIP_WITHOUT_FUSE_HERE();
  WriteFile(mine_ / "docs" / "Report.TXT", "report");
  WriteFile(mine_ / "docs" / "old.txt", "old");
  WriteFile(mine_ / "tree" / "x" / "y" / "z.bin", "zzz");
  WriteFile(mine_ / "tree" / "top.bin", "top");
  WriteFile(mine_ / "keep.txt", "keep");
  WriteFile(mine_ / "other.txt", "other");
  WriteFile(mine_ / "third.txt", "third");
  mountDrive();

  struct Step {
    std::string command;
    bool succeeds;
  };
  for (const Step& step : std::vector<Step>{
           {"mkdir -p a/b/c", true},
           {"touch a/b/c/made-inside.txt", true},  // a new folder is writable at once
           {"mv docs/old.txt docs/new.txt", true},
           {"mv tree/x a/b/moved", true},  // move and rename: the service keeps the new name
           {"mv keep.txt a/b/", true},
           {"mv -f other.txt docs/new.txt", true},
           {"rm docs/report.txt", true},  // small letters find the capital name
           {"rm -r tree", true},
           {"rmdir a/b/c", true},
       }) {
    SCOPED_TRACE(step.command);
    std::string output;
    EXPECT_EQ(run(step.command, &output) == 0, step.succeeds) << output;
  }
  EXPECT_EQ(RenameNoReplace(drive_ / "third.txt", drive_ / "docs" / "new.txt"), -1);
  EXPECT_EQ(errno, EEXIST);

  std::map<std::string, std::string> expected = {{"a", "d"},
                                                 {"a/b", "d"},
                                                 {"a/b/moved", "d"},
                                                 {"a/b/moved/y", "d"},
                                                 {"a/b/moved/y/z.bin", "f 3"},
                                                 {"a/b/keep.txt", "f 4"},
                                                 {"docs", "d"},
                                                 {"docs/new.txt", "f 5"},
                                                 {"third.txt", "f 5"}};
  EXPECT_EQ(TreeOf(mine_), expected);
  EXPECT_EQ(TreeOf(drive_), expected);
  EXPECT_EQ(ReadFile(mine_ / "docs" / "new.txt"), "other");
  EXPECT_NE(fileList().find("|z.bin|"), std::string::npos);
  EXPECT_NE(fileList().find("\\我的空间\\a\\b\\moved\\y\\|1|3\r\n"), std::string::npos);
  readTreeAgain();
  EXPECT_EQ(TreeOf(drive_), expected);

  // The download space and the writable top-level folders stay where they are.
  size_t before = sent("rmdir") + sent("rename") + sent("move");
  EXPECT_EQ(::rmdir((root_ / "下载空间").c_str()), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(::rmdir(drive_.c_str()), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(::rename(drive_.c_str(), (root_ / "renamed").c_str()), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(::rename((root_ / "下载空间").c_str(), (drive_ / "dl").c_str()), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(::rename((drive_ / "third.txt").c_str(), (root_ / "下载空间").c_str()), -1);
  EXPECT_EQ(sent("rmdir") + sent("rename") + sent("move"), before);
  EXPECT_TRUE(fs::is_directory(mine_));
}

TEST_F(MountedWriteTest, FailuresLeaveTheDriveAsTheServiceHoldsIt) {
  SKIP_WITHOUT_FUSE_HERE();
  WriteFile(mine_ / "d" / "f.txt", "file");
  WriteFile(mine_ / "big.bin", PatternBytes(1 << 20, 3));
  mountDrive();

  struct Refusal {
    std::string fault;
    std::string command;
  };
  for (const Refusal& r : std::vector<Refusal>{{"delete", "rm d/f.txt"},
                                               {"rmdir", "rmdir d"},
                                               {"rename", "mv d/f.txt d/g.txt"},
                                               {"move", "mv d/f.txt ."},
                                               {"mkdir", "mkdir d/e"}}) {
    SCOPED_TRACE(r.command);
    server_.setFaults({"fault-web-error " + r.fault + "=err,Refused"});
    std::string list = fileList();
    EXPECT_NE(run(r.command), 0);
    EXPECT_TRUE(fs::exists(drive_ / "d" / "f.txt"));
    EXPECT_FALSE(fs::exists(drive_ / "d" / "e"));
    EXPECT_EQ(fileList().substr(fileList().find('\n')), list.substr(list.find('\n')));
  }
  server_.setFaults({});

  // The stream server drops the upload connection part way: cp sees the failure and the
  // service keeps its previous content.
  fs::path source = fs::path(folders_.top()) / "ten.bin";
  WriteFile(source, PatternBytes(10 << 20, 4));
  for (const char* fault : {"fault-drop-after 300", "fault-error tw_write=quota"}) {
    SCOPED_TRACE(fault);
    server_.setFaults({fault});
    std::string output;
    EXPECT_NE(RunCommand("cp " + Quoted(source) + " " + Quoted(drive_ / "big.bin"), &output), 0);
    EXPECT_NE(RunCommand("cp " + Quoted(source) + " " + Quoted(drive_ / "fresh.bin"), &output), 0);
  }
  server_.setFaults({});
  EXPECT_EQ(ReadFile(mine_ / "big.bin"), PatternBytes(1 << 20, 3));
  EXPECT_FALSE(fs::exists(mine_ / "fresh.bin"));
  readTreeAgain();
  EXPECT_EQ(fs::file_size(drive_ / "big.bin"), 1u << 20);
  EXPECT_FALSE(fs::exists(drive_ / "fresh.bin"));

  // An append starts its upload with what the service holds: when that cannot be read, the
  // open fails and nothing changes.
  for (const char* fault : {"fault-web-error readdist=err,Refused", "fault-error t1_open=token"}) {
    SCOPED_TRACE(fault);
    server_.setFaults({fault});
    int fd = ::open((drive_ / "d" / "f.txt").c_str(), O_WRONLY | O_APPEND);
    int error = errno;
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(error, EIO);
    if (fd >= 0) ::close(fd);
  }
  server_.setFaults({});
  EXPECT_EQ(ReadFile(mine_ / "d" / "f.txt"), "file");

  // A write past the quota is refused for space; one to a service that went away is an I/O
  // error (the stopped service comes last).
  struct WriteFailure {
    const char* what;
    int64_t offset;
    std::function<void()> meanwhile;
    int error;
  };
  for (const WriteFailure& w : std::vector<WriteFailure>{
           {"over quota", 10LL << 30, [] {}, ENOSPC},
           {"service stopped", 0, [&] { server_.stop(); }, EIO},
       }) {
    SCOPED_TRACE(w.what);
    EXPECT_EQ(WriteError(drive_ / "refused.bin", w.offset, 64, w.meanwhile), w.error);
  }
}

// One version per read: an overwrite through the drive, and a change at the service that a
// tree read shows, read back exactly; the cached link and head of the old content are not
// reused. Before a tree read shows a change, a read gives one version or fails part way.
TEST_F(MountedWriteTest, ReadsAfterAChangeGiveExactlyTheNewContent) {
  SKIP_WITHOUT_FUSE_HERE();
  const std::string first = PatternBytes(300000, 1), second = PatternBytes(200000, 2),
                    third = PatternBytes(250000, 3), fourth = PatternBytes(280000, 4);
  WriteFile(mine_ / "f.bin", first);
  mountDrive();
  // Whole contents are compared without printing them.
  auto readsAs = [&](const std::string& content) { return ReadFile(drive_ / "f.bin") == content; };
  EXPECT_TRUE(readsAs(first));

  fs::path source = fs::path(folders_.top()) / "second.bin";
  WriteFile(source, second);
  ASSERT_EQ(RunCommand("cp " + Quoted(source) + " " + Quoted(drive_ / "f.bin")), 0);
  EXPECT_TRUE(readsAs(second));

  WriteFile(mine_ / "f.bin", third);
  readTreeAgain();
  EXPECT_TRUE(WaitFor([&] { return fs::file_size(drive_ / "f.bin") == third.size(); }));
  EXPECT_TRUE(readsAs(third));

  WriteFile(mine_ / "f.bin", fourth);
  std::string seen = ReadUntilError(drive_ / "f.bin");
  EXPECT_TRUE(seen == third.substr(0, seen.size()) || seen == fourth.substr(0, seen.size()));
}

// What programs rely on beyond copies: mode bits by folder kind, owners, O_EXCL, appending to
// a new file, empty files removed again, a file removed or renamed while its upload is open,
// a rename over a file seen as one step from another thread, a refused upload that leaves
// the old content in view, and ftruncate on an upload.
TEST_F(MountedWriteTest, FileSemanticsThatProgramsRelyOn) {
  SKIP_WITHOUT_FUSE_HERE();
  WriteFile(mine_ / "sub" / "f.txt", "f");
  WriteFile(mine_ / "keep.txt", "keep");
  WriteFile(mine_ / "target.txt", "old content");
  WriteFile(fs::path(server_.userDir("alice")) / "下载空间" / "dl.txt", "dl");
  mountDrive();

  struct Mode {
    fs::path path;
    mode_t mode;
  };
  for (const Mode& m : std::vector<Mode>{{root_, S_IFDIR | 0555},
                                         {root_ / "下载空间", S_IFDIR | 0555},
                                         {root_ / "下载空间" / "dl.txt", S_IFREG | 0444},
                                         {drive_, S_IFDIR | 0755},
                                         {drive_ / "sub", S_IFDIR | 0755},
                                         {drive_ / "sub" / "f.txt", S_IFREG | 0644}}) {
    SCOPED_TRACE(m.path);
    struct stat st {};
    ASSERT_EQ(::stat(m.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, m.mode);
  }

  struct Owner {
    uid_t uid;
    gid_t gid;
    int result;
  };
  for (const Owner& o : std::vector<Owner>{{::getuid(), ::getgid(), 0},
                                           {static_cast<uid_t>(-1), ::getgid(), 0},
                                           {::getuid() + 4242, static_cast<gid_t>(-1), EPERM},
                                           {static_cast<uid_t>(-1), ::getgid() + 4242, EPERM}}) {
    SCOPED_TRACE(std::to_string(o.uid) + ":" + std::to_string(o.gid));
    int result = ::chown((drive_ / "keep.txt").c_str(), o.uid, o.gid);
    EXPECT_EQ(result == 0 ? 0 : errno, o.result);
  }
  EXPECT_EQ(::open((drive_ / "keep.txt").c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644), -1);
  EXPECT_EQ(errno, EEXIST);

  std::string output;
  EXPECT_EQ(run("printf ab >> appended.txt && touch empty.txt && rm empty.txt && : > e2 && rm e2",
                &output),
            0)
      << output;
  EXPECT_EQ(ReadFile(mine_ / "appended.txt"), "ab");
  // A removal that meets the close of the upload has the service delete it once it holds it.
  EXPECT_TRUE(
      WaitFor([&] { return !fs::exists(mine_ / "empty.txt") && !fs::exists(mine_ / "e2"); }));

  // Removed while open: gone at once, and the service never holds it. Renamed while open:
  // the new name at once, and the service holds it under that name after the close.
  int removed = ::open((drive_ / "gone.txt").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  int renamed = ::open((drive_ / "draft.txt").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(removed, 0);
  ASSERT_GE(renamed, 0);
  EXPECT_EQ(::write(removed, "gone", 4), 4);
  EXPECT_EQ(::write(renamed, "final", 5), 5);
  EXPECT_EQ(::unlink((drive_ / "gone.txt").c_str()), 0);
  EXPECT_FALSE(fs::exists(drive_ / "gone.txt"));
  EXPECT_EQ(::rename((drive_ / "draft.txt").c_str(), (drive_ / "sub" / "final.txt").c_str()), 0);
  EXPECT_FALSE(fs::exists(drive_ / "draft.txt"));
  EXPECT_TRUE(fs::exists(drive_ / "sub" / "final.txt"));
  EXPECT_EQ(::close(removed), 0);
  EXPECT_EQ(::close(renamed), 0);
  EXPECT_FALSE(fs::exists(mine_ / "gone.txt"));
  EXPECT_FALSE(fs::exists(mine_ / "draft.txt"));
  EXPECT_EQ(ReadFile(mine_ / "sub" / "final.txt"), "final");
  EXPECT_EQ(ReadFile(drive_ / "sub" / "final.txt"), "final");

  // ftruncate on an upload: longer is filled with zeros, shorter than what was sent is refused.
  int cut = ::open((drive_ / "cut.bin").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(cut, 0);
  EXPECT_EQ(::write(cut, "0123456789", 10), 10);
  EXPECT_EQ(::ftruncate(cut, 20), 0);
  EXPECT_EQ(::ftruncate(cut, 10), 0);
  EXPECT_EQ(::ftruncate(cut, 5), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(::ftruncate(cut, 16), 0);
  EXPECT_EQ(::close(cut), 0);
  EXPECT_EQ(ReadFile(mine_ / "cut.bin"), "0123456789" + std::string(6, '\0'));

  // Save by rename: with the service slow to answer, a second thread finds the target at
  // every moment, in the drive and in ".filelist", with the old content before the rename and
  // the new one after it.
  server_.setFaults({"fault-web-delay delete=300", "fault-web-delay rename=300"});
  WriteFile(fs::path(folders_.top()) / "new.txt", "new content");
  ASSERT_EQ(RunCommand("cp " + Quoted(fs::path(folders_.top()) / "new.txt") + " " +
                       Quoted(drive_ / "target.txt.tmp")),
            0);
  std::atomic<bool> renamedOver{false}, done{false};
  std::atomic<int> readsAfter{0};
  std::vector<std::string> wrong;
  std::thread poller([&] {
    while (!done) {
      bool after = renamedOver;
      std::string seen = ReadFile(drive_ / "target.txt");
      bool fine = seen == "new content" || (!after && seen == "old content");
      if (!fine) wrong.push_back(seen.empty() ? "(missing)" : seen);
      if (after) ++readsAfter;
    }
  });
  // The desktop program's view, too, never lacks the name.
  std::atomic<bool> unlisted{false};
  std::thread listPoller([&] {
    while (!done) {
      if (fileList().find("|target.txt|") == std::string::npos) unlisted = true;
    }
  });
  EXPECT_EQ(::rename((drive_ / "target.txt.tmp").c_str(), (drive_ / "target.txt").c_str()), 0);
  renamedOver = true;
  EXPECT_TRUE(WaitFor([&] { return readsAfter > 3; }));
  done = true;
  poller.join();
  listPoller.join();
  EXPECT_FALSE(unlisted);
  server_.setFaults({});
  EXPECT_TRUE(wrong.empty()) << wrong.front();
  EXPECT_EQ(ReadFile(mine_ / "target.txt"), "new content");
  EXPECT_FALSE(fs::exists(mine_ / "target.txt.tmp"));

  // The service refuses the finish: close fails, and the drive shows the old content at once
  // and no new file.
  server_.setFaults({"fault-error tw_close=refused"});
  WriteFile(fs::path(folders_.top()) / "other.txt", "other content");
  for (const char* name : {"keep.txt", "fresh.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(RunCommand("cp " + Quoted(fs::path(folders_.top()) / "other.txt") + " " +
                         Quoted(drive_ / name)),
              0);
  }
  server_.setFaults({});
  EXPECT_EQ(ReadFile(drive_ / "keep.txt"), "keep");
  EXPECT_EQ(fs::file_size(drive_ / "keep.txt"), 4u);
  EXPECT_FALSE(fs::exists(drive_ / "fresh.txt"));
  EXPECT_EQ(ReadFile(mine_ / "keep.txt"), "keep");
  EXPECT_FALSE(fs::exists(mine_ / "fresh.txt"));
}
