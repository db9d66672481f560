// A stream server for tests, listening on a free loopback port. Every request frame goes to a
// handler written by the test, so replies can be right, late, cut short or wrong on purpose.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Files.h"

class ScriptedConnection {
 public:
  explicit ScriptedConnection(int fd) : fd_(fd) {}
  // A reply frame: 4 bytes, the text length (big-endian), the text, then `data`.
  static std::string Frame(const std::string& text, const std::string& data = {});
  // Sends Frame(text, data).
  bool reply(const std::string& text, const std::string& data = {});
  // Sends a frame header announcing `length` text bytes, then `bytes` as they are.
  bool replyRaw(uint32_t length, const std::string& bytes);
  bool sendBytes(const std::string& bytes);
  // Reads exactly n bytes that follow a request (the raw data of an upload).
  bool readBytes(std::string* out, size_t n);
  // Ends the connection after the handler returns.
  void hangUp() { hangUp_ = true; }
  bool hungUp() const { return hangUp_; }
  // Counts reply bytes sent on this connection.
  uint64_t bytesSent() const { return bytesSent_; }

 private:
  int fd_;
  bool hangUp_ = false;
  uint64_t bytesSent_ = 0;
};

class ScriptedStreamServer {
 public:
  using Handler = std::function<void(ScriptedConnection&, const std::string& request)>;

  explicit ScriptedStreamServer(Handler handler);
  ~ScriptedStreamServer();

  int port() const { return port_; }
  void stop();

  int connections() const { return connections_; }
  std::vector<std::string> requests() const;
  // Requests whose text begins with `prefix` followed by a comma.
  int count(const std::string& name) const;
  // The length fields of all request frames, as received.
  std::vector<uint32_t> frameLengths() const;

 private:
  void acceptLoop();
  void serve(int fd);

  Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptThread_;
  mutable std::mutex lock_;
  std::vector<std::thread> connectionThreads_;  // guarded by lock_
  std::vector<int> openFds_;                    // guarded by lock_
  std::vector<std::string> requests_;           // guarded by lock_
  std::vector<uint32_t> frameLengths_;          // guarded by lock_
};

// A handler that serves one file like a stream server, with faults that tests switch on.
class FileStreamService {
 public:
  FileStreamService(std::string content, std::string token1, std::string token2,
                    std::string ext = "bin");

  void operator()(ScriptedConnection& connection, const std::string& request);
  ScriptedStreamServer::Handler handler() {
    return [this](ScriptedConnection& c, const std::string& r) { (*this)(c, r); };
  }

  const std::string& content() const { return content_; }

  // Faults, changeable while serving.
  std::atomic<uint64_t> dropAfterBytes{0};   // hang up once a connection has sent this many
  std::atomic<bool> silentFetch{false};      // never answer "t1_read"
  std::atomic<bool> silentSlaveOpen{false};  // never answer "t_open"
  std::atomic<bool> failSlaveOpen{false};    // answer "t_open" with "err,token"
  std::atomic<int> fetchChunk{65536};        // data per "t1_read" reply
  std::atomic<bool> hold{false};             // answer nothing until cleared, then go on
  std::atomic<bool> refuseAll{false};        // hang up on every request
  std::atomic<int> hangUpOpens{0};           // hang up on this many "t1_open" requests

 private:
  void open(ScriptedConnection& connection, const std::vector<std::string>& fields);
  void sendData(ScriptedConnection& connection, int64_t offset, int64_t size, int chunk);

  std::string content_;
  std::string token1_;
  std::string token2_;
  std::string ext_;
  std::atomic<int> nextStream_{100};
};
