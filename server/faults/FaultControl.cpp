#include "server/faults/FaultControl.h"

#include <sys/stat.h>

#include <iostream>
#include <sstream>

#include "server/util/AtomicFile.h"

namespace qserver {

FaultControl::FaultControl(FaultSettings initial, std::string controlFile)
    : initial_(initial), controlFile_(std::move(controlFile)), settings_(std::move(initial)) {}

FaultSettings FaultControl::current() {
  std::lock_guard guard(lock_);
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
  std::lock_guard guard(lock_);
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
    line = line.substr(start);
    auto gap = line.find_first_of(" \t=");
    std::string option = line.substr(0, gap);
    std::string value;
    if (gap != std::string::npos) {
      value = line.substr(line.find_first_not_of(" \t", gap + 1) == std::string::npos
                              ? line.size()
                              : line.find_first_not_of(" \t", gap + 1));
      if (line[gap] == '=') value = line.substr(gap + 1);
    }
    std::string error;
    if (!loaded.apply(option, value, &error)) std::cerr << "fault file: " << error << "\n";
  }
  settings_ = loaded;
  std::cerr << "fault settings reloaded from " << controlFile_ << "\n";
}

}  // namespace qserver
