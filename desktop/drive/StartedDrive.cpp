#include "desktop/drive/StartedDrive.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/process/Process.h"

namespace {

// What may tell a reason is at the end; this much of it is read.
constexpr long long kTailBytes = 4096;

std::string Trimmed(std::string line) {
  while (!line.empty() && std::strchr(" \t\r\n", line.back()) != nullptr) line.pop_back();
  size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : line.substr(first);
}

std::string LastLineOf(const std::string& text) {
  size_t end = text.size();
  while (end > 0) {
    size_t start = text.rfind('\n', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    std::string line = Trimmed(text.substr(start, end - start));
    if (!line.empty()) return line;
    end = start == 0 ? 0 : start - 1;
  }
  return {};
}

// A log line is "[time] text": the reason is the text.
std::string WithoutTimeStamp(const std::string& line) {
  if (line.empty() || line[0] != '[') return line;
  size_t close = line.find("] ");
  return close == std::string::npos ? line : line.substr(close + 2);
}

long long SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

}  // namespace

StartedDrive::~StartedDrive() {
  if (errorFd_ >= 0) ::close(errorFd_);
}

bool StartedDrive::start(const std::vector<std::string>& argv, const std::string& logPath) {
  logPath_ = logPath;
  logStart_ = SizeOf(logPath);
  errorFd_ = ::memfd_create("quellan-stderr", MFD_CLOEXEC);
  pid_ = process::StartDetached(argv, errorFd_);
  if (pid_ > 0) return true;
  failure_ =
      "cannot start " + (argv.empty() ? std::string() : argv[0]) + ": " + std::strerror(errno);
  return false;
}

bool StartedDrive::running() {
  if (pid_ <= 0) return false;
  int exitCode = 0;
  if (!process::ExitedYet(pid_, &exitCode)) return true;
  pid_ = -1;
  if (mounted_ || stopped_) return false;
  failure_ = lastErrorLine();
  if (failure_.empty()) failure_ = lastNewLogLine();
  if (failure_.empty()) failure_ = "exit code " + std::to_string(exitCode);
  return false;
}

std::string StartedDrive::lastErrorLine() const {
  if (errorFd_ < 0) return {};
  long long size = ::lseek(errorFd_, 0, SEEK_END);
  long long from = size > kTailBytes ? size - kTailBytes : 0;
  std::string tail(static_cast<size_t>(size - from), '\0');
  ssize_t got = ::pread(errorFd_, tail.data(), tail.size(), from);
  tail.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return LastLineOf(tail);
}

std::string StartedDrive::lastNewLogLine() const {
  long long size = SizeOf(logPath_);
  // A log rotated since the start begins anew.
  long long from = size < logStart_ ? 0 : logStart_;
  if (size - from > kTailBytes) from = size - kTailBytes;
  std::ifstream log(logPath_, std::ios::binary);
  log.seekg(from);
  std::string tail(static_cast<size_t>(size - from), '\0');
  log.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  tail.resize(static_cast<size_t>(log.gcount()));
  return WithoutTimeStamp(LastLineOf(tail));
}
