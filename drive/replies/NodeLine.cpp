#include "drive/replies/NodeLine.h"

#include <limits>

std::u16string CleanRemoteName(std::u16string_view name) {
  std::u16string cleaned(name);
  for (char16_t& c : cleaned) {
    switch (c) {
      case u'\\':
      case u'/':
      case u'"':
      case u':':
      case u'*':
      case u'?':
      case u'<':
      case u'>':
      case u'|':
        c = u'_';
        break;
      default:
        break;
    }
  }
  return cleaned;
}

std::u16string_view TrimWhiteSpace(std::u16string_view text) {
  auto isSpace = [](char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
  };
  size_t begin = 0;
  while (begin < text.size() && isSpace(text[begin])) ++begin;
  size_t end = text.size();
  while (end > begin && isSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

int64_t ParseDecimal64(std::u16string_view text) {
  text = TrimWhiteSpace(text);
  bool negative = false;
  size_t at = 0;
  if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) negative = text[at++] == u'-';
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    int digit = text[at] - u'0';
    if (value > (kMax - digit) / 10) return negative ? std::numeric_limits<int64_t>::min() : kMax;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

NodeRecord ParseNodeLine(std::u16string_view line) {
  std::u16string_view fields[6];
  size_t from = 0;
  for (int i = 0; i < 6 && from <= line.size(); ++i) {
    size_t comma = line.find(u',', from);
    // The last field takes the rest of the line.
    if (i == 5 || comma == std::u16string_view::npos) {
      fields[i] = line.substr(from);
      from = line.size() + 1;
    } else {
      fields[i] = line.substr(from, comma - from);
      from = comma + 1;
    }
  }
  NodeRecord node;
  node.key = std::u16string(TrimWhiteSpace(fields[0]));
  node.name = CleanRemoteName(TrimWhiteSpace(fields[1]));
  bool folder = TrimWhiteSpace(fields[2]) == u"dir";
  node.attributes = folder ? kRemoteFolderAttributes : kRemoteFileAttributes;
  int64_t size = ParseDecimal64(fields[3]);
  node.size = folder || size < 0 ? 0 : size;
  node.parentKey = std::u16string(TrimWhiteSpace(fields[4]));
  int64_t time = ParseDecimal64(fields[5]);
  if (time > std::numeric_limits<int32_t>::max()) time = std::numeric_limits<int32_t>::max();
  if (time < std::numeric_limits<int32_t>::min()) time = std::numeric_limits<int32_t>::min();
  node.time = static_cast<int32_t>(time);
  return node;
}
