#include "server/faults/FaultControl.h"

#include <sys/stat.h>

#include <sstream>

#include "server/util/Log.h"
#include "server/util/StateFile.h"

namespace qserver {

FaultControl::FaultControl(FaultSettings initial, std::string controlFile)
    : initial_(initial), controlFile_(std::move(controlFile)), settings_(std::move(initial)) {}

FaultSettings FaultControl::current() {
  MutexLock guard(lock_);
  struct stat st {};
  bool exists = !controlFile_.empty() && ::stat(controlFile_.c_str(), &st) == 0;
  long long modified = exists ? st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec : 0;
  if (exists != fileSeen_ ||
      (exists && (st.st_ino != inode_ || modified != modified_ || st.st_size != size_))) {
    reloadLocked();
  }
  return settings_;
}

void FaultControl::forceReload() {
  MutexLock guard(lock_);
  reloadLocked();
}

void FaultControl::reloadLocked() {
  struct stat st {};
  fileSeen_ = !controlFile_.empty() && ::stat(controlFile_.c_str(), &st) == 0;
  inode_ = fileSeen_ ? st.st_ino : 0;
  modified_ = fileSeen_ ? st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec : 0;
  size_ = fileSeen_ ? st.st_size : -1;
  if (!fileSeen_) {
    settings_ = initial_;
    return;
  }
  auto text = ReadWholeFile(controlFile_);
  FaultSettings loaded;
  std::istringstream lines(text.value_or(""));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    // "option value" or "option=value"; the option may keep its leading "--".
    line = line.substr(start);
    auto gap = line.find_first_of(" \t=");
    std::string option = line.substr(0, gap);
    std::string value;
    if (gap != std::string::npos) {
      auto valueStart = line.find_first_not_of(" \t", gap + 1);
      if (line[gap] == '=') valueStart = gap + 1;
      if (valueStart != std::string::npos) value = line.substr(valueStart);
    }
    std::string error;
    if (!loaded.apply(option, value, &error)) LogLine("fault file: " + error);
  }
  settings_ = loaded;
  LogLine("fault settings reloaded from " + controlFile_);
}

}  // namespace qserver
