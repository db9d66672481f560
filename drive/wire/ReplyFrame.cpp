#include "drive/wire/ReplyFrame.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace streamwire {

bool IsClientWord(const std::string& word) {
  for (const char* client : {kArgumentNotCorrect, kConnectFailed, kSocketError, kTimeout,
                             kSocketClose, kDataError, kDataIsNull}) {
    if (word == client) return true;
  }
  return false;
}

std::string BuildRequestFrame(std::string_view text) {
  if (text.size() > static_cast<size_t>(kMaxRequestText)) return {};
  uint32_t length = static_cast<uint32_t>(text.size());
  std::string frame = "file";
  frame.push_back(static_cast<char>(length >> 24));
  frame.push_back(static_cast<char>(length >> 16));
  frame.push_back(static_cast<char>(length >> 8));
  frame.push_back(static_cast<char>(length));
  frame.append(text);
  return frame;
}

int32_t ReplyTextLength(const uint8_t* header) {
  uint32_t length = (uint32_t{header[4]} << 24) | (uint32_t{header[5]} << 16) |
                    (uint32_t{header[6]} << 8) | uint32_t{header[7]};
  if (length == 0 || length > static_cast<uint32_t>(kMaxReplyText)) return -1;
  return static_cast<int32_t>(length);
}

Fields SplitFields(std::string_view text) {
  // The reply text lives in a zero-terminated area: a NUL byte ends it.
  text = text.substr(0, text.find('\0'));
  Fields fields;
  size_t position = 0;
  while (position < text.size()) {
    size_t comma = text.find(',', position);
    if (comma == std::string_view::npos) comma = text.size();
    if (comma > position) fields.emplace_back(text.substr(position, comma - position));
    position = comma + 1;
  }
  return fields;
}

bool IsOk(const Fields& fields) { return !fields.empty() && fields[0] == "ok"; }

std::string ErrorWord(const Fields& fields) {
  if (fields.empty()) return kDataIsNull;
  return fields.size() >= 2 ? fields[1] : fields[0];
}

bool ParseWide(const std::string& field, int64_t* value) {
  double parsed = std::strtod(field.c_str(), nullptr);
  // 2^63 is the first value that does not fit.
  if (!std::isfinite(parsed) || parsed >= 9223372036854775808.0 ||
      parsed < -9223372036854775808.0) {
    return false;
  }
  *value = static_cast<int64_t>(parsed);
  return true;
}

bool ParseNarrow(const std::string& field, int32_t* value) {
  errno = 0;
  long long parsed = std::strtoll(field.c_str(), nullptr, 10);
  if (errno == ERANGE || parsed > INT32_MAX || parsed < INT32_MIN) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseOpenReply(const Fields& fields, OpenReply* reply) {
  if (fields.size() != 5 || !IsOk(fields)) return false;
  OpenReply parsed;
  parsed.streamId = fields[1];
  parsed.ext = fields[3];
  if (!ParseWide(fields[2], &parsed.fileLength)) return false;
  if (!ParseNarrow(fields[4], &parsed.headSize)) return false;
  if (parsed.headSize < 0 || parsed.headSize > kMaxChunk) return false;
  *reply = parsed;
  return true;
}

bool ParseDataReply(const Fields& fields, int32_t capacity, DataReply* reply) {
  if (fields.size() != 3 || !IsOk(fields)) return false;
  DataReply parsed;
  if (!ParseWide(fields[1], &parsed.offset)) return false;
  if (parsed.offset < 0 || parsed.offset > (INT64_MAX >> 1)) return false;
  if (!ParseNarrow(fields[2], &parsed.size)) return false;
  if (parsed.size < 0 || parsed.size > capacity) return false;
  *reply = parsed;
  return true;
}

}  // namespace streamwire
