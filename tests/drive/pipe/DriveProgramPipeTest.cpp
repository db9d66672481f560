// The drive program as a process, mounted on the reference service, driven over its real
// control pipe by the desktop program's pipe client: state, letters, paths, child counts,
// settings changes, refresh and unmount; the tether both ways; a drive program that dies
// under an open pipe.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "desktop/control/DrivePipeClient.h"
#include "drive/replies/TextDigest.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/ScopedEnv.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The drive program started with `args`; killed and its drive cleared when it goes.
class DriveProgramRun {
 public:
  DriveProgramRun(const TestDriveFolders& folders, std::vector<std::string> args)
      : folders_(folders) {
    args.insert(args.begin(), {QUELLAN_PROGRAM, "-d", folders.programFolder()});
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~DriveProgramRun() {
    kill();
    ForceUnmountBelow(folders_.driveRoot());
  }
  void kill() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      exited_ = true;
    }
  }
  bool running() {
    if (exited_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exited_ = true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  // The exit status once it ended by itself within `limit`, else -2.
  int waitExit(std::chrono::milliseconds limit) {
    return WaitFor([&] { return !running(); }, limit) ? exitStatus_ : -2;
  }

 private:
  const TestDriveFolders& folders_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int exitStatus_ = -2;
};

class DriveProgramPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.addUser("alice", "secret");
    fs::path mine = fs::path(server.userDir("alice")) / "我的空间";
    WriteFile(mine / "Photos" / "2019" / "a.jpg", std::string(3000, 'a'));
    WriteFile(mine / "Photos" / "b.txt", "xyz");
  }
  void writeSettings(int run) {
    std::ofstream(folders.programFolder() + "tarvex.ini")
        << "[Set]\nDebug=7\nDriveLetter=Q\nServerAddress=\nRun=" << run
        << "\n[User]\nUserName=alice\nPassWord="
        << codepage::WideToUtf8(text_digest::Md5Text(u"secret")) << "\n";
  }
  // Key of the file `name` in the folder list file; "" when it is not listed.
  std::string keyOfFile(const std::string& name) {
    std::istringstream list(ReadFile(folders.programFolder() + ".filelist"));
    std::string line;
    while (std::getline(list, line)) {
      if (line.rfind("0|", 0) == 0 && line.find("|" + name + "|") != std::string::npos)
        return line.substr(2, line.find('|', 2) - 2);
    }
    return "";
  }

  // Key of the folder `name` in the folder list file; "" when it is not listed.
  std::string keyOfFolder(const std::string& name) {
    std::istringstream list(ReadFile(folders.programFolder() + ".filelist"));
    std::string line;
    while (std::getline(list, line)) {
      if (line.rfind("1|", 0) != 0) continue;
      size_t idEnd = line.find('|', 2);
      size_t nameStart = line.find('|', idEnd + 1) + 1;
      if (line.compare(nameStart, name.size() + 1, name + "|") == 0)
        return line.substr(2, idEnd - 2);
    }
    return "";
  }

  TestDriveFolders folders;
  ReferenceServer server;
};

TEST_F(DriveProgramPipeTest, AnswersAndControlsTheMountedDrive) {
  SKIP_WITHOUT_FUSE();
  ASSERT_TRUE(server.start());
  ScopedEnv webPort("QUELLAN_WEB_PORT", std::to_string(server.webPort()));
  // An empty ServerAddress means the default address, where the service listens.
  writeSettings(1);
  DriveProgramRun drive(folders, {});
  DrivePipeClient client(folders.pipePath());
  ASSERT_TRUE(WaitFor([&] { return client.driveState() == 2 && folders.isMounted('Q'); }, 30s))
      << ReadFile(folders.programFolder() + "mirror.log");

  EXPECT_EQ(client.runDriveLetter(), "Q");
  PipeMessage settingsLetter = MakeRequest(8);
  EXPECT_EQ(client.transfer(settingsLetter, true), 1);
  EXPECT_EQ(settingsLetter.body(), "Q");

  std::string key = keyOfFile("a.jpg");
  ASSERT_FALSE(key.empty());
  EXPECT_EQ(client.localPathOfKey(key), "Q:\\我的空间\\Photos\\2019\\a.jpg");
  EXPECT_EQ(client.localPathOfKey("no-such-key"), "");
  EXPECT_EQ(client.childCount("\\我的空间\\Photos"), 2);
  EXPECT_EQ(client.childCount("\\我的空间\\Nothing"), -1);

  // Folders: whatever the storage client answers for the first creation, with no key.
  std::string newKey = "unchanged";
  int made = client.makeFolders("", "\\A\\B\\", &newKey);
  EXPECT_NE(made, DrivePipeClient::kBroken);
  if (made != 0) {
    EXPECT_EQ(newKey, "");
  }
  EXPECT_EQ(client.makeFolders("no-such-key", "x", &newKey), -8);
  EXPECT_EQ(newKey, "");
  EXPECT_EQ(client.rename("no-such-key", "y"), -2);
  std::string path = "unchanged";
  EXPECT_EQ(client.deleteByKey("no-such-key", &path), -1);
  EXPECT_EQ(path, "");

  // Made, renamed and deleted for real: the service's folder shows each change, and so does
  // the mounted drive at once, although the kernel has its entries cached.
  fs::path mine = fs::path(server.userDir("alice")) / "我的空间";
  fs::path shown = fs::path(folders.driveRoot()) / "Q" / "我的空间";
  ASSERT_TRUE(fs::exists(shown / "Photos" / "b.txt"));
  std::string mineKey = keyOfFolder("我的空间");
  ASSERT_FALSE(mineKey.empty());
  EXPECT_EQ(client.makeFolders(mineKey, "\\x\\y\\", &newKey), 0);
  EXPECT_FALSE(newKey.empty());
  EXPECT_TRUE(fs::is_directory(mine / "x" / "y"));
  EXPECT_TRUE(fs::is_directory(shown / "x" / "y"));
  EXPECT_EQ(client.rename(keyOfFile("b.txt"), "c.txt"), 0);
  EXPECT_EQ(ReadFile((mine / "Photos" / "c.txt").string()), "xyz");
  EXPECT_FALSE(fs::exists(shown / "Photos" / "b.txt"));
  EXPECT_TRUE(fs::exists(shown / "Photos" / "c.txt"));
  EXPECT_EQ(client.deleteByKey(keyOfFile("c.txt"), &path), 0);
  EXPECT_FALSE(path.empty());
  EXPECT_FALSE(fs::exists(mine / "Photos" / "c.txt"));
  EXPECT_FALSE(fs::exists(shown / "Photos" / "c.txt"));
  EXPECT_EQ(client.deleteAtPath("\\我的空间\\x"), 0);
  EXPECT_FALSE(fs::exists(mine / "x"));
  EXPECT_FALSE(fs::exists(shown / "x"));
  EXPECT_TRUE(keyOfFile("c.txt").empty());

  // Settings commands write the file before the next request is answered.
  for (auto [command, text, line] :
       {std::tuple{10, "bob", "UserName=bob"}, std::tuple{11, "abc123", "PassWord=abc123"},
        std::tuple{12, "5", "Debug=5"}}) {
    PipeMessage change = MakeRequest(command, text);
    ASSERT_GE(client.transfer(change, false), 0);
    EXPECT_EQ(client.driveState(), 2);
    EXPECT_NE(ReadFile(folders.programFolder() + "tarvex.ini").find(line), std::string::npos)
        << line;
  }

  // The program's own files are the user's alone: the settings it wrote, its log, the folder
  // list, and the disk cache with the stream log once a file was read.
  EXPECT_EQ(ReadFile((shown / "Photos" / "2019" / "a.jpg").string()), std::string(3000, 'a'));
  const std::string program = folders.programFolder();
  for (auto [name, mode] : {std::pair{"tarvex.ini", fs::perms(0600)},
                            {"mirror.log", fs::perms(0600)},
                            {".filelist", fs::perms(0600)},
                            {"vod.log", fs::perms(0600)},
                            {"cache", fs::perms(0700)}}) {
    EXPECT_EQ(fs::status(program + name).permissions(), mode) << name;
  }
  for (const auto& head : fs::directory_iterator(program + "cache"))
    EXPECT_EQ(head.status().permissions(), fs::perms(0600)) << head.path();

  WriteFile(fs::path(server.userDir("alice")) / "我的空间" / "Photos" / "new.txt", "new");
  EXPECT_EQ(client.requestRefresh(), 0);
  EXPECT_TRUE(WaitFor([&] { return !keyOfFile("new.txt").empty(); }, 20s));

  EXPECT_EQ(client.stopDrive(), 0);
  EXPECT_TRUE(WaitFor([&] { return client.driveState() == 8 && !folders.isMounted('Q'); }, 20s));
}

TEST_F(DriveProgramPipeTest, TetherHoldsWhileMessagesComeAndEndsTheProgramAfterSilence) {
  SKIP_WITHOUT_FUSE();
  ASSERT_TRUE(server.start());
  ScopedEnv webPort("QUELLAN_WEB_PORT", std::to_string(server.webPort()));
  // The tether's ten seconds of silence, shortened to three for the test.
  ScopedEnv tether("QUELLAN_TETHER_MS", "3000");
  writeSettings(1);
  DriveProgramRun drive(folders, {"-t"});
  DrivePipeClient client(folders.pipePath());
  ASSERT_TRUE(WaitFor([&] { return client.driveState() == 2 && folders.isMounted('Q'); }, 30s));
  // One message a second for twice the silence the tether allows.
  auto until = std::chrono::steady_clock::now() + 6s;
  while (std::chrono::steady_clock::now() < until) {
    ASSERT_EQ(client.driveState(), 2);
    std::this_thread::sleep_for(1s);  // the pace of the desktop program's watcher
  }
  EXPECT_TRUE(drive.running());
  EXPECT_TRUE(folders.isMounted('Q'));
  client.closePipe();
  EXPECT_EQ(drive.waitExit(25s), 0);
  EXPECT_FALSE(folders.isMounted('Q'));
}

TEST_F(DriveProgramPipeTest, ClientSeesNoProgramThenABrokenPipeThenNoProgram) {
  writeSettings(0);  // stays unmounted: no service or FUSE needed
  DrivePipeClient client(folders.pipePath());
  EXPECT_EQ(client.openPipe(), DrivePipeClient::kUnreachable);
  EXPECT_EQ(client.driveState(), DrivePipeClient::kBroken);
  DriveProgramRun drive(folders, {});
  ASSERT_TRUE(WaitFor([&] { return client.openPipe() == 0; }, 10s));
  // The pipe may answer before the run routine has taken its first state.
  EXPECT_TRUE(WaitFor([&] { return client.driveState() == 1; }, 10s));
  drive.kill();
  EXPECT_EQ(client.driveState(), DrivePipeClient::kBroken);
  EXPECT_EQ(client.runDriveLetter(), "");
  EXPECT_EQ(client.openPipe(), DrivePipeClient::kUnreachable);
}

}  // namespace
