#include "platform/appfolder/PrivateFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace appfolder {

std::FILE* OpenPrivateForAppend(const std::string& path, const char* mode) {
  int access = std::strchr(mode, '+') != nullptr ? O_RDWR : O_WRONLY;
  int fd = ::open(path.c_str(), access | O_APPEND | O_CREAT | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) ::close(fd);
  return file;
}

bool CreatePrivateFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) return errno == EEXIST;
  ::close(fd);
  return true;
}

}  // namespace appfolder
