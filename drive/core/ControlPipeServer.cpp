#include "drive/core/ControlPipeServer.h"

void ControlPipeServer::start() {
  MutexLock guard(lock_);
  stopping_ = false;
  if (!thread_.joinable()) thread_ = std::thread(&ControlPipeServer::serve, this);
}

void ControlPipeServer::stop() {
  {
    MutexLock guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ControlPipeServer::serve() {
  MutexLock guard(lock_);
  guard.wait(wake_, [this]() REQUIRES(lock_) { return stopping_; });
}
