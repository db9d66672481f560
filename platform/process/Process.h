// Starting and ending processes: the task-kill-by-image-name command and a plain
// run-and-wait of a helper program.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace process {

// Full path of this program's executable file ("" when it cannot be found).
std::string ExecutablePath();

// Ends, with SIGKILL, every process of the calling user whose executable's base name is
// `imageName` with a trailing ".exe" removed; never the calling process itself. Waits until
// they are gone (at most `waitMs`); a process that has ended but is not yet reaped counts as
// gone. Reaps nothing: the caller's own children keep their exit status for its waitpid.
// Returns how many processes were signalled.
int KillByImageName(const std::string& imageName, int waitMs = 5000);

// Runs argv[0] (looked up on PATH) with the arguments, standard output and error sent to
// /dev/null when `quiet`. Returns its exit status, or -1 when it could not be started or did
// not exit normally. With `limitMs` of 0 or more, a program still running after that long is
// ended with SIGKILL (and reaped), and the result is -1.
int RunAndWait(const std::vector<std::string>& argv, bool quiet = true, int limitMs = -1);

// True when `program` is found on PATH (or is an executable path).
bool IsOnPath(const std::string& program);

// Starts argv[0] (a path) with the arguments and returns at once: its pid, or -1 when it could
// not be started. Standard input and output go to /dev/null; standard error goes to
// `errorFd` (when 0 or more, else to /dev/null). The caller reaps it (ExitedYet).
pid_t StartDetached(const std::vector<std::string>& argv, int errorFd = -1);

// Reaps `pid`, a child of the caller, when it has ended, without waiting: true with its exit
// status (or 128 + the signal that ended it) in `exitCode`; false while it runs.
bool ExitedYet(pid_t pid, int* exitCode);

// The arguments `pid` was started with (argv[0] first); empty when it is gone or not readable.
std::vector<std::string> CommandLineOf(pid_t pid);
// The working folder of `pid`; empty when it cannot be read.
std::string WorkingFolderOf(pid_t pid);

// Ends `pid` with SIGKILL when it is a process of the calling user, and waits until it is gone
// (at most `waitMs`; an ended child not yet reaped counts as gone). False when it was not
// signalled.
bool KillOne(pid_t pid, int waitMs = 5000);

}  // namespace process
