// The drive program this desktop program started last: its process, what it wrote on its
// standard error, and, when it ended before its drive was ever mounted, why.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class StartedDrive {
 public:
  StartedDrive() = default;
  ~StartedDrive();
  StartedDrive(const StartedDrive&) = delete;
  StartedDrive& operator=(const StartedDrive&) = delete;

  // Starts `argv` with its standard error kept in memory; `logPath` is the drive program's
  // log, whose lines written from now on may tell why it ended. False when it could not be
  // started; failure() then says why.
  bool start(const std::vector<std::string>& argv, const std::string& logPath);

  // Reaps the process when it has ended; true while it runs.
  bool running();
  pid_t pid() const { return pid_; }

  // Its drive was seen mounted: a later end is no failed start.
  void noteMounted() { mounted_ = true; }
  bool mounted() const { return mounted_; }
  // It was ended on purpose: its end is no failed start either.
  void noteStopped() { stopped_ = true; }

  // Why it ended before mounting its drive: the last line it wrote on standard error, else the
  // last line its log gained, else its exit code. Empty while it runs or when its end was no
  // failure.
  const std::string& failure() const { return failure_; }

 private:
  std::string lastErrorLine() const;
  std::string lastNewLogLine() const;

  pid_t pid_ = -1;
  int errorFd_ = -1;
  std::string logPath_;
  long long logStart_ = 0;
  bool mounted_ = false;
  bool stopped_ = false;
  std::string failure_;
};
