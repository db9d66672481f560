// The system's current mounts, read from /proc/self/mountinfo, and the drive letters they
// occupy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace driveroot {

struct MountEntry {
  std::string mountPoint;  // unescaped
  unsigned major = 0;      // device of the mounted file system
  unsigned minor = 0;
  std::string fsType;
};

// Parses mountinfo text. Lines that do not have the expected fields are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The current mounts of this process's mount namespace (empty when unreadable).
std::vector<MountEntry> CurrentMounts();

// The entry mounted at `path` (the last, topmost one), or nullptr.
const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const std::string& path);

// The drive root with symbolic links resolved (as mountinfo shows it); the root as given
// when it does not exist.
std::string CanonicalDriveRoot();

}  // namespace driveroot

// Drive roots in the usual form: "X:\" for each occupied letter, each followed by a null,
// the whole list by another null. Returns the length written without the final null, or,
// when `bufferLength` (in characters) is too small, the length needed including it.
uint32_t GetLogicalDriveStrings(uint32_t bufferLength, char16_t* buffer);
