// Conversions at the boundary between the Linux side of the drive (UTF-8 paths with "/",
// errno, struct stat times) and the driver side (UTF-16 paths with "\", negative result
// codes, FILETIME).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/dokan/DokanTypes.h"

namespace dokan {

// Longest path, in UTF-16 units, handed to the file system; longer ones fail ENAMETOOLONG.
constexpr size_t kMaxPathUnits = 32767;
// Longest single name, in UTF-16 units.
constexpr size_t kMaxNameUnits = 255;

// Strict UTF-8 → UTF-16: rejects malformed, overlong and surrogate sequences. Returns false
// (and leaves `out` unspecified) for any such input.
bool Utf8ToUtf16(std::string_view bytes, std::u16string& out);
// Strict UTF-16 → UTF-8: rejects unpaired surrogates.
bool Utf16ToUtf8(std::u16string_view text, std::string& out);

// Turns a mount-relative path "/a/b" into the drive's form u"\\a\\b" ("/" → u"\\").
// Returns 0, or the errno to answer: EINVAL for a name holding "\" (it would split into two
// names on the drive), EILSEQ for bytes that are not UTF-8, ENAMETOOLONG for an over-long
// name or path.
int DrivePathOf(const char* fusePath, std::u16string& out);

// errno (positive) for a negative driver result; 0 for 0 or more.
int ErrnoOfResult(int result);

// FILETIME (100 ns since 1601) ↔ timespec (since 1970). Times before 1970 read as 0.
timespec TimespecOf(const FILETIME& time);
FILETIME FiletimeOf(const timespec& time);

// Combines the two 32-bit halves of a size.
inline uint64_t SizeOf(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

// Length of a fixed-size wide buffer's text up to its first null (at most `capacity`).
size_t BoundedLength(const WCHAR* text, size_t capacity);

}  // namespace dokan
