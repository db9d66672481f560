#include "platform/pipe/ClientSessions.h"

namespace named_pipe {

void ClientSessions::joinFinished() {
  for (auto session = sessions_.begin(); session != sessions_.end();) {
    if (!session->done) {
      ++session;
      continue;
    }
    // A finished session only has its return left to do, which needs no lock.
    session->thread.join();
    session = sessions_.erase(session);
  }
}

void ClientSessions::waitForRoom() {
  MutexLock hold(lock_);
  joinFinished();
  hold.wait(ended_, [this]() REQUIRES(lock_) {
    joinFinished();
    return sessions_.size() < limit_;
  });
}

void ClientSessions::start(std::unique_ptr<ServedClient> client, Serve serve) {
  MutexLock hold(lock_);
  Session& session = sessions_.emplace_back();
  session.thread =
      std::thread([this, &session, client = std::move(client), serve = std::move(serve)]() mutable {
        serve(*client);
        client.reset();
        {
          MutexLock done(lock_);
          session.done = true;
        }
        ended_.notify_all();
      });
}

void ClientSessions::joinAll() {
  MutexLock hold(lock_);
  hold.wait(ended_, [this]() REQUIRES(lock_) {
    joinFinished();
    return sessions_.empty();
  });
}

}  // namespace named_pipe
