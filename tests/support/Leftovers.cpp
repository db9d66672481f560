#include "tests/support/Leftovers.h"

#include <dirent.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "platform/driveroot/MountTable.h"
#include "platform/process/Process.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kOwnerVariable = "QUELLAN_TEST_OWNER";

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// The owner's pid in a folder name "quellan-<pid>-XXXXXX".
std::optional<pid_t> OwnerOfFolderName(const std::string& name) {
  const std::string prefix = "quellan-";
  if (name.rfind(prefix, 0) != 0) return std::nullopt;
  char* end = nullptr;
  long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
  if (pid <= 0 || *end != '-') return std::nullopt;
  return static_cast<pid_t>(pid);
}

// The owner named in a process's environment, when a test started it.
std::optional<pid_t> OwnerOfProcess(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/environ", std::ios::binary);
  const std::string key = std::string(kOwnerVariable) + "=";
  for (std::string entry; std::getline(in, entry, '\0');) {
    if (entry.rfind(key, 0) == 0) return std::atoi(entry.c_str() + key.size());
  }
  return std::nullopt;
}

void EndProcessesOfEndedTests() {
  DIR* proc = ::opendir("/proc");
  if (!proc) return;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == ::getpid()) continue;
    struct stat st {};
    if (::stat(("/proc/" + std::string(entry->d_name)).c_str(), &st) != 0) continue;
    if (st.st_uid != ::getuid()) continue;
    auto owner = OwnerOfProcess(entry->d_name);
    if (owner && *owner > 0 && !Alive(*owner)) ::kill(static_cast<pid_t>(pid), SIGKILL);
  }
  ::closedir(proc);
}

// Unmounts what is mounted below the folders of ended tests, then removes those folders.
void ClearFoldersOfEndedTests() {
  fs::path temp = fs::temp_directory_path();
  std::set<fs::path> ended;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(temp, error)) {
    auto owner = OwnerOfFolderName(entry.path().filename().string());
    if (owner && !Alive(*owner)) ended.insert(entry.path());
  }
  for (const fs::path& folder : ended) {
    ForceUnmountBelow(folder.string());
    std::string prefix = folder.string() + "/";
    bool stillMounted = false;
    for (const auto& mount : driveroot::CurrentMounts())
      if (mount.mountPoint.rfind(prefix, 0) == 0) stillMounted = true;
    // Removing files below a drive that is still mounted would remove them on its service.
    if (!stillMounted) fs::remove_all(folder, error);
  }
}

}  // namespace

void EndLeftoversOfEndedTests() {
  ::setenv(kOwnerVariable, std::to_string(::getpid()).c_str(), 1);
  EndProcessesOfEndedTests();
  ClearFoldersOfEndedTests();
}

void ForceUnmountBelow(const std::string& folder) {
  char resolved[PATH_MAX];
  std::string prefix = (::realpath(folder.c_str(), resolved) ? resolved : folder) + "/";
  std::vector<driveroot::MountEntry> mounts = driveroot::CurrentMounts();
  for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
    if (it->mountPoint.compare(0, prefix.size(), prefix) != 0) continue;
    if (::umount2(it->mountPoint.c_str(), MNT_DETACH) != 0)
      process::RunAndWait({"fusermount3", "-u", "-z", "--", it->mountPoint});
  }
}
