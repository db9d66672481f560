// The control pipe server's thread, started by the run routine: takes each client that comes
// to the pipe and serves its records on a thread of its own until it leaves, so that the
// desktop program's parties (its drive watcher, its page, its upload workers) each keep a
// connection of their own. A client that leaves a record unsent for longer than the idle
// limit is dropped, so it cannot hold a place that a waiting client needs. When the pipe
// cannot be created or waited on, the drive program ends itself (status 0).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/pipe/PipeServer.h"

struct DriveProcess;

class ControlPipeServer {
 public:
  // Time a client is given to send each whole record. The desktop program asks once a second.
  static constexpr std::chrono::milliseconds kIdleLimit{5000};
  // Clients served at once; more wait in the pipe's queue until one leaves.
  static constexpr size_t kMaxClients = 8;

  // Serves the commands from `drive`. `onPipeLost` runs on the server thread when the pipe
  // fails; the program ends there.
  ControlPipeServer(DriveProcess& drive, std::string path, std::function<void()> onPipeLost,
                    std::chrono::milliseconds idleLimit = kIdleLimit);
  // At the default pipe path, ending the process when the pipe fails.
  explicit ControlPipeServer(DriveProcess& drive);
  ~ControlPipeServer() { stop(); }
  ControlPipeServer(const ControlPipeServer&) = delete;
  ControlPipeServer& operator=(const ControlPipeServer&) = delete;

  // Creates the pipe and starts the thread. False when the pipe could not be created (the
  // thread then reports the pipe as lost at once, as the program expects).
  bool start();
  // Ends the thread and joins it; the socket is removed.
  void stop();

 private:
  void serve();

  DriveProcess& drive_;
  const std::string path_;
  const std::function<void()> onPipeLost_;
  const std::chrono::milliseconds idleLimit_;
  named_pipe::PipeServer pipe_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};
