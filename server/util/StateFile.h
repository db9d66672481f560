// Reading and replacing the service's state files (accounts, sessions, folder state, secrets).
#pragma once

#include <optional>
#include <string>

namespace qserver {

// Replaces `path` with `content` so that a reader or a crash sees either the old or the new
// file; the content and the rename both reach the disk before it returns. Readable by the
// service's user only.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// The whole content of `path`, or nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace qserver
