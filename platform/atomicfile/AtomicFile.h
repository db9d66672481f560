// Replacing a whole file so that a reader, another writer or a crash sees either the old or the
// new content, never a part: the content goes to a temporary beside the file, which is then
// renamed over it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace atomicfile {

struct ReplaceOptions {
  bool syncFile = false;    // fsync the new content before the rename, so it survives a crash
  bool syncFolder = false;  // fsync the folder after the rename, so the rename survives too
  mode_t mode = 0666;       // permissions of the new file, less the process's umask
};

// Replaces `path` with `content`. The temporary is named uniquely per process, thread and call,
// so writers in one process or several never share one. On failure the temporary is removed,
// `path` is left as it was, `error` (when given) says which step failed and why, and errno
// holds the cause.
bool ReplaceFile(const std::string& path, std::string_view content,
                 const ReplaceOptions& options = {}, std::string* error = nullptr);

// fsyncs the folder that holds `path`, so that a rename or creation inside it is durable.
bool SyncFolderOf(const std::string& path, std::string* error = nullptr);

}  // namespace atomicfile
