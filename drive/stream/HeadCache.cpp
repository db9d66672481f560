#include "drive/stream/HeadCache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "drive/wire/StreamLog.h"
#include "platform/appfolder/PrivateFiles.h"
#include "platform/atomicfile/AtomicFile.h"

namespace headcache {

bool IsUsableName(const std::string& token2) {
  if (token2.empty() || token2 == "." || token2 == "..") return false;
  return token2.find('/') == std::string::npos && token2.find('\0') == std::string::npos;
}

std::string HeadPath(const std::string& folder, const std::string& token2) {
  return folder + "cache/" + token2;
}

int32_t Read(CStreamLog& log, const std::string& folder, const std::string& token2,
             uint8_t* buffer) {
  if (!IsUsableName(token2)) return -1;
  std::string path = HeadPath(folder, token2);
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return -1;
  size_t got = std::fread(buffer, 1, kHeadSize, file);
  std::fclose(file);
  log.log(0, "ReadCacheFile: %s %ld", path.c_str(), static_cast<long>(got));
  return static_cast<int32_t>(got);
}

bool Write(CStreamLog& log, const std::string& folder, const std::string& token2,
           const uint8_t* data, int32_t size) {
  if (!IsUsableName(token2) || size < 0 || size > kHeadSize) return false;
  std::string path = HeadPath(folder, token2);
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    log.log(0, "WriteCacheFile(exists): %s %ld", path.c_str(), static_cast<long>(info.st_size));
    return false;
  }
  log.log(0, "WriteCacheFile(not_exists): %s", path.c_str());
  ::mkdir((folder + "cache").c_str(), appfolder::kPrivateFolderMode);

  // A cached head can be fetched again, so it is not synced to disk.
  std::string_view content(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  return atomicfile::ReplaceFile(path, content, {.mode = appfolder::kPrivateFileMode});
}

bool Remove(CStreamLog& log, const std::string& folder, const std::string& token2) {
  if (!IsUsableName(token2)) return false;
  std::string path = HeadPath(folder, token2);
  if (::unlink(path.c_str()) != 0) return false;
  log.log(0, "RemoveCacheFile: %s", path.c_str());
  return true;
}

}  // namespace headcache
