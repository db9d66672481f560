#include "drive/replies/ReadLinkReply.h"

#include <charconv>
#include <string>
#include <vector>

#include "platform/codepage/CodePage.h"

namespace {

std::u16string_view Trimmed(std::u16string_view text) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::u16string_view> SplitAtCommas(std::u16string_view text) {
  std::vector<std::u16string_view> fields;
  while (true) {
    size_t comma = text.find(u',');
    fields.push_back(Trimmed(text.substr(0, comma)));
    if (comma == std::u16string_view::npos) return fields;
    text.remove_prefix(comma + 1);
  }
}

bool ParsePort(std::u16string_view text, int32_t* port) {
  std::string digits = codepage::WideToUtf8(text);
  int value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return false;
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

bool Names(std::u16string_view reply, std::u16string_view word) {
  size_t at = reply.find(word);
  return at != std::u16string_view::npos && at >= 2;
}

}  // namespace

int ParseReadLinkReply(std::u16string_view reply, StreamLink* link) {
  if (reply.substr(0, 3) == u"ok,") {
    std::vector<std::u16string_view> fields = SplitAtCommas(reply.substr(3));
    StreamLink parsed;
    if (fields.size() >= 4 && ParsePort(fields[1], &parsed.port) && !fields[0].empty() &&
        !fields[2].empty() && !fields[3].empty()) {
      parsed.host = fields[0];
      parsed.token2 = fields[2];
      parsed.token1 = fields[3];
      *link = std::move(parsed);
      return 0;
    }
    return read_link::kRefused;
  }
  if (Names(reply, u"Session")) return read_link::kSessionRefused;
  if (Names(reply, u"File")) return read_link::kFileRefused;
  return read_link::kRefused;
}

int ParseWriteLinkReply(std::u16string_view reply, WriteLink* link) {
  if (reply.substr(0, 3) != u"ok,") return read_link::kRefused;
  std::vector<std::u16string_view> fields = SplitAtCommas(reply.substr(3));
  WriteLink parsed;
  if (fields.size() < 4 || fields[0].empty() || fields[2].empty() ||
      !ParsePort(fields[1], &parsed.port))
    return read_link::kRefused;
  std::string size = codepage::WideToUtf8(fields[3]);
  auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), parsed.size);
  if (error != std::errc() || end != size.data() + size.size() || parsed.size < 0)
    return read_link::kRefused;
  parsed.host = fields[0];
  parsed.id = fields[2];
  *link = std::move(parsed);
  return 0;
}
