#include "platform/atomicfile/StagedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace atomicfile {

StagedFile::StagedFile(const std::string& path, mode_t mode) : path_(path) {
  static std::atomic<unsigned long> counter{0};
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = path + ".staged." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ < 0 && errno != EEXIST) break;
  }
}

StagedFile::StagedFile(StagedFile&& other) noexcept { *this = std::move(other); }

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    discard();
    path_ = std::move(other.path_);
    temporary_ = std::move(other.temporary_);
    fd_ = std::exchange(other.fd_, -1);
    failed_ = std::exchange(other.failed_, false);
  }
  return *this;
}

void StagedFile::write(std::string_view bytes) {
  while (ok() && !bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      return;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

bool StagedFile::commit() {
  if (fd_ < 0) return false;
  bool written = !failed_;
  written = ::close(std::exchange(fd_, -1)) == 0 && written;
  if (written && ::rename(temporary_.c_str(), path_.c_str()) == 0) return true;
  ::unlink(temporary_.c_str());
  return false;
}

void StagedFile::discard() {
  if (fd_ < 0) return;
  ::close(std::exchange(fd_, -1));
  ::unlink(temporary_.c_str());
}

}  // namespace atomicfile
