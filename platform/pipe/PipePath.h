// Where the control pipe lives: a Unix domain socket in a folder only its user can enter.
#pragma once

#include <string>

namespace named_pipe {

// $QUELLAN_PIPE when set, else $XDG_RUNTIME_DIR/Tarvex, else /tmp/quellan-<uid>/Tarvex.
std::string PipePath();

enum class FolderTrust {
  kTrusted,    // a real folder of this user, closed to everyone else
  kMissing,    // nothing there yet
  kUntrusted,  // a symbolic link, not a folder, another user's, or open to others
};

// Whether the folder of `socketPath` may hold the pipe. Both ends ask: the server before it
// binds there, the client before it connects, since another user who made the folder (say
// one planted under /tmp) could have put their own socket in it. `problem` (when given) is
// set to a readable reason for kUntrusted.
FolderTrust CheckPipeFolder(const std::string& socketPath, std::string* problem = nullptr);

// Makes sure the folder of `socketPath` exists and is trusted (created with mode 0700 when
// missing). False when it cannot be trusted.
bool PreparePipeFolder(const std::string& socketPath);

}  // namespace named_pipe
