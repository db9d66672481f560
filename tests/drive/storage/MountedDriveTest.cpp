// The storage client behind a real mounted drive, against the running reference service:
// login and mount states, the drive's listing against the service's tree on disk, the quota
// as the drive's size, a requested refresh and names that meet on the drive. The last tests
// run the drive program itself: its logins, and a start after it was killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/replies/NodeLine.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/storage/mounted/ProgramRun.h"
#include "tests/drive/storage/mounted/ServiceDrive.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/ScopedEnv.h"

namespace fs = std::filesystem;

extern char** environ;

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

void WriteSettings(const std::string& programFolder, const std::string& user,
                   const std::string& password) {
  std::ofstream(programFolder + "tarvex.ini")
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
  folders.drive().onDriveState = [&](int32_t state) {
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
  folders.drive().refreshRequest = 1;
  EXPECT_TRUE(WaitFor([&] { return fs::exists(drive / "我的空间" / "Photos" / "new.txt"); }));
  EXPECT_NE(ReadFile(folders.programFolder() + ".filelist").find("|new.txt|"), std::string::npos);
}

// Remote names that meet on the drive (case only, or once cleaned): the listing shows both,
// each name reads its own file, removing one leaves the other at the service, and the other
// moves to another folder under the name it shows.
TEST(MountedDrive, CollidingNamesEachReachTheirOwnEntry) {
  SKIP_WITHOUT_FUSE();
  struct Pair {
    std::string first, second;  // names at the service
    std::string shown;          // what the names clean to, alike but for the case of a-z
    bool removeShownName;       // remove the entry shown under it, else the one shown with its id
  };
  const Pair pairs[] = {{"Pair.txt", "pair.txt", "pair.txt", true},
                        {"a:b.txt", "a_b.txt", "a_b.txt", false},
                        {"c?d.bin", "C*D.bin", "c_d.bin", true}};
  TestDriveFolders folders;
  ReferenceServer server;
  server.addUser("alice", "secret");
  fs::path remote = fs::path(server.userDir("alice")) / "我的空间";
  for (const Pair& pair : pairs) {
    WriteFile(remote / pair.first, "first of " + pair.first);
    WriteFile(remote / pair.second, "second, longer, of " + pair.second);
  }
  fs::create_directories(remote / "moved");
  ASSERT_TRUE(server.start());
  ServiceDrive mount(folders, 'Q');
  ASSERT_TRUE(mount.start(server, "alice", "secret"));
  fs::path mine = fs::path(folders.mountPoint('Q')) / "我的空间";
  // A shown name without the ":" + id put in before its extension, upper-cased.
  auto plainOf = [](std::string name) {
    size_t mark = name.find(':');
    if (mark != std::string::npos) name.erase(mark, name.find('.', mark) - mark);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  };

  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.first + " / " + pair.second);
    std::vector<std::string> names;  // the two shown for the pair, the plain one first
    for (const std::string& name : Listing(mine)) {
      if (plainOf(name) != plainOf(pair.shown)) continue;
      names.insert(name.find(':') == std::string::npos ? names.begin() : names.end(), name);
    }
    ASSERT_EQ(names.size(), 2u);
    std::map<std::string, std::string> contents;  // shown name → what it reads
    for (const std::string& name : names) {
      contents[name] = ReadFile(mine / name);
      EXPECT_EQ(StatOf(mine / name), "f " + std::to_string(contents[name].size()));
    }
    EXPECT_EQ(
        (std::set<std::string>{contents[names[0]], contents[names[1]]}),
        (std::set<std::string>{ReadFile(remote / pair.first), ReadFile(remote / pair.second)}));

    const std::string& removed = pair.removeShownName ? names[0] : names[1];
    const std::string& kept = pair.removeShownName ? names[1] : names[0];
    ASSERT_EQ(::unlink((mine / removed).c_str()), 0) << removed;
    std::set<std::string> left;
    for (const std::string& name : {pair.first, pair.second}) {
      if (fs::exists(remote / name)) left.insert(ReadFile(remote / name));
    }
    EXPECT_EQ(left, std::set<std::string>{contents[kept]});
    EXPECT_EQ(ReadFile(mine / kept), contents[kept]);
    EXPECT_EQ(Listing(mine).count(removed), 0u);

    ASSERT_EQ(::rename((mine / kept).c_str(), (mine / "moved" / kept).c_str()), 0) << kept;
    EXPECT_EQ(ReadFile(mine / "moved" / kept), contents[kept]);
    std::set<std::string> moved;
    for (const std::string& name : {pair.first, pair.second}) {
      if (fs::exists(remote / "moved" / name)) moved.insert(ReadFile(remote / "moved" / name));
    }
    EXPECT_EQ(moved, std::set<std::string>{contents[kept]});
  }
}

// The drive program itself, on the service's web port handed over in $QUELLAN_WEB_PORT: a good
// login mounts the tree, a wrong password and an unreachable service leave their log lines.
TEST(DriveProgram, LogsInMountsAndReportsLoginFailures) {
  SKIP_WITHOUT_FUSE();
  TestDriveFolders folders;
  ReferenceServer server;
  server.addUser("alice", "secret");
  MakeTree(server.userDir("alice"));
  ASSERT_TRUE(server.start());
  ScopedEnv webPort("QUELLAN_WEB_PORT", std::to_string(server.webPort()));
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

  WriteSettings(folders.programFolder(), "alice", "secret");
  fs::path file = fs::path(folders.mountPoint('Q')) / "我的空间" / "Photos" / "2019" / "a.jpg";
  EXPECT_TRUE(run([&] { return fs::exists(file) && fs::file_size(file) == 3000; }));
  EXPECT_NE(ReadFile(log).find("QLVMirror:login:OK "), std::string::npos);

  WriteSettings(folders.programFolder(), "alice", "wrong");
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
  folders.drive().refreshRequest = 1;

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

// A drive program killed with SIGKILL leaves a dead mount at its letter. Started again, the
// program takes that away and mounts at the same letter; a second program running beside it
// leaves the live drive alone and mounts at the next letter.
TEST(DriveProgram, MountsAtItsOwnLetterAgainAfterBeingKilled) {
  SKIP_WITHOUT_FUSE();
  TestDriveFolders folders;
  TempDir other;  // the second program's folder
  std::string otherFolder = other.path() + "/";
  ReferenceServer server;
  server.addUser("alice", "secret");
  MakeTree(server.userDir("alice"));
  ASSERT_TRUE(server.start());
  ScopedEnv webPort("QUELLAN_WEB_PORT", std::to_string(server.webPort()));
  WriteSettings(folders.programFolder(), "alice", "secret");
  WriteSettings(otherFolder, "alice", "secret");
  auto fileAt = [&](char letter) {
    return fs::path(folders.mountPoint(letter)) / "我的空间" / "Photos" / "2019" / "a.jpg";
  };
  auto works = [&](char letter) { return ReadFile(fileAt(letter)) == std::string(3000, 'a'); };

  auto first =
      std::make_unique<ProgramRun>(QUELLAN_PROGRAM, folders.programFolder(), folders.pipePath());
  ASSERT_TRUE(WaitFor([&] { return works('Q'); }, std::chrono::seconds(30)));
  first->kill();
  struct stat st {};
  EXPECT_EQ(::stat(folders.mountPoint('Q').c_str(), &st), -1);
  EXPECT_EQ(errno, ENOTCONN);

  ProgramRun again(QUELLAN_PROGRAM, folders.programFolder(), folders.pipePath());
  EXPECT_TRUE(WaitFor([&] { return works('Q'); }, std::chrono::seconds(30)));
  EXPECT_FALSE(folders.isMounted('R'));

  ProgramRun beside(QUELLAN_PROGRAM, otherFolder, otherFolder + "Tarvex");
  EXPECT_TRUE(WaitFor([&] { return works('R'); }, std::chrono::seconds(30)));
  EXPECT_TRUE(works('Q'));
}
