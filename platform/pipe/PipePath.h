// Where the control pipe lives: a Unix domain socket in a folder only its user can enter.
#pragma once

#include <string>

namespace named_pipe {

// $QUELLAN_PIPE when set, else $XDG_RUNTIME_DIR/Tarvex, else /tmp/quellan-<uid>/Tarvex.
std::string PipePath();

// Makes sure the folder of `socketPath` exists, belongs to this user and is closed to
// everyone else (created with mode 0700 when missing). False when it cannot be trusted.
bool PreparePipeFolder(const std::string& socketPath);

}  // namespace named_pipe
