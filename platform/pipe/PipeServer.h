// The server end of the control pipe: one listening Unix domain socket, with the steps of a
// named pipe server (create, wait for a client, read, write, disconnect) for one client at a
// time, or accept() that hands each client over to be served on its own while the server
// takes the next. Clients that come while none is taken wait in the queue.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace named_pipe {

// One client taken by PipeServer::accept(), served apart from the others. Its reads end, like
// the server's, when the server's wake() came, so the server must outlive it. Closed when
// destroyed.
class ServedClient {
 public:
  ServedClient(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
  ~ServedClient();
  ServedClient(const ServedClient&) = delete;
  ServedClient& operator=(const ServedClient&) = delete;

  // As PipeServer::read and PipeServer::write.
  long read(void* buffer, size_t size, std::chrono::milliseconds limit);
  bool write(const void* data, size_t size);

 private:
  const int fd_;
  const int wakeFd_;
};

class PipeServer {
 public:
  PipeServer();
  ~PipeServer();  // closes the pipe and removes its socket
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Creates the socket at `path` (mode 0600, in a folder of mode 0700). Fails when another
  // live server holds the path, when the folder cannot be trusted or the path is taken by
  // something else; a socket left behind by a dead server is replaced.
  bool create(const std::string& path);
  // Waits for a client. False when the pipe was not created, the wait failed or the server
  // was woken by wake().
  bool connect();
  // Result of read() when the client sent less than asked for within the time allowed.
  static constexpr long kTimedOut = -2;
  static constexpr std::chrono::milliseconds kNoLimit{-1};
  // Reads exactly `size` bytes, however the client's writes split or join them, waiting at
  // most `limit` for all of them. Returns `size`; -1 when the client closed its end, the read
  // failed or wake() came; kTimedOut when the time ran out (what arrived is lost).
  long read(void* buffer, size_t size, std::chrono::milliseconds limit = kNoLimit);
  // Writes all `size` bytes; false when the client is gone.
  bool write(const void* data, size_t size);
  // Drops the current client; the pipe waits for the next one.
  void disconnect();
  // Waits for a client and hands it over; null when the pipe was not created, the wait
  // failed or the server was woken by wake(). The server's own client is left alone.
  std::unique_ptr<ServedClient> accept();
  void close();

  // Makes a blocked or later connect(), accept() or read() on another thread, and the reads of
  // every client handed over by accept(), return failure at once.
  void wake();

  const std::string& path() const { return path_; }

 private:
  // Waits for a client and takes it; its descriptor, or -1 (as for connect()).
  int takeClient();

  std::string path_;
  int listener_ = -1;
  int client_ = -1;
  int wakeFd_ = -1;  // an eventfd, readable once wake() was called
};

}  // namespace named_pipe
