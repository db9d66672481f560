#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

// The lines of a log file without their "[time] " prefix and "\r" end.
inline std::vector<std::string> LogTexts(const std::string& path) {
  std::vector<std::string> texts;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t close = line.find("] ");
    texts.push_back(close == std::string::npos ? line : line.substr(close + 2));
  }
  return texts;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const auto& line : lines)
    if (line == wanted) return true;
  return false;
}
