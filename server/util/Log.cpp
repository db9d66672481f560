#include "server/util/Log.h"

#include <time.h>
#include <unistd.h>

namespace qserver {
namespace {

// Length of the valid UTF-8 sequence of a character at or above U+0080 that starts `text`;
// 0 when none does.
size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
  if (length == 0 || text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and values above U+10FFFF.
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) ||
      (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F))
    return 0;
  return length;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  std::string printable;
  printable.reserve(text.size());
  while (!text.empty()) {
    const unsigned char c = static_cast<unsigned char>(text[0]);
    size_t length = c >= 0x20 && c < 0x7F ? 1 : c >= 0x80 ? Utf8SequenceLength(text) : 0;
    if (length > 0) {
      printable.append(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    static const char kHex[] = "0123456789abcdef";
    printable += "\\x";
    printable += kHex[c >> 4];
    printable += kHex[c & 0xF];
    text.remove_prefix(1);
  }
  return printable;
}

void LogLine(const std::string& line) {
  char stamp[32];
  time_t now = ::time(nullptr);
  struct tm parts {};
  ::localtime_r(&now, &parts);
  ::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &parts);
  std::string text = stamp + PrintableText(line) + "\n";
  // One write call per line keeps lines from different threads whole.
  ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

}  // namespace qserver
