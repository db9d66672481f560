#include "desktop/control/FolderList.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/codepage/CodePage.h"

namespace {

// Splits at every '|' (or `separator`), keeping empty parts.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// A whole decimal number, or 0 when the text is not one.
template <typename Number>
Number ParseNumber(const std::string& text) {
  Number value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

// The stamp as the 32-bit pattern it was written from: signed or unsigned decimal text of a
// 32-bit tick count. Anything else reads as 0.
uint32_t ParseStamp(const std::string& text) {
  int64_t value = ParseNumber<int64_t>(text);
  if (value < INT32_MIN || value > UINT32_MAX) return 0;
  return static_cast<uint32_t>(value);
}

}  // namespace

bool FolderList::acceptStamp(const std::string& line) {
  std::vector<std::string> parts = Split(line, '|');
  if (parts.size() != 2) return true;
  uint32_t stamp = ParseStamp(parts[0]);
  if (lastStamp_ && static_cast<int32_t>(stamp - *lastStamp_) <= 0) return false;
  lastStamp_ = stamp;
  return true;
}

void FolderList::readLine(const std::string& line) {
  std::vector<std::string> parts = Split(line, '|');
  if (parts.size() <= 6) return;
  FileListEntry entry;
  if (parts[0] == "1" && parts.size() == 7) {
    entry.key = parts[1];
    entry.parentKey = parts[2];
    entry.name = parts[3];
    entry.category = parts[4] == "1" ? 1 : 2;
    entry.isParent = parts[5] == "1";
    entry.kind = kFolder;
    std::vector<std::string> children;
    if (!parts[6].empty()) children = Split(parts[6], ',');
    folders_[entry.key] = std::move(children);
  } else if (parts[0] == "0" && parts.size() == 8) {
    entry.key = parts[1];
    entry.name = parts[2];
    entry.time = ParseNumber<int32_t>(parts[3]);
    entry.folderPath = parts[5];
    entry.category = parts[6] == "1" ? 1 : 2;
    entry.size = ParseNumber<int64_t>(parts[7]);
    entry.kind = kFile;
  } else {
    return;
  }
  std::string key = entry.key;
  entries_[key] = std::move(entry);
}

void FolderList::read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return;
  std::stringstream raw;
  raw << file.rdbuf();
  std::istringstream text(codepage::Convert(raw.str(), codepage::AnsiCharset().c_str(), "UTF-8"));
  std::string line;
  bool first = true;
  while (std::getline(text, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      first = false;
      if (!acceptStamp(line)) return;
      ++readCount_;
      continue;
    }
    if (!line.empty()) readLine(line);
  }
  if (first) ++readCount_;  // an empty file: nothing to take, but it was read
}
