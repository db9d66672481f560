#include "drive/core/MirrorLog.h"

#include <sys/stat.h>

#include <cstdarg>
#include <ctime>
#include <vector>

#include "platform/appfolder/PrivateFiles.h"
#include "platform/codepage/CodePage.h"

namespace {

std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), n);
}

std::string TimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::string();
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buf, n);
}

}  // namespace

std::u16string FormatWide(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return codepage::Utf8ToWide(text);
}

MirrorLog::MirrorLog(const std::string& path, const std::atomic<uint32_t>& mask)
    : mask_(mask), path_(path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && st.st_size > kLogRotateBytes) {
    std::string old = path + ".1";
    std::remove(old.c_str());
    std::rename(path.c_str(), old.c_str());
  }
  file_ = appfolder::OpenPrivateForAppend(path, "a+");
  // Logs written before the settings echo hid the password held its digest: an existing log
  // is closed to others as well.
  if (file_ != nullptr) ::fchmod(::fileno(file_), appfolder::kPrivateFileMode);
}

MirrorLog::~MirrorLog() {
  if (file_ != nullptr) std::fclose(file_);
}

int MirrorLog::log(std::u16string_view text, uint32_t category) {
  if (!wants(category)) return 1;
  std::u16string line = u"[" + codepage::Utf8ToWide(TimeText()) + u"] ";
  line.append(text);
  line += u"\r\n";
  write(codepage::WideToAnsi(line));
  return 0;
}

int MirrorLog::logf(uint32_t category, const char* format, ...) {
  if (!wants(category)) return 1;
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return log(codepage::Utf8ToWide(text), category);
}

bool MirrorLog::isOpen() const {
  MutexLock guard(lock_);
  return file_ != nullptr;
}

void MirrorLog::write(const std::string& ansiLine) {
  MutexLock guard(lock_);
  std::fwrite(ansiLine.data(), 1, ansiLine.size(), stdout);
  std::fflush(stdout);
  if (file_ != nullptr) {
    std::fwrite(ansiLine.data(), 1, ansiLine.size(), file_);
    std::fflush(file_);
  }
}
