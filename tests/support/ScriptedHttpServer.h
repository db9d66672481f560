// A small HTTP server on a free loopback port for the storage client's tests: every request
// is recorded whole and answered with the raw bytes the test's handler returns (status line,
// headers and body), then the connection is closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedHttpServer {
 public:
  // Takes the request target ("/quellan?action=..."), returns the raw reply.
  using Handler = std::function<std::string(const std::string& target)>;

  explicit ScriptedHttpServer(Handler handler);
  ~ScriptedHttpServer();

  uint16_t port() const { return port_; }
  // Every request received so far, head only (request line and headers).
  std::vector<std::string> requests() const;
  std::vector<std::string> targets() const;

  // A 200 reply with this body (and a Content-Length).
  static std::string Reply(const std::string& body);

 private:
  void serve();
  void answer(int connection);

  Handler handler_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex lock_;
  std::vector<std::string> requests_;  // guarded by lock_
  std::vector<std::string> targets_;   // guarded by lock_
  std::thread thread_;
};

// A free loopback port with nothing listening on it (taken and released at once).
uint16_t ClosedLoopbackPort();
