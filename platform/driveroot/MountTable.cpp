#include "platform/driveroot/MountTable.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/driveroot/DriveRoot.h"

namespace driveroot {

namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as "\ooo".
std::string Unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      int value = 0;
      bool octal = true;
      for (size_t k = 1; k <= 3; ++k) {
        char c = field[i + k];
        if (c < '0' || c > '7') octal = false;
        value = value * 8 + (c - '0');
      }
      if (octal && value < 256) {
        out.push_back(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

bool ParseDevice(std::string_view text, unsigned& major, unsigned& minor) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string majorText(text.substr(0, colon)), minorText(text.substr(colon + 1));
  char* end = nullptr;
  unsigned long a = std::strtoul(majorText.c_str(), &end, 10);
  if (majorText.empty() || *end != '\0') return false;
  unsigned long b = std::strtoul(minorText.c_str(), &end, 10);
  if (minorText.empty() || *end != '\0') return false;
  major = static_cast<unsigned>(a);
  minor = static_cast<unsigned>(b);
  return true;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  // id parent major:minor root mount-point options [optional...] - type source super-options
  std::vector<MountEntry> mounts;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() < 7) continue;
    MountEntry entry;
    if (!ParseDevice(fields[2], entry.major, entry.minor)) continue;
    entry.mountPoint = Unescape(fields[4]);
    for (size_t i = 6; i + 1 < fields.size(); ++i) {
      if (fields[i] == "-") {
        entry.fsType = Unescape(fields[i + 1]);
        break;
      }
    }
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

std::vector<MountEntry> CurrentMounts() {
  std::ifstream file("/proc/self/mountinfo");
  if (!file) return {};
  std::stringstream text;
  text << file.rdbuf();
  return ParseMountInfo(text.str());
}

const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const std::string& path) {
  for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
    if (it->mountPoint == path) return &*it;
  }
  return nullptr;
}

std::string CanonicalDriveRoot() {
  std::string root = DriveRoot();
  char resolved[PATH_MAX];
  if (::realpath(root.c_str(), resolved) != nullptr) return resolved;
  return root;
}

}  // namespace driveroot

uint32_t GetLogicalDriveStrings(uint32_t bufferLength, char16_t* buffer) {
  std::vector<driveroot::MountEntry> mounts = driveroot::CurrentMounts();
  std::string root = driveroot::CanonicalDriveRoot();
  std::u16string list;
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    std::string mountPoint = (root == "/" ? std::string() : root) + "/" + static_cast<char>(letter);
    if (driveroot::FindMount(mounts, mountPoint) == nullptr) continue;
    list += letter;
    list += u":\\";
    list += u'\0';
  }
  uint32_t needed = static_cast<uint32_t>(list.size() + 1);
  if (buffer == nullptr || bufferLength < needed) return needed;
  list.copy(buffer, list.size());
  buffer[list.size()] = u'\0';
  return static_cast<uint32_t>(list.size());
}
