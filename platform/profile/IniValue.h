// Escaping of INI values as the desktop program's settings writer produces them: quotes
// around values holding ';', ',' or '=' or with a blank at either end, backslash escapes
// for quotes, backslashes and control characters, and a doubled '@' in front of a value
// that starts with '@'.
#pragma once

#include <string>

namespace ini {

// UTF-8 value text as it stands in the file → the value it means.
std::u16string UnescapeValue(const std::u16string& raw);

// A value → the UTF-8 text to put after "key=".
std::string EscapeValue(const std::u16string& value);

}  // namespace ini
