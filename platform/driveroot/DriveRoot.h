// Where drive letters live on this machine: drive letter X is the folder <drive root>/X.
#pragma once

#include <cstdint>
#include <string>

namespace driveroot {

// $QUELLAN_DRIVE_ROOT when set and not empty, else "<home>/Quellan"; no trailing "/".
std::string DriveRoot();

// "<drive root>/X" for an upper-case letter X; "" for anything else.
std::string MountPointOf(char16_t letter);

inline bool IsDriveLetter(char16_t letter) { return letter >= u'A' && letter <= u'Z'; }

}  // namespace driveroot
