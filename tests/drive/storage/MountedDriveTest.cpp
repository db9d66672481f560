// The storage client behind a real mounted drive, against the running reference service:
// login and mount states, the drive's listing against the service's tree on disk, the quota
// as the drive's size, and a requested refresh. A second test runs the drive program itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/storage/NodeLine.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/TextDigest.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/storage/mounted/ServiceDrive.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"

namespace fs = std::filesystem;

namespace {

void MakeTree(const fs::path& user) {
  fs::path mine = user / "我的空间";
  WriteFile(mine / "Photos" / "2019" / "a.jpg", std::string(3000, 'a'), 1600000000);
  WriteFile(mine / "Photos" / "2019" / "empty.txt", "", 1600000001);
  WriteFile(mine / "Photos" / "b:c?.txt", "xyz", 1600000002);
  WriteFile(mine / "Mixed Case.TXT", std::string(70000, 'm'), 1600000003);
  fs::create_directories(mine / "Empty Folder");
}

// Relative path → "d" or "f <size> <mtime>" for a whole tree; empty files left out and names
// cleaned as the drive shows them.
std::map<std::string, std::string> Snapshot(const fs::path& top, bool fromService) {
  std::map<std::string, std::string> seen;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    struct stat st {};
    ::stat(entry.path().c_str(), &st);
    bool folder = S_ISDIR(st.st_mode);
    if (!folder && st.st_size == 0) continue;
    std::string relative;
    for (const fs::path& part : fs::relative(entry.path(), top)) {
      std::string name = part.string();
      if (fromService) name = codepage::WideToUtf8(CleanRemoteName(codepage::Utf8ToWide(name)));
      relative += "/" + name;
    }
    seen[relative] =
        folder ? "d" : "f " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtime);
  }
  return seen;
}

void WriteSettings(const TestDriveFolders& folders, const std::string& user,
                   const std::string& password) {
  std::ofstream(folders.programFolder() + "tarvex.ini")
      << "[Set]\nDebug=7\nDriveLetter=Q\nServerAddress=127.0.0.1\nRun=1\n[User]\nUserName=" << user
      << "\nPassWord=" << codepage::WideToUtf8(text_digest::Md5Text(codepage::Utf8ToWide(password)))
      << "\n";
}

// "f <size>" for a file, "d" for a folder, "-" when stat fails.
std::string StatOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "-";
  return S_ISDIR(st.st_mode) ? "d" : "f " + std::to_string(st.st_size);
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

}  // namespace

TEST(MountedDrive, ShowsTheServiceTreeAndRefreshesOnRequest) {
  SKIP_WITHOUT_FUSE();
  TestDriveFolders folders;
  ReferenceServer server;
  server.addUser("alice", "secret", 2);
  MakeTree(server.userDir("alice"));
  ASSERT_TRUE(server.start());
  std::mutex statesLock;
  std::vector<int32_t> states;
  Drive().onDriveState = [&](int32_t state) {
    std::lock_guard<std::mutex> guard(statesLock);
    states.push_back(state);
  };
  ServiceDrive mount(folders, 'Q');
  ASSERT_TRUE(mount.start(server, "alice", "secret", 1'000'000, 7));
  {
    std::lock_guard<std::mutex> guard(statesLock);
    EXPECT_EQ(states, (std::vector<int32_t>{4, 5, 2}));
  }

  fs::path drive = folders.mountPoint('Q');
  auto expected = Snapshot(fs::path(server.userDir("alice")) / "我的空间", true);
  EXPECT_EQ(expected.size(), 6u);
  EXPECT_EQ(expected.count("/Photos/b_c_.txt"), 1u);
  EXPECT_EQ(Snapshot(drive / "我的空间", false), expected);
  EXPECT_TRUE(fs::exists(drive / "下载空间"));
  EXPECT_TRUE(fs::exists(drive / "我的空间" / "photos" / "2019" / "A.JPG"));
  EXPECT_FALSE(fs::exists(drive / "我的空间" / "Photos" / "2019" / "empty.txt"));

  struct statvfs volume {};
  ASSERT_EQ(statvfs(drive.c_str(), &volume), 0);
  EXPECT_EQ(uint64_t(volume.f_blocks) * volume.f_frsize, 2ULL << 30);
  EXPECT_EQ(uint64_t(volume.f_bavail) * volume.f_frsize, (2ULL << 30) - (1ULL << 20));

  std::string list = ReadFile(folders.programFolder() + ".filelist");
  EXPECT_NE(list.find("|alice\r\n"), std::string::npos);
  EXPECT_NE(list.find("|a.jpg|1600000000|1600000000|\\我的空间\\Photos\\2019\\|1|3000\r\n"),
            std::string::npos);

  WriteFile(fs::path(server.userDir("alice")) / "我的空间" / "Photos" / "new.txt", "new",
            1600000100);
  EXPECT_FALSE(fs::exists(drive / "我的空间" / "Photos" / "new.txt"));
  Drive().refreshRequest = 1;
  EXPECT_TRUE(WaitFor([&] { return fs::exists(drive / "我的空间" / "Photos" / "new.txt"); }));
  EXPECT_NE(ReadFile(folders.programFolder() + ".filelist").find("|new.txt|"), std::string::npos);
}

// The drive program itself on the fixed web port: a good login mounts the tree, a wrong
// password and an unreachable service leave their log lines.
TEST(DriveProgram, LogsInMountsAndReportsLoginFailures) {
  SKIP_WITHOUT_FUSE();
  TestDriveFolders folders;
  ReferenceServer server;
  server.addUser("alice", "secret");
  MakeTree(server.userDir("alice"));
  ASSERT_TRUE(server.start(kWebPort));
  std::string program = QUELLAN_PROGRAM;
  std::string log = folders.programFolder() + "mirror.log";

  auto run = [&](const std::function<bool()>& until) {
    pid_t child = fork();
    if (child == 0) {
      execl(program.c_str(), program.c_str(), "-d", folders.programFolder().c_str(), nullptr);
      _exit(127);
    }
    bool reached = WaitFor(until, std::chrono::seconds(30));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ForceUnmountBelow(folders.driveRoot());
    return reached;
  };

  WriteSettings(folders, "alice", "secret");
  fs::path file = fs::path(folders.mountPoint('Q')) / "我的空间" / "Photos" / "2019" / "a.jpg";
  EXPECT_TRUE(run([&] { return fs::exists(file) && fs::file_size(file) == 3000; }));
  EXPECT_NE(ReadFile(log).find("QLVMirror:login:OK "), std::string::npos);

  WriteSettings(folders, "alice", "wrong");
  EXPECT_TRUE(
      run([&] { return ReadFile(log).find("QLVMirror:login:-5 Session:") != std::string::npos; }));

  server.stop();
  EXPECT_TRUE(run(
      [&] { return ReadFile(log).find("QLVMirror:login:-1 connect err!") != std::string::npos; }));
}

// The kernel keeps names and attributes for long; a refresh tells it what changed, so a
// rename, a new size and a removed folder at the service all show at once after it.
TEST(MountedDrive, RefreshShowsRenamesSizesAndRemovalsAtOnce) {
  SKIP_WITHOUT_FUSE();
  TestDriveFolders folders;
  ReferenceServer server;
  server.addUser("alice", "secret", 2);
  MakeTree(server.userDir("alice"));
  WriteFile(fs::path(server.userDir("alice")) / "我的空间" / "Old Folder" / "inside.txt", "in",
            1600000004);
  ASSERT_TRUE(server.start());
  ServiceDrive mount(folders, 'Q');
  ASSERT_TRUE(mount.start(server, "alice", "secret", 1'000'000, 7));

  fs::path mine = fs::path(folders.mountPoint('Q')) / "我的空间";
  fs::path remote = fs::path(server.userDir("alice")) / "我的空间";
  // Everything is looked at first, so the kernel holds names and attributes of all of it.
  EXPECT_EQ(StatOf(mine / "Mixed Case.TXT"), "f 70000");
  EXPECT_EQ(StatOf(mine / "Photos" / "2019" / "a.jpg"), "f 3000");
  EXPECT_EQ(StatOf(mine / "Old Folder"), "d");
  EXPECT_EQ(StatOf(mine / "Old Folder" / "inside.txt"), "f 2");
  EXPECT_EQ(Listing(mine).count("Old Folder"), 1u);
  EXPECT_EQ(Listing(mine / "Photos" / "2019").count("a.jpg"), 1u);

  fs::rename(remote / "Mixed Case.TXT", remote / "Renamed.TXT");
  WriteFile(remote / "Photos" / "2019" / "a.jpg", std::string(5000, 'b'), 1600000200);
  fs::remove_all(remote / "Old Folder");
  Drive().refreshRequest = 1;

  auto allShown = [&] {
    std::set<std::string> top = Listing(mine);
    return StatOf(mine / "Mixed Case.TXT") == "-" && StatOf(mine / "Renamed.TXT") == "f 70000" &&
           StatOf(mine / "Photos" / "2019" / "a.jpg") == "f 5000" &&
           StatOf(mine / "Old Folder") == "-" &&
           StatOf(mine / "Old Folder" / "inside.txt") == "-" && top.count("Old Folder") == 0 &&
           top.count("Renamed.TXT") == 1 && top.count("Mixed Case.TXT") == 0;
  };
  EXPECT_TRUE(WaitFor(allShown, std::chrono::seconds(15)));
  struct stat st {};
  ASSERT_EQ(::stat((mine / "Photos" / "2019" / "a.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1600000200);
}
