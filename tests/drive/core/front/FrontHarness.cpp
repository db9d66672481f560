#include "tests/drive/core/front/FrontHarness.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "platform/codepage/CodePage.h"
#include "platform/dokan/Dokan.h"
#include "platform/process/Process.h"
#include "tests/support/Files.h"

std::string FuseMissingReason() {
  if (::access("/dev/fuse", F_OK) != 0) return "no /dev/fuse: FUSE is not available here";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse cannot be opened by this user";
  if (::geteuid() != 0 && !process::IsOnPath("fusermount3"))
    return "fusermount3 is missing, so this user cannot mount";
  return std::string();
}

TestDriveFolders::TestDriveFolders() {
  EndLeftoversOfEndedTests();
  std::filesystem::create_directories(programFolder());
  std::filesystem::create_directories(driveRoot());
  ::setenv("QUELLAN_DRIVE_ROOT", driveRoot().c_str(), 1);
  // A drive program started from here serves its control pipe in this folder too.
  ::setenv("QUELLAN_PIPE", pipePath().c_str(), 1);
  drive_.programFolder = programFolder();
  drive_.openLog(programFolder() + "mirror.log");
}

TestDriveFolders::~TestDriveFolders() {
  ForceUnmountBelow(driveRoot());
  drive_.closeLog();
  ::unsetenv("QUELLAN_DRIVE_ROOT");
  ::unsetenv("QUELLAN_PIPE");
}

bool TestDriveFolders::isMounted(char letter) const {
  char resolved[PATH_MAX];
  std::string root = ::realpath(driveRoot().c_str(), resolved) ? resolved : driveRoot();
  return driveroot::FindMount(driveroot::CurrentMounts(), root + "/" + letter) != nullptr;
}

void TestDriveFolders::writeSettings(const std::string& driveLetter, int debug, int run) const {
  std::ofstream file(programFolder() + "tarvex.ini");
  file << "[Set]\nDebug=" << debug << "\nDriveLetter=" << driveLetter << "\nRun=" << run
       << "\n[User]\nUserName=tester\nPassWord=secret\n";
}

std::vector<std::string> TestDriveFolders::logLines() const {
  std::vector<std::string> lines;
  std::string all = ReadFile(programFolder() + "mirror.log");
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find("\r\n", start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    size_t stamp = line.find("] ");
    lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
    start = end + 2;
  }
  return lines;
}

FrontRun::FrontRun(TestDriveFolders& folders, std::shared_ptr<MemoryTree> tree)
    : folders_(folders),
      cycle_(std::make_unique<MountCycle>(
          codepage::AnsiToWide(folders.programFolder() + "tarvex.ini"))) {
  folders_.drive().createMirror = [tree] { return new MemoryMirror(tree); };
  folders_.drive().onDriveState = [this](int32_t state) {
    std::lock_guard<std::mutex> guard(statesLock_);
    states_.push_back(state);
  };
  thread_ = std::thread([this] {
    RunLoopTiming timing;
    timing.runPoll = std::chrono::milliseconds(20);
    result_ = Mount(folders_.drive(), *cycle_, timing, keepRunning_);
    finished_ = true;
  });
}

FrontRun::~FrontRun() {
  if (thread_.joinable()) join();
  folders_.drive().onDriveState = nullptr;
  folders_.drive().createMirror = nullptr;
}

bool FrontRun::waitMounted(char letter) const {
  return WaitFor([&] { return finished_ || folders_.isMounted(letter); }) &&
         folders_.isMounted(letter);
}

int FrontRun::join() {
  if (!thread_.joinable()) return result_;
  keepRunning_ = false;
  if (!finished_) Unmount(folders_.drive());
  // A drive that was still on its way up missed the first request; ask again until it goes.
  bool gone = WaitFor([&] {
    if (finished_) return true;
    std::u16string letter = folders_.drive().runDriveLetter();
    if (!letter.empty()) DokanUnmount(letter[0]);
    return false;
  });
  if (!gone) {
    ADD_FAILURE() << "the drive did not go after Unmount; forcing it off";
    ForceUnmountBelow(folders_.driveRoot());
  }
  thread_.join();
  return result_;
}

std::vector<int32_t> FrontRun::states() const {
  std::lock_guard<std::mutex> guard(statesLock_);
  return states_;
}

LetterOccupier::LetterOccupier(char letter) : letter_(letter) {
  options_.DriveLetter = static_cast<WCHAR>(letter);
  options_.ThreadCount = 2;
  thread_ = std::thread([this] { result_ = DokanMain(&options_, &operations_); });
}

LetterOccupier::~LetterOccupier() {
  bool gone = WaitFor([&] {
    DokanUnmount(static_cast<WCHAR>(letter_));
    return result_ != 1;
  });
  if (!gone) {
    ADD_FAILURE() << "the occupying drive did not go; forcing it off";
    if (const char* root = std::getenv("QUELLAN_DRIVE_ROOT")) ForceUnmountBelow(root);
  }
  thread_.join();
}

bool LetterOccupier::mounted() const {
  const char* root = std::getenv("QUELLAN_DRIVE_ROOT");
  if (root == nullptr) return false;
  char resolved[PATH_MAX];
  std::string canonical = ::realpath(root, resolved) ? resolved : root;
  return WaitFor([&] {
           return result_ != 1 || driveroot::FindMount(driveroot::CurrentMounts(),
                                                       canonical + "/" + letter_) != nullptr;
         }) &&
         result_ == 1;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
