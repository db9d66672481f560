// The "readdist" reply: "ok,<host>,<port>,<token 2>,<token 1>" or an error text.
#pragma once

#include <string_view>

#include "drive/storage/ReadLinkCache.h"

namespace read_link {
constexpr int kRefused = -4;          // no "ok," or fields missing
constexpr int kFileRefused = -11;     // the service names "File" (file not found)
constexpr int kSessionRefused = -12;  // the service names "Session" (expired session)
}  // namespace read_link

// 0 and `link` filled, or one of the codes above. A success needs all four fields, a
// non-empty host and tokens and a port from 1 to 65535.
int ParseReadLinkReply(std::u16string_view reply, StreamLink* link);
