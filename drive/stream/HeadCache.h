// The disk cache of file heads (each step is logged to the stream log it is given): "cache/<token
// 2>" in the program folder holds the first 65536 bytes of a remote file, so that a later open
// answers its first reads without the network. A head file is written once and never updated, but
// deleted when the file's content changed; only a file of exactly 65536 bytes is used.
#pragma once

#include <cstdint>
#include <string>

#include "drive/wire/StreamLog.h"

namespace headcache {

constexpr int32_t kHeadSize = 65536;

// True when `token2` can serve as a plain file name inside the cache folder (not empty, no
// "/" or NUL, not "." or ".."). Other names are never read or written.
bool IsUsableName(const std::string& token2);

// "<folder>cache/<token 2>"; `folder` ends in "/".
std::string HeadPath(const std::string& folder, const std::string& token2);

// Reads up to kHeadSize bytes of the head file into `buffer` (kHeadSize bytes) and logs
// "ReadCacheFile". Returns the number of bytes read, or -1 when there is no such file.
int32_t Read(CStreamLog& log, const std::string& folder, const std::string& token2,
             uint8_t* buffer);

// Writes the head file unless one exists (logging either case). The bytes go to a temporary
// name first and are renamed into place, so that a reader never sees a partial head.
// Returns true when a new head file was written.
bool Write(CStreamLog& log, const std::string& folder, const std::string& token2,
           const uint8_t* data, int32_t size);

// Deletes the head file of `token2`, whose content changed: true when one was deleted.
bool Remove(CStreamLog& log, const std::string& folder, const std::string& token2);

}  // namespace headcache
