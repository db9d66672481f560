#include "drive/replies/ListReply.h"

#include <cstring>
#include <limits>

#include "drive/replies/NodeLine.h"
#include "platform/codepage/CodePage.h"

namespace {

// value × unit, kept within 0..int64 max.
int64_t ScaledBytes(int64_t value, int64_t unit) {
  if (value <= 0) return 0;
  if (value > std::numeric_limits<int64_t>::max() / unit) {
    return std::numeric_limits<int64_t>::max();
  }
  return value * unit;
}

}  // namespace

ListReply ParseListReply(std::u16string_view text) {
  std::u16string_view parts[4];
  size_t from = 0;
  for (int i = 0; i < 4 && from <= text.size(); ++i) {
    size_t comma = i == 3 ? std::u16string_view::npos : text.find(u',', from);
    if (comma == std::u16string_view::npos) {
      parts[i] = text.substr(from);
      from = text.size() + 1;
    } else {
      parts[i] = text.substr(from, comma - from);
      from = comma + 1;
    }
  }

  ListReply reply;
  std::u16string_view header = parts[0];
  size_t start = 0;
  while (start <= header.size()) {
    size_t colon = header.find(u':', start);
    if (colon == std::u16string_view::npos) colon = header.size();
    std::u16string_view id = TrimWhiteSpace(header.substr(start, colon - start));
    if (!id.empty()) reply.writableIds.emplace(id);
    start = colon + 1;
  }
  reply.quotaBytes = ScaledBytes(ParseDecimal64(parts[1]), 1073741824);
  reply.usedBytes = ScaledBytes(ParseDecimal64(parts[2]), 1048576);
  if (reply.usedBytes >= reply.quotaBytes) reply.usedBytes = reply.quotaBytes;
  reply.body = std::u16string(parts[3]);
  return reply;
}
