// Test fixture: runs quellan-server on a temporary data folder and stops it again.
// Ports default to free ones, so tests using it can run in parallel.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/TempDir.h"

class ReferenceServer {
 public:
  ReferenceServer();
  ~ReferenceServer();  // stops the server; its temporary folder goes with it
  ReferenceServer(const ReferenceServer&) = delete;
  ReferenceServer& operator=(const ReferenceServer&) = delete;

  // Runs `quellan-server adduser`; the password is the plain text the user types.
  void addUser(const std::string& name, const std::string& password, int quotaGiB = 10);
  // DIR/<user>, the user's tree on disk.
  std::string userDir(const std::string& name) const;

  // 0 = a free port. Waits until both ports accept connections; false on failure.
  bool start(int webPort = 0, std::vector<std::string> extraArgs = {});
  void stop();
  // Ends the server with SIGKILL, as a crash would.
  void kill();
  bool running() const { return pid_ > 0; }
  // Exit status of the last stop(): 0 for a clean stop, -1 when it had to be killed.
  int lastExitStatus() const { return lastExitStatus_; }

  int webPort() const { return webPort_; }
  int streamPort() const { return streamPort_; }
  std::string dataDir() const { return root_.path() + "/data"; }
  // The server's stderr (one line per request).
  std::string logPath() const { return root_.path() + "/server.log"; }

  // Replaces the fault settings of the running server ("fault-delay-ms 200", one option a
  // line); an empty list switches every fault off. Takes effect with the next request.
  void setFaults(const std::vector<std::string>& lines);

  // Path of the quellan-server program.
  static std::string ProgramPath();

 private:
  TempDir root_;
  pid_t pid_ = -1;
  int webPort_ = 0;
  int streamPort_ = 0;
  int lastExitStatus_ = 0;
};
