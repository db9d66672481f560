// Text conversions between UTF-16 and byte texts: the process's "ANSI" code page (the
// character set of the process locale; the plain C/POSIX locale counts as UTF-8) and UTF-8.
// Characters that the target set cannot hold become '?'; malformed input bytes become U+FFFD
// (to UTF-16) and never stop the conversion.
#pragma once

#include <string>
#include <string_view>

namespace codepage {

// Sets the process locale from the environment (setlocale(LC_ALL, "")) and picks the ANSI
// character set. Returns false when the locale cannot be set up.
bool InitProcessLocale();

// Name of the ANSI character set in use ("UTF-8", "GBK", ...).
std::string AnsiCharset();

// Overrides the ANSI character set (tests, or a process that knows better).
void SetAnsiCharset(const std::string& charset);

std::string WideToAnsi(std::u16string_view text);
std::u16string AnsiToWide(std::string_view bytes);
std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view bytes);

// Conversion between any two iconv character sets, with the replacement rules above.
std::string Convert(std::string_view bytes, const char* from, const char* to);

}  // namespace codepage
