// A program the desktop session test starts: in a process group of its own, optionally as
// another user with an environment of its own, its output in a file. Its whole group is ended
// when the object goes (SIGTERM, then SIGKILL after a deadline), also when a test failed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

using Environment = std::vector<std::pair<std::string, std::string>>;

struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
};

struct SpawnOptions {
  std::vector<std::string> arguments;        // the program's path first
  std::string outputFile;                    // stdout and stderr; /dev/null when empty
  const Account* account = nullptr;          // run as this user, else as the test
  const Environment* environment = nullptr;  // the whole environment, else the test's own
  std::string workingFolder;
  int keepFd = -1;  // a descriptor the program inherits (Xvfb's -displayfd)
};

class SpawnedProcess {
 public:
  SpawnedProcess() = default;
  explicit SpawnedProcess(const SpawnOptions& options);
  ~SpawnedProcess() { end(); }
  SpawnedProcess(SpawnedProcess&& other) noexcept;
  SpawnedProcess& operator=(SpawnedProcess&& other) noexcept;

  pid_t pid() const { return pid_; }
  bool running();
  // The exit status once it ended within `limit` (-1 when a signal ended it), else -2.
  int waitExit(std::chrono::milliseconds limit);
  // Ends its process group: SIGTERM, and SIGKILL for what still runs after `grace`.
  void end(std::chrono::milliseconds grace = std::chrono::seconds(3));

 private:
  bool reap(bool block);

  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -2;
};
