// Drive paths as the drive program hands them out ("M:\a\b") and the local folders they name
// on this machine: drive letter M is the folder <drive root>/M.
#pragma once

#include <string>

namespace drivepath {

// "M:\a\b" → "<drive root>/M/a/b"; "M:" and "M:\" → "<drive root>/M". Any other text (no
// drive letter and colon in front) is returned with its backslashes turned into slashes, so a
// local path passes through unchanged. "" stays "".
std::string ToLocalPath(const std::string& drivePath);

}  // namespace drivepath
