// One line of the service's folder list ("id,name,type,size,parent id,time"), as it comes in
// the list3 body and in a file_info reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "drive/node/NodeRecord.h"

constexpr uint32_t kRemoteFolderAttributes = 0x11;  // directory, read-only
constexpr uint32_t kRemoteFileAttributes = 0x81;    // normal, read-only

// The name with each of \ / " : * ? < > | replaced by "_".
std::u16string CleanRemoteName(std::u16string_view name);

// The text without leading and trailing white space.
std::u16string_view TrimWhiteSpace(std::u16string_view text);

// Decimal number as the C library reads it: optional sign, digits up to the first other
// character, 0 when there are none; clamped to the range of the result.
int64_t ParseDecimal64(std::u16string_view text);

// Parses the six comma-separated fields, each trimmed (missing ones empty): id, name
// (cleaned), type ("dir" is a folder, anything else a file), size (0 for folders and for
// negative values), parent id, time. Writable and stale are 0.
NodeRecord ParseNodeLine(std::u16string_view line);
