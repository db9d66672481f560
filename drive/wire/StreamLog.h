// The stream log "vod.log": one file for the whole program, shared by every reader and its
// threads. Nothing is written until the owner has given it a path. Each line carries a level; level
// 0 is always written, any other level only when its bit is set in the mask read from "media.ini".
#pragma once

#include <cstdint>
#include <string>

#include "platform/sync/Mutex.h"

class CStreamLog {
 public:
  static constexpr int64_t kRotateAbove = 5000000;
  static constexpr size_t kMaxLine = 10240;

  // Stores the log path (until then the log writes nothing); a log already larger than kRotateAbove
  // bytes becomes path + ".1" (replacing an older one).
  void setPath(const std::string& path);
  std::string path() const;

  // Reads the level mask as one hexadecimal number from `iniPath`; 0 when the file is
  // missing or holds no number.
  void readMask(const std::string& iniPath);
  uint32_t mask() const;
  void setMask(uint32_t mask);

  bool enabled(int level) const;

  // Appends "[time] text" when the level is enabled; a line is cut at kMaxLine bytes and
  // dropped when the file cannot be opened.
  void log(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

 private:
  mutable Mutex lock_;
  std::string path_ GUARDED_BY(lock_);
  uint32_t mask_ GUARDED_BY(lock_) = 0;
};
