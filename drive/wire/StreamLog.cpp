#include "drive/wire/StreamLog.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/appfolder/PrivateFiles.h"

void CStreamLog::setPath(const std::string& path) {
  MutexLock guard(lock_);
  path_ = path;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && info.st_size > kRotateAbove) {
    std::string older = path + ".1";
    std::remove(older.c_str());
    std::rename(path.c_str(), older.c_str());
  }
}

std::string CStreamLog::path() const {
  MutexLock guard(lock_);
  return path_;
}

void CStreamLog::readMask(const std::string& iniPath) {
  uint32_t value = 0;
  if (FILE* file = std::fopen(iniPath.c_str(), "r")) {
    unsigned int parsed = 0;
    if (std::fscanf(file, "%x", &parsed) == 1) value = parsed;
    std::fclose(file);
  }
  setMask(value);
}

uint32_t CStreamLog::mask() const {
  MutexLock guard(lock_);
  return mask_;
}

void CStreamLog::setMask(uint32_t mask) {
  MutexLock guard(lock_);
  mask_ = mask;
}

bool CStreamLog::enabled(int level) const {
  if (level == 0) return true;
  if (level < 0 || level > 31) return false;
  return (mask() >> level) & 1u;
}

void CStreamLog::log(int level, const char* format, ...) {
  if (!enabled(level)) return;
  char text[kMaxLine];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);

  char stamp[64];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S]", &local);

  MutexLock guard(lock_);
  if (path_.empty()) return;
  FILE* file = appfolder::OpenPrivateForAppend(path_, "a");
  if (!file) return;
  std::fprintf(file, "%s %s\n", stamp, text);
  std::fclose(file);
}
