// Code page conversions of large texts in slices, so that a multi-megabyte folder list is
// never converted (and its worst-case buffer allocated) in one piece. Slices end after a
// line break, or inside plain ASCII, never inside a character.
#pragma once

#include <string>
#include <string_view>

namespace chunked_text {

// As codepage::AnsiToWide / Utf8ToWide / WideToAnsi, slice by slice.
std::u16string AnsiToWide(std::string_view bytes);
std::u16string Utf8ToWide(std::string_view bytes);
std::string WideToAnsi(std::u16string_view text);

}  // namespace chunked_text
