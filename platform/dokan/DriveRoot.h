// Where drive letters live on this machine: drive letter X is the folder <drive root>/X.
#pragma once

#include <string>

#include "platform/dokan/DokanTypes.h"

namespace dokan {

// $QUELLAN_DRIVE_ROOT when set and not empty, else "<home>/Quellan"; no trailing "/".
std::string DriveRoot();

// "<drive root>/X" for an upper-case letter X; "" for anything else.
std::string MountPointOf(WCHAR letter);

inline bool IsDriveLetter(WCHAR letter) { return letter >= u'A' && letter <= u'Z'; }

}  // namespace dokan
