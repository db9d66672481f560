#include "drive/replies/ChunkedText.h"

#include "platform/codepage/CodePage.h"

namespace chunked_text {

namespace {

constexpr size_t kSlice = 64 * 1024;

// End of the next byte slice starting at `from`: just after a line break or an ASCII comma
// (neither occurs inside a multi-byte character of UTF-8 or GBK), or the whole rest when
// there is none near enough.
size_t ByteSliceEnd(std::string_view bytes, size_t from) {
  if (bytes.size() - from <= kSlice) return bytes.size();
  for (size_t at = from + kSlice; at < bytes.size() && at < from + 4 * kSlice; ++at) {
    if (bytes[at] == '\n' || bytes[at] == ',') return at + 1;
  }
  size_t rest = bytes.find('\n', from + kSlice);
  return rest == std::string_view::npos ? bytes.size() : rest + 1;
}

template <typename Convert>
std::u16string WidenBySlices(std::string_view bytes, Convert convert) {
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t from = 0; from < bytes.size();) {
    size_t end = ByteSliceEnd(bytes, from);
    out += convert(bytes.substr(from, end - from));
    from = end;
  }
  return out;
}

}  // namespace

std::u16string AnsiToWide(std::string_view bytes) {
  return WidenBySlices(bytes, [](std::string_view slice) { return codepage::AnsiToWide(slice); });
}

std::u16string Utf8ToWide(std::string_view bytes) {
  return WidenBySlices(bytes, [](std::string_view slice) { return codepage::Utf8ToWide(slice); });
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t from = 0; from < text.size();) {
    size_t end = std::min(text.size(), from + kSlice);
    // Never between the two halves of a surrogate pair.
    if (end < text.size() && text[end] >= 0xDC00 && text[end] < 0xE000) ++end;
    out += codepage::WideToAnsi(text.substr(from, end - from));
    from = end;
  }
  return out;
}

}  // namespace chunked_text
