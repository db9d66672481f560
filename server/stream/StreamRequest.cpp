#include "server/stream/StreamRequest.h"

#include <charconv>
#include <cstring>
#include <vector>

namespace qserver {
namespace {

// Offsets beyond this are refused, so that offset + size never overflows.
constexpr long long kMaxOffset = 1LL << 62;

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

bool ParseCount(std::string_view text, long long limit, long long* value) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value >= 0 && *value <= limit;
}

std::optional<RequestKind> KindOf(std::string_view name) {
  if (name == "t1_open") return RequestKind::kT1Open;
  if (name == "t_open") return RequestKind::kTOpen;
  if (name == "t_read") return RequestKind::kTRead;
  if (name == "t1_read") return RequestKind::kT1Read;
  if (name == "t_close") return RequestKind::kTClose;
  if (name == "tw_create") return RequestKind::kTwCreate;
  if (name == "tw_write") return RequestKind::kTwWrite;
  if (name == "tw_close") return RequestKind::kTwClose;
  return std::nullopt;
}

}  // namespace

std::optional<uint32_t> ParseFrameHeader(const unsigned char* header) {
  if (std::memcmp(header, "file", 4) != 0) return std::nullopt;
  uint32_t length = (uint32_t{header[4]} << 24) | (uint32_t{header[5]} << 16) |
                    (uint32_t{header[6]} << 8) | uint32_t{header[7]};
  if (length == 0 || length > kMaxRequestText) return std::nullopt;
  return length;
}

std::optional<StreamRequest> ParseStreamRequest(std::string_view text) {
  auto fields = SplitFields(text);
  auto kind = KindOf(fields[0]);
  if (!kind) return std::nullopt;
  StreamRequest request;
  request.kind = *kind;
  request.name = std::string(fields[0]);
  auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string_view(); };
  request.first = std::string(field(1));
  request.second = std::string(field(2));
  switch (*kind) {
    case RequestKind::kT1Open:
    case RequestKind::kTOpen:
    case RequestKind::kTwCreate:
      if (request.first.empty() || request.second.empty()) request.error = "token";
      break;
    case RequestKind::kTRead:
    case RequestKind::kT1Read:
    case RequestKind::kTwWrite:
      request.second.clear();
      if (request.first.empty()) {
        request.error = "stream";
      } else if (!ParseCount(field(2), kMaxOffset, &request.offset) ||
                 !ParseCount(field(3), INT32_MAX, &request.size)) {
        request.error = "range";
      }
      break;
    case RequestKind::kTClose:
    case RequestKind::kTwClose:
      request.second.clear();
      if (request.first.empty()) request.error = "stream";
      break;
  }
  return request;
}

}  // namespace qserver
