// The server end of the control pipe: one listening Unix domain socket that serves one
// client at a time, with the steps of a named pipe server (create, wait for a client, read,
// write, disconnect). Clients that come while one is served wait in the queue.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace named_pipe {

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
  void close();

  // Makes a blocked or later connect() or read() on another thread return failure at once.
  void wake();

  const std::string& path() const { return path_; }

 private:
  // Waits until `fd` is readable, wake() came or `limitMs` passed (-1: no limit). 1 when
  // readable, 0 when the time ran out, -1 for wake() or a failed wait.
  int waitReadable(int fd, int limitMs);

  std::string path_;
  int listener_ = -1;
  int client_ = -1;
  int wakeFd_ = -1;  // an eventfd, readable once wake() was called
};

}  // namespace named_pipe
