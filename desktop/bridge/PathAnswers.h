// What the drive program's answers about remote entries mean to the page: the local path of a
// key, which may be an error code instead, and the parent folders of a removed entry.
#pragma once

#include <QString>
#include <optional>
#include <string>

namespace bridge {

struct PageFailure {
  int code;
  QString message;
};

// The failure an answer of "local path of key" stands for: empty means the file is unknown,
// and an answer shorter than five characters is an error code of the drive program. No
// value when the answer is a path.
std::optional<PageFailure> LocalPathFailure(const QString& answer);

// The folder that holds the entry at `path` ("\a\b\c" gives "\a\b"), as the drive program
// writes paths below its root: single backslashes, no trailing one. No value when no parent
// folder is left to check (the entry lies in the root, or the path is too short).
std::optional<std::string> ParentFolderOf(const std::string& path);

}  // namespace bridge
