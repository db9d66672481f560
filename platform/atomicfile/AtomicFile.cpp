#include "platform/atomicfile/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace atomicfile {

namespace {

bool Fail(std::string* error, const std::string& step, const std::string& path, int code) {
  if (error != nullptr) *error = step + " " + path + ": " + std::strerror(code);
  errno = code;
  return false;
}

// "<path>.tmp.<pid>.<thread>.<n>": unique within the process by the counter and across
// processes by the pid; O_EXCL still refuses a name left behind by a process that crashed.
int CreateTemporary(const std::string& path, mode_t mode, std::string* temporary) {
  static std::atomic<unsigned long> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(::gettid()) +
                 "." + std::to_string(counter++);
    int fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view content, const ReplaceOptions& options,
                 std::string* error) {
  std::string temporary;
  int fd = CreateTemporary(path, options.mode, &temporary);
  if (fd < 0) return Fail(error, "create", temporary, errno);
  const char* failed = nullptr;  // the first step that failed, with its errno
  int code = 0;
  auto note = [&](const char* step) {
    if (failed == nullptr) failed = step, code = errno;
  };
  if (!WriteAll(fd, content)) {
    note("write");
  } else if (options.syncFile && ::fsync(fd) != 0) {
    note("fsync");
  }
  if (::close(fd) != 0) note("close");
  if (failed == nullptr && ::rename(temporary.c_str(), path.c_str()) != 0) note("rename");
  if (failed != nullptr) {
    ::unlink(temporary.c_str());
    return Fail(error, failed, failed == std::string_view("rename") ? path : temporary, code);
  }
  return !options.syncFolder || SyncFolderOf(path, error);
}

bool SyncFolderOf(const std::string& path, std::string* error) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(error, "open folder", folder, errno);
  bool synced = ::fsync(fd) == 0;
  int code = errno;
  ::close(fd);
  return synced || Fail(error, "fsync folder", folder, code);
}

}  // namespace atomicfile
