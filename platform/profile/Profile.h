// Single keys of a UTF-8 INI file, read and written with the semantics of the classic
// private-profile functions: section and key names compare case-insensitively, values are
// trimmed, a read returns at most 1023 characters, and every write goes to disk at once.
// Values are escaped and quoted the way the desktop program's INI writer does it, so both
// programs read what the other wrote.
#pragma once

#include <string>
#include <string_view>

// Length of the read buffer in characters, including the terminating null.
constexpr size_t kProfileBufferChars = 1024;

// The value of [section] key in the file at `path`, or `defaultValue` when the file, the
// section or the key is missing. A key that is present with an empty value yields "".
std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, const std::string& path);

// Sets [section] key to `value`, creating the file, section or key as needed; other lines
// keep their place and spelling. Returns false when the file cannot be written.
bool WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value, const std::string& path);
