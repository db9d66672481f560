#include "platform/driveroot/DriveRoot.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace driveroot {

namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid())) {
    if (entry->pw_dir != nullptr) return entry->pw_dir;
  }
  return "/tmp";
}

}  // namespace

std::string DriveRoot() {
  const char* configured = std::getenv("QUELLAN_DRIVE_ROOT");
  std::string root = (configured != nullptr && configured[0] != '\0') ? std::string(configured)
                                                                      : HomeFolder() + "/Quellan";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string MountPointOf(char16_t letter) {
  if (!IsDriveLetter(letter)) return std::string();
  return DriveRoot() + "/" + static_cast<char>(letter);
}

}  // namespace driveroot
