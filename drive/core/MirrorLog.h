// The drive program's log "mirror.log": one line per call, "[time] text\r\n", written only
// when the line's category shares a bit with the debug mask, echoed on the console.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/sync/Mutex.h"

// Categories of log lines (bits of the debug mask).
constexpr uint32_t kLogResults = 0x01;    // errors and results
constexpr uint32_t kLogProgress = 0x02;   // progress steps
constexpr uint32_t kLogDetail = 0x04;     // settings echo, transfer details
constexpr uint32_t kLogCallbacks = 0x10;  // every driver callback

// Bytes above which the log is moved to "<path>.1" when it is opened.
constexpr long kLogRotateBytes = 0x80000;

class MirrorLog {
 public:
  // Opens (and, when larger than kLogRotateBytes, first rotates) the file at `path`.
  // `mask` is the debug mask the lines are filtered with; it must outlive the log.
  MirrorLog(const std::string& path, const std::atomic<uint32_t>& mask);
  ~MirrorLog();
  MirrorLog(const MirrorLog&) = delete;
  MirrorLog& operator=(const MirrorLog&) = delete;

  // Writes one line; returns 0 when written, 1 when the category is masked out.
  int log(std::u16string_view text, uint32_t category);

  // printf-style variant; the text is only formatted when the category passes the mask.
  // %s arguments are UTF-8.
  int logf(uint32_t category, const char* format, ...) __attribute__((format(printf, 3, 4)));

  bool wants(uint32_t category) const { return (category & mask_.load()) != 0; }
  bool isOpen() const;

 private:
  void write(const std::string& ansiLine);

  const std::atomic<uint32_t>& mask_;
  mutable Mutex lock_;
  std::string path_;
  FILE* file_ GUARDED_BY(lock_) = nullptr;
};

// Formats printf-style (UTF-8 %s arguments) into a UTF-16 text.
std::u16string FormatWide(const char* format, ...) __attribute__((format(printf, 1, 2)));
