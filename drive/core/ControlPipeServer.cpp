#include "drive/core/ControlPipeServer.h"

#include <cstdio>

#include "drive/core/DriveProcess.h"
#include "drive/core/PipeSession.h"
#include "platform/pipe/ClientSessions.h"
#include "platform/pipe/PipePath.h"

namespace {

// Records are taken from the socket whole: one split over several writes is joined, and of
// several sent at once only the first is taken, the rest waiting for the next read.
class SocketConnection : public PipeConnection {
 public:
  SocketConnection(named_pipe::ServedClient& pipe, std::chrono::milliseconds idleLimit,
                   MirrorLog& log)
      : pipe_(pipe), idleLimit_(idleLimit), log_(log) {}
  long readRecord(PipeMessage& message) override {
    long count = pipe_.read(&message, sizeof(message), idleLimit_);
    if (count == named_pipe::PipeServer::kTimedOut) {
      log_.log(u"pipe client idle, dropped", kLogProgress);
      return -1;
    }
    return count;
  }
  bool writeRecord(const PipeMessage& message) override {
    return pipe_.write(&message, sizeof(message));
  }

 private:
  named_pipe::ServedClient& pipe_;
  const std::chrono::milliseconds idleLimit_;
  MirrorLog& log_;
};

}  // namespace

ControlPipeServer::ControlPipeServer(DriveProcess& drive, std::string path,
                                     std::function<void()> onPipeLost,
                                     std::chrono::milliseconds idleLimit)
    : drive_(drive),
      path_(std::move(path)),
      onPipeLost_(std::move(onPipeLost)),
      idleLimit_(idleLimit) {}

ControlPipeServer::ControlPipeServer(DriveProcess& drive)
    : ControlPipeServer(drive, named_pipe::PipePath(), [&drive] { EndProcess(drive, 0); }) {}

bool ControlPipeServer::start() {
  if (thread_.joinable()) return true;
  stopping_ = false;
  bool created = pipe_.create(path_);
  if (!created) {
    drive_.log().log(u"create fifo Err", kLogProgress);
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
  named_pipe::ClientSessions sessions(kMaxClients);
  for (;;) {
    sessions.waitForRoom();
    std::unique_ptr<named_pipe::ServedClient> client = pipe_.accept();
    if (!client) break;
    sessions.start(std::move(client), [this](named_pipe::ServedClient& served) {
      SocketConnection connection(served, idleLimit_, drive_.log());
      ServeConnection(connection, drive_);
    });
  }
  // The clients still served are made to leave, so that their sessions end.
  pipe_.wake();
  sessions.joinAll();
  if (stopping_) return;
  pipe_.close();
  if (onPipeLost_) onPipeLost_();
}
