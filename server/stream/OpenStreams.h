// The streams opened by "t1_open" and "t_open", shared by all connections: a client reads
// a stream on several connections with the id the first open returned. A stream lives
// while some connection holds it.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/sync/Mutex.h"

namespace qserver {

// One open file; the descriptor is closed when the last holder lets go.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

class OpenStreams {
 public:
  // Registers a file under a new unguessable stream id.
  std::string add(const std::shared_ptr<OpenFile>& file);
  // The file of a live stream, or nullptr.
  std::shared_ptr<OpenFile> find(const std::string& streamId);

 private:
  Mutex lock_;
  std::map<std::string, std::weak_ptr<OpenFile>> streams_ GUARDED_BY(lock_);
};

}  // namespace qserver
