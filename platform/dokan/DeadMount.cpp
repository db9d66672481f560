#include "platform/dokan/DeadMount.h"

#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include "platform/driveroot/DriveRoot.h"
#include "platform/driveroot/MountTable.h"
#include "platform/process/Process.h"

namespace dokan {

namespace {

constexpr int kNotConnected = 1;
constexpr int kHelperLimitMs = 5000;

// Waits for `child` until `limitMs` has passed, then ends it; its exit status, or -1.
int ExitStatusWithin(pid_t child, int limitMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int status = 0;
  while (true) {
    pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (ended < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // A process waiting for a FUSE answer can always be ended with SIGKILL.
  ::kill(child, SIGKILL);
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

bool IsFuse(const driveroot::MountEntry& entry) { return entry.fsType.rfind("fuse", 0) == 0; }

}  // namespace

bool IsDeadFuseMount(const std::string& mountPoint, int limitMs) {
  std::vector<driveroot::MountEntry> mounts = driveroot::CurrentMounts();
  const driveroot::MountEntry* entry = driveroot::FindMount(mounts, mountPoint);
  if (entry == nullptr || !IsFuse(*entry)) return false;
  // statfs always goes to the file system process (the kernel keeps no answer of it), so a
  // mount without one fails with ENOTCONN at once. It is asked in a child process, so that a
  // drive that hangs holds only the child.
  const char* path = mountPoint.c_str();
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    struct statfs info;
    bool notConnected = ::statfs(path, &info) != 0 && errno == ENOTCONN;
    ::_exit(notConnected ? kNotConnected : 0);
  }
  return ExitStatusWithin(child, limitMs) == kNotConnected;
}

bool ClearDeadDrive(WCHAR letter) {
  if (!driveroot::IsDriveLetter(letter)) return false;
  std::string root = driveroot::CanonicalDriveRoot();
  std::string mountPoint = (root == "/" ? std::string() : root) + "/" + static_cast<char>(letter);
  if (!IsDeadFuseMount(mountPoint)) return false;
  // Root may detach it itself; anyone else needs the setuid helper, which lets the owner of
  // the mount take it away.
  if (::umount2(mountPoint.c_str(), MNT_DETACH) != 0) {
    process::RunAndWait({"fusermount3", "-u", "-z", "--", mountPoint}, true, kHelperLimitMs);
  }
  return driveroot::FindMount(driveroot::CurrentMounts(), mountPoint) == nullptr;
}

}  // namespace dokan
