// Name rules and confinement of paths to a user's folder.
#pragma once

#include <string>
#include <string_view>

namespace qserver {

// True when a client may use `name` for a file or folder: not empty, not "." or "..",
// and free of "/", "\", ",", line breaks and NUL.
bool IsAcceptableName(std::string_view name);

// The name as it is listed: "," and line breaks become "_".
std::string ListedName(std::string_view name);
// The same, written at the end of `out`.
void AppendListedName(std::string& out, std::string_view name);

// True when `relative` (components joined by "/", no leading "/") stays below the root:
// no empty, "." or ".." component. The empty text is the root itself.
bool IsConfinedRelativePath(std::string_view relative);

// True when no component of root/relative is a symbolic link and every component
// but the last exists as a folder. Guards against links placed in a user's folder.
bool HasNoLinks(const std::string& root, std::string_view relative);

// Joins the user's root folder and a relative path.
std::string JoinPath(const std::string& root, std::string_view relative);

}  // namespace qserver
