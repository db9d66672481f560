// Serves each client taken from the pipe on a thread of its own, so that a client busy with a
// slow request or one that stays connected never holds the others up. At most `limit` clients
// are served at once; the server takes the next one only when there is room.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <thread>

#include "platform/pipe/PipeServer.h"
#include "platform/sync/Mutex.h"

namespace named_pipe {

class ClientSessions {
 public:
  using Serve = std::function<void(ServedClient&)>;

  explicit ClientSessions(size_t limit) : limit_(limit) {}
  // Waits for every session to end: their clients must have been made to leave first (the
  // server's wake() ends their reads).
  ~ClientSessions() { joinAll(); }
  ClientSessions(const ClientSessions&) = delete;
  ClientSessions& operator=(const ClientSessions&) = delete;

  // Waits until fewer than `limit` clients are served.
  void waitForRoom() EXCLUDES(lock_);
  // Runs `serve(client)` on a new thread; the client is closed when it returns.
  void start(std::unique_ptr<ServedClient> client, Serve serve) EXCLUDES(lock_);
  void joinAll() EXCLUDES(lock_);

 private:
  struct Session {
    std::thread thread;
    bool done = false;
  };
  // Joins the sessions that have ended and forgets them.
  void joinFinished() REQUIRES(lock_);

  const size_t limit_;
  Mutex lock_;
  std::condition_variable ended_;
  std::list<Session> sessions_ GUARDED_BY(lock_);
};

}  // namespace named_pipe
