// Notices changes below a folder tree on disk (inotify), so that the last scan of the tree can
// be reused while nothing in it changed. Each folder is watched before it is read: a change
// made before that is in what the scan reads, a change made after it is noticed. The kernel
// queues the notice within the call that changes the file, so a change a client has made is
// noticed by any later request. Writes through a memory mapping and changes made by another
// machine on a network file system are not noticed.
#pragma once

#include <atomic>
#include <string>

namespace qserver {

class TreeWatch {
 public:
  TreeWatch() = default;
  ~TreeWatch();
  TreeWatch(const TreeWatch&) = delete;
  TreeWatch& operator=(const TreeWatch&) = delete;

  // Starts a scan: what was noticed so far is forgotten.
  void begin();
  // Watches `folder` before the scan reads it. Safe from several threads at once.
  void add(const std::string& folder, bool mayBeLink);
  // True when every folder of the last scan is watched and nothing below them has changed
  // since that scan began.
  bool unchanged();

 private:
  // Reads the notices queued so far; true when there was at least one.
  bool drain();

  int fd_ = -1;
  std::atomic<bool> complete_{false};
  bool changed_ = true;
};

}  // namespace qserver
