#include "platform/profile/Profile.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/atomicfile/AtomicFile.h"
#include "platform/codepage/CodePage.h"
#include "platform/profile/IniValue.h"
#include "platform/sync/Mutex.h"

namespace {

// Serialises read-modify-write cycles of this process; other processes see whole files
// only, since each write replaces the file by renaming a complete copy.
Mutex profileLock;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string Trim(std::u16string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

std::optional<std::vector<std::string>> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "[name]" → name; anything else → nullopt.
std::optional<std::u16string> SectionName(const std::u16string& trimmed) {
  if (trimmed.size() < 2 || trimmed.front() != u'[') return std::nullopt;
  size_t close = trimmed.find(u']');
  if (close == std::u16string::npos) return std::nullopt;
  return Trim(std::u16string_view(trimmed).substr(1, close - 1));
}

struct KeyLine {
  std::u16string key;
  std::u16string rawValue;
};

std::optional<KeyLine> SplitKeyLine(const std::u16string& trimmed) {
  if (trimmed.empty() || trimmed[0] == u';' || trimmed[0] == u'#') return std::nullopt;
  size_t eq = trimmed.find(u'=');
  if (eq == std::u16string::npos) return std::nullopt;
  std::u16string_view view(trimmed);
  return KeyLine{Trim(view.substr(0, eq)), Trim(view.substr(eq + 1))};
}

// Where [section] key stands in `lines`: the section header line (or -1) and the key line
// (or -1), and the last line that belongs to the section.
struct Location {
  long sectionLine = -1;
  long keyLine = -1;
  long lastLineOfSection = -1;
};

Location Locate(const std::vector<std::string>& lines, std::u16string_view section,
                std::u16string_view key) {
  Location where;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::u16string trimmed = Trim(codepage::Utf8ToWide(lines[i]));
    if (auto name = SectionName(trimmed)) {
      if (inSection) break;  // the section ended
      inSection = SameName(*name, section);
      if (inSection) where.sectionLine = where.lastLineOfSection = static_cast<long>(i);
      continue;
    }
    if (!inSection) continue;
    if (!trimmed.empty()) where.lastLineOfSection = static_cast<long>(i);
    if (where.keyLine >= 0) continue;
    if (auto kv = SplitKeyLine(trimmed); kv && SameName(kv->key, key))
      where.keyLine = static_cast<long>(i);
  }
  return where;
}

std::u16string CutToBuffer(std::u16string text) {
  if (text.size() > kProfileBufferChars - 1) text.resize(kProfileBufferChars - 1);
  return text;
}

// Settings must survive a crash, so the new file reaches the disk before it replaces the old.
bool WriteWhole(const std::string& path, const std::vector<std::string>& lines) {
  std::string content;
  for (const std::string& line : lines) content += line + '\n';
  // The settings hold the password digest: the file is the user's alone.
  return atomicfile::ReplaceFile(path, content, {.syncFile = true, .mode = 0600});
}

}  // namespace

std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, const std::string& path) {
  MutexLock guard(profileLock);
  std::u16string fallback = CutToBuffer(Trim(defaultValue));
  auto lines = ReadLines(path);
  if (!lines) return fallback;
  Location where = Locate(*lines, section, key);
  if (where.keyLine < 0) return fallback;
  auto kv = SplitKeyLine(Trim(codepage::Utf8ToWide((*lines)[where.keyLine])));
  return CutToBuffer(ini::UnescapeValue(kv->rawValue));
}

bool WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value, const std::string& path) {
  MutexLock guard(profileLock);
  std::vector<std::string> lines = ReadLines(path).value_or(std::vector<std::string>());
  Location where = Locate(lines, section, key);
  std::string escaped = ini::EscapeValue(std::u16string(value));

  if (where.keyLine >= 0) {
    // Keep the key's own spelling; replace only the value.
    auto kv = SplitKeyLine(Trim(codepage::Utf8ToWide(lines[where.keyLine])));
    lines[where.keyLine] = codepage::WideToUtf8(kv->key) + "=" + escaped;
  } else {
    std::string line = codepage::WideToUtf8(key) + "=" + escaped;
    if (where.sectionLine >= 0) {
      lines.insert(lines.begin() + where.lastLineOfSection + 1, line);
    } else {
      if (!lines.empty() && !lines.back().empty()) lines.emplace_back();
      lines.push_back("[" + codepage::WideToUtf8(section) + "]");
      lines.push_back(line);
    }
  }
  return WriteWhole(path, lines);
}
