#include "drive/core/ControlPipeServer.h"

#include <cstdio>

#include "drive/core/DriveProcess.h"
#include "drive/core/PipeSession.h"
#include "platform/pipe/PipePath.h"

namespace {

class SocketConnection : public PipeConnection {
 public:
  explicit SocketConnection(named_pipe::PipeServer& pipe) : pipe_(pipe) {}
  long readRecord(PipeMessage& message) override { return pipe_.read(&message, sizeof(message)); }
  bool writeRecord(const PipeMessage& message) override {
    return pipe_.write(&message, sizeof(message));
  }

 private:
  named_pipe::PipeServer& pipe_;
};

}  // namespace

ControlPipeServer::ControlPipeServer(std::string path, std::function<void()> onPipeLost)
    : path_(std::move(path)), onPipeLost_(std::move(onPipeLost)) {}

ControlPipeServer::ControlPipeServer()
    : ControlPipeServer(named_pipe::PipePath(), [] { EndProcess(0); }) {}

bool ControlPipeServer::start() {
  if (thread_.joinable()) return true;
  stopping_ = false;
  bool created = pipe_.create(path_);
  if (!created) {
    DriveLog().log(u"create fifo Err", kLogProgress);
    // Without the pipe the program ends; say why where the person who started it looks.
    std::fprintf(stderr,
                 "quellan: cannot make the control pipe %s (its folder must be yours and "
                 "closed to other users)\n",
                 path_.c_str());
  }
  thread_ = std::thread(&ControlPipeServer::serve, this);
  return created;
}

void ControlPipeServer::stop() {
  stopping_ = true;
  pipe_.wake();
  if (thread_.joinable()) thread_.join();
  pipe_.close();
}

void ControlPipeServer::serve() {
  SocketConnection connection(pipe_);
  while (pipe_.connect()) {
    ServeConnection(connection);
    pipe_.disconnect();
  }
  if (stopping_) return;
  pipe_.close();
  if (onPipeLost_) onPipeLost_();
}
