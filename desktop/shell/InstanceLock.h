// The single-instance lock, one per user: a lock on the file "quellanview.lock" in the user's
// runtime folder ($XDG_RUNTIME_DIR, else /tmp/quellan-<uid>, which must be the user's own
// folder closed to others). Another user's copy takes a lock of its own. A second copy of the
// same user asks the running one, through the socket "quellanview.raise" beside the lock, to
// bring its window to the front, and ends.
#pragma once

#include <chrono>
#include <string>

namespace instance_lock {

enum class Outcome {
  kAcquired,  // this process holds the lock until it ends (or execs another program)
  kRunning,   // another copy of this user holds it
  kFailed,    // the folder cannot be used; `problem` says why
};

// $XDG_RUNTIME_DIR, else /tmp/quellan-<uid>.
std::string LockFolder();
// The socket on which the running copy takes requests to show its window.
std::string RaiseSocketPath();

Outcome Acquire(std::string* problem);

// Asks the running copy to bring its window to the front, trying until `limit` has passed
// (the running copy may still be starting). True when the request was delivered.
bool AskRunningCopyToRaise(std::chrono::milliseconds limit);

}  // namespace instance_lock
