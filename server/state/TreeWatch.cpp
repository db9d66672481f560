#include "server/state/TreeWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <vector>

namespace qserver {
namespace {

// Everything that changes what a listing shows: names coming and going, contents, sizes and
// times, and the watched folder itself going away.
constexpr uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

TreeWatch::~TreeWatch() {
  if (fd_ >= 0) ::close(fd_);
}

void TreeWatch::begin() {
  // Made at the first scan, so that users never listed hold no watch of the system's few.
  if (fd_ < 0) fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  drain();
  changed_ = false;
  complete_ = fd_ >= 0;
}

void TreeWatch::add(const std::string& folder, bool mayBeLink) {
  if (fd_ < 0) return;
  // A folder that cannot be watched (the system's limit of watches reached) leaves the scan
  // unfit for reuse.
  uint32_t mask = kChanges | (mayBeLink ? 0 : IN_DONT_FOLLOW);
  if (::inotify_add_watch(fd_, folder.c_str(), mask) < 0) complete_ = false;
}

bool TreeWatch::unchanged() {
  if (drain()) changed_ = true;
  return fd_ >= 0 && complete_ && !changed_;
}

bool TreeWatch::drain() {
  if (fd_ < 0) return false;
  // Any notice counts (an overflow of the queue too), so the notices are not looked into.
  std::vector<char> buffer(64 * 1024);
  bool any = false;
  while (::read(fd_, buffer.data(), buffer.size()) > 0) any = true;
  return any;
}

}  // namespace qserver
