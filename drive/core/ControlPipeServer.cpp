#include "drive/core/ControlPipeServer.h"

void ControlPipeServer::start() {
  std::lock_guard<std::mutex> guard(lock_);
  stopping_ = false;
  if (!thread_.joinable()) thread_ = std::thread(&ControlPipeServer::serve, this);
}

void ControlPipeServer::stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ControlPipeServer::serve() {
  std::unique_lock<std::mutex> guard(lock_);
  wake_.wait(guard, [this] { return stopping_; });
}
