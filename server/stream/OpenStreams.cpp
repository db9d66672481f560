#include "server/stream/OpenStreams.h"

#include <unistd.h>

#include "server/util/Digest.h"

namespace qserver {

OpenFile::~OpenFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string OpenStreams::add(const std::shared_ptr<OpenFile>& file) {
  MutexLock guard(lock_);
  for (auto it = streams_.begin(); it != streams_.end();) {
    it = it->second.expired() ? streams_.erase(it) : std::next(it);
  }
  std::string id;
  do {
    id = RandomHex(8);
  } while (streams_.count(id));
  streams_[id] = file;
  return id;
}

std::shared_ptr<OpenFile> OpenStreams::find(const std::string& streamId) {
  MutexLock guard(lock_);
  auto found = streams_.find(streamId);
  if (found == streams_.end()) return nullptr;
  auto file = found->second.lock();
  if (!file) streams_.erase(found);
  return file;
}

}  // namespace qserver
