// Where a download lands. A download writes to a partial file of its own beside the target
// (the target's name with ".part"), which it alone resumes, and gives it the target's name
// only once it is complete. A file that is already there, the user's or another task's, is
// never written, resumed or replaced: the download takes the next free name "name (1).ext".
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace downloadtarget {

using Taken = std::function<bool(const std::string& path)>;

std::string PartPathOf(const std::string& filePath);

// `filePath` when neither it nor its partial file exists and `taken` does not claim it, else
// the first "stem (n).ext" in the same folder that is free in the same way; nothing when
// none of the first few thousand is.
std::optional<std::string> FreePath(const std::string& filePath, const Taken& taken = {});

// Creates the empty partial file of a free path, failing when any file already has its name,
// so that two tasks never share one.
bool ClaimPartFile(const std::string& filePath);

// Renames the complete partial file to `filePath`, or to the next free name when a file took
// that name meanwhile; the path it now has, or nothing when it could not be renamed.
std::optional<std::string> Place(const std::string& partPath, const std::string& filePath);

// The part of a path after its last slash, when that slash is not its first character.
std::string NameOf(const std::string& path);

}  // namespace downloadtarget
