// One line per event on stderr, with a time stamp; safe from any thread. Lines are plain
// text whatever they quote from clients.
#pragma once

#include <string>
#include <string_view>

namespace qserver {

void LogLine(const std::string& line);

// `text` as printable text: valid UTF-8 of printable characters stays, trailing zero bytes
// (the padding of fixed-size fields) go, and every other byte becomes "\xNN".
std::string PrintableText(std::string_view text);

}  // namespace qserver
