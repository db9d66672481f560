#include "platform/dokan/RequestLoop.h"

#include <linux/fuse.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/sync/Mutex.h"

namespace dokan {

namespace {

// Requests answered from the drive's tables alone, never waiting on the service.
bool AnsweredFromMemory(const fuse_buf& buf) {
  if ((buf.flags & FUSE_BUF_IS_FD) != 0 || buf.mem == nullptr ||
      buf.size < sizeof(fuse_in_header)) {
    return false;
  }
  uint32_t opcode = static_cast<const fuse_in_header*>(buf.mem)->opcode;
  return opcode == FUSE_READDIR || opcode == FUSE_READDIRPLUS || opcode == FUSE_FORGET ||
         opcode == FUSE_BATCH_FORGET;
}

// Starts `work` on a new thread. Stop signals go to the program's own threads, as with
// libfuse's workers.
std::thread StartWithoutStopSignals(std::function<void()> work) {
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&blocked, signal);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  std::thread thread(std::move(work));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

class RequestLoop {
 public:
  RequestLoop(fuse_session* session, unsigned mostThreads)
      : session_(session), mostThreads_(mostThreads) {}

  int run() EXCLUDES(lock_) {
    std::vector<std::thread> workers;
    {
      MutexLock guard(lock_);
      startWorker();
      guard.wait(loopEnded_, [this]() REQUIRES(lock_) { return ended_; });
      // No worker starts once the loop has ended.
      workers.swap(workers_);
    }
    for (std::thread& worker : workers) worker.join();
    MutexLock guard(lock_);
    return result_;
  }

 private:
  // Threads are started as requests need them, as libfuse's loop does: a tree walk is
  // served by one or two, each with its own stack and allocation arena.
  void startWorker() REQUIRES(lock_) {
    workers_.push_back(StartWithoutStopSignals([this] { work(); }));
  }

  void work() EXCLUDES(lock_) {
    fuse_buf buf{};
    while (takeReceiving()) receiveAndAnswer(buf);
    std::free(buf.mem);
  }

  // Waits until no thread receives, then receives from then on; false once the loop ended.
  bool takeReceiving() EXCLUDES(lock_) {
    MutexLock guard(lock_);
    ++waiting_;
    guard.wait(receiverWanted_, [this]() REQUIRES(lock_) { return !receiving_ || ended_; });
    --waiting_;
    if (ended_) return false;
    receiving_ = true;
    return true;
  }

  // Lets a waiting thread receive; without one, a new thread does, up to the limit.
  void handOver() EXCLUDES(lock_) {
    {
      MutexLock guard(lock_);
      receiving_ = false;
      if (waiting_ == 0 && workers_.size() < mostThreads_) startWorker();
    }
    receiverWanted_.notify_one();
  }

  void end(int result) EXCLUDES(lock_) {
    if (result < 0) fuse_session_exit(session_);
    {
      MutexLock guard(lock_);
      ended_ = true;
      if (result < 0 && result_ == 0) result_ = result;
    }
    receiverWanted_.notify_all();
    loopEnded_.notify_all();
  }

  // Receives and answers requests while they are answered from memory. Returns once this
  // thread has handed receiving on and answered a request that may wait, or the loop ended.
  void receiveAndAnswer(fuse_buf& buf) EXCLUDES(lock_) {
    while (true) {
      if (fuse_session_exited(session_)) return end(0);
      int received = fuse_session_receive_buf(session_, &buf);
      if (received == -EINTR) continue;
      if (received <= 0) return end(received);
      bool fromMemory = AnsweredFromMemory(buf);
      if (!fromMemory) handOver();
      fuse_session_process_buf(session_, &buf);
      if (!fromMemory) return;
    }
  }

  fuse_session* const session_;
  const size_t mostThreads_;
  Mutex lock_;
  std::condition_variable receiverWanted_;
  std::condition_variable loopEnded_;
  std::vector<std::thread> workers_ GUARDED_BY(lock_);
  size_t waiting_ GUARDED_BY(lock_) = 0;  // threads waiting to receive
  bool receiving_ GUARDED_BY(lock_) = false;
  bool ended_ GUARDED_BY(lock_) = false;
  int result_ GUARDED_BY(lock_) = 0;
};

}  // namespace

int ServeRequests(fuse_session* session, unsigned threads) {
  return RequestLoop(session, threads == 0 ? 1 : threads).run();
}

}  // namespace dokan
