// Whole-file reads and atomic replacement (temporary file, fsync, rename).
#pragma once

#include <optional>
#include <string>

namespace qserver {

// Writes `content` to `path` so that a reader or a crash sees either the old or the new file.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// The whole content of `path`, or nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// fsyncs the folder that holds `path`, so that a rename inside it is durable.
void SyncParentFolder(const std::string& path);

}  // namespace qserver
