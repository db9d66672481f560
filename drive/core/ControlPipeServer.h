// The control pipe server's thread. It is started by the run routine; until the pipe
// protocol is served it only waits to be stopped.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

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

  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;  // guarded by lock_
  std::thread thread_;
};
