// The "readdist" reply: "ok,<host>,<port>,<token 2>,<token 1>" or an error text.
#pragma once

#include <string_view>

#include "drive/replies/StreamLink.h"

namespace read_link {
constexpr int kRefused = -4;          // no "ok," or fields missing
constexpr int kFileRefused = -11;     // the service names "File" (file not found)
constexpr int kSessionRefused = -12;  // the service names "Session" (expired session)
}  // namespace read_link

// 0 and `link` filled, or one of the codes above. A success needs all four fields, a
// non-empty host and tokens and a port from 1 to 65535.
int ParseReadLinkReply(std::u16string_view reply, StreamLink* link);

// The "writedist" reply: "ok,<host>,<port>,<file id>,<size>".
struct WriteLink {
  std::u16string host;
  int32_t port = 0;
  std::u16string id;
  int64_t size = 0;
};

// 0 and `link` filled, or read_link::kRefused. A success needs a non-empty host and id, a
// port from 1 to 65535 and a decimal size.
int ParseWriteLinkReply(std::u16string_view reply, WriteLink* link);
