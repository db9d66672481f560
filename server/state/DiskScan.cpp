#include "server/state/DiskScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <thread>

#include "platform/sync/Mutex.h"

namespace qserver {
namespace {

constexpr unsigned kMostThreads = 4;

constexpr size_t kNameBlock = 64 * 1024;  // bytes of names asked of the kernel at a time

// The entry named `name` in the open folder `fd` added to `entries` when it is a regular file
// or a folder. The entry type spares a lookup for what is never served (links, devices).
void AddEntry(int fd, const char* name, unsigned char type, std::vector<ScannedEntry>& entries) {
  if (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN) return;
  if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return;
  struct stat st {};
  if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;  // gone meanwhile
  bool folder = S_ISDIR(st.st_mode);
  if (!folder && !S_ISREG(st.st_mode)) return;
  ScannedEntry& entry = entries.emplace_back();
  entry.name = name;
  entry.folder = folder;
  entry.size = folder ? 0 : static_cast<long long>(st.st_size);
  entry.mtime = static_cast<long long>(st.st_mtime);
}

// The entries of the folder at `path`, sorted by name. Only the root may be reached through a
// link; a sub-folder that was swapped for a link since its parent was read is not followed.
// The names are read straight from the kernel into one block per thread: a folder costs an
// open, its reads and a close.
std::vector<ScannedEntry> ReadFolder(const std::string& path, bool root) {
  std::vector<ScannedEntry> entries;
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (root ? 0 : O_NOFOLLOW));
  if (fd < 0) return entries;
  thread_local std::vector<char> block(kNameBlock);
  while (true) {
    ssize_t filled = ::getdents64(fd, block.data(), block.size());
    if (filled <= 0) break;
    for (ssize_t at = 0; at < filled;) {
      const auto* item = reinterpret_cast<const dirent64*>(block.data() + at);
      AddEntry(fd, item->d_name, item->d_type, entries);
      at += item->d_reclen;
    }
  }
  ::close(fd);
  std::sort(entries.begin(), entries.end(),
            [](const ScannedEntry& a, const ScannedEntry& b) { return a.name < b.name; });
  return entries;
}

// Folders waiting to be read, shared by the scanning threads. A thread takes one, reads it
// without the lock and then files its entries and queues its sub-folders.
class Scanner {
 public:
  Scanner(const std::string& root, ScannedTree& tree) : tree_(tree) {
    MutexLock guard(lock_);
    queueLocked(root);
  }

  void work() {
    MutexLock guard(lock_);
    while (true) {
      guard.wait(changed_, [&]() REQUIRES(lock_) { return !pending_.empty() || busy_ == 0; });
      if (pending_.empty()) return;  // nothing queued and nobody reading: the tree is done
      Job job = std::move(pending_.back());
      pending_.pop_back();
      ++busy_;
      guard.unlock();
      std::vector<ScannedEntry> entries = ReadFolder(job.path, job.folder == 0);
      guard.lock();
      for (ScannedEntry& entry : entries) {
        if (entry.folder) entry.contents = queueLocked(job.path + "/" + entry.name);
      }
      tree_.folders[job.folder] = std::move(entries);
      --busy_;
      changed_.notify_all();
    }
  }

 private:
  struct Job {
    size_t folder;
    std::string path;
  };

  size_t queueLocked(std::string path) REQUIRES(lock_) {
    size_t folder = tree_.folders.size();
    tree_.folders.emplace_back();
    pending_.push_back({folder, std::move(path)});
    return folder;
  }

  Mutex lock_;
  std::condition_variable changed_;
  ScannedTree& tree_ GUARDED_BY(lock_);
  std::vector<Job> pending_ GUARDED_BY(lock_);
  size_t busy_ GUARDED_BY(lock_) = 0;
};

}  // namespace

ScannedTree ScanTree(const std::string& root, unsigned threads) {
  ScannedTree tree;
  Scanner scanner(root, tree);
  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < threads; ++i) helpers.emplace_back([&] { scanner.work(); });
  scanner.work();
  for (std::thread& helper : helpers) helper.join();
  return tree;
}

unsigned ScanThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads); }

}  // namespace qserver
