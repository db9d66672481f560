// The control pipe server's thread. It is started by the run routine; until the pipe
// protocol is served it only waits to be stopped.
#pragma once

#include <condition_variable>
#include <thread>

#include "platform/sync/Mutex.h"

class ControlPipeServer {
 public:
  ControlPipeServer() = default;
  ~ControlPipeServer() { stop(); }
  ControlPipeServer(const ControlPipeServer&) = delete;
  ControlPipeServer& operator=(const ControlPipeServer&) = delete;

  void start();
  // Ends the thread and joins it.
  void stop();

 private:
  void serve();

  Mutex lock_;
  std::condition_variable wake_;
  bool stopping_ GUARDED_BY(lock_) = false;
  std::thread thread_;
};
