// The header of a list3 reply: after the "ok," markers are removed it reads
// "<writable folder ids joined by ':'>,<quota GiB>,<used MiB>,<Base64 folder list>".
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

struct ListReply {
  std::set<std::u16string> writableIds;  // trimmed, empty ones left out
  int64_t quotaBytes = 0;                // never negative
  int64_t usedBytes = 0;                 // never negative, never above the quota
  std::u16string body;                   // the Base64 folder list
};

// Splits at the first three commas; missing parts are empty (and count as 0).
ListReply ParseListReply(std::u16string_view text);
