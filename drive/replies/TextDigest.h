// Digest and encoding helpers of the request signing: MD5 text and Base64 in both directions.
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace text_digest {

// MD5 of the text's ANSI-code-page bytes as 32 lower-case hexadecimal digits.
std::u16string Md5Text(std::u16string_view text);

// Base64 (standard alphabet, "=" padding, no line breaks) of the text's ANSI bytes.
std::u16string Base64OfAnsi(std::u16string_view text);

// Base64 of the text's UTF-8 bytes.
std::u16string Base64OfUtf8(std::u16string_view text);

// Decodes Base64 text (taken as ANSI bytes) and reads the bytes up to the first zero byte as
// UTF-8. Input that is not Base64 yields what decoded before the first bad character; no error
// is reported.
std::u16string TextFromBase64(std::u16string_view text);

// Byte-level forms of the two directions.
std::string EncodeBase64(std::string_view bytes);
std::string DecodeBase64(std::string_view text);

// Base64 decoding of a text that arrives in pieces; the same bytes as decoding it whole.
// Characters after the first padding or foreign character are ignored.
class Base64Decoder {
 public:
  // Decodes the next piece into `out` (room for size * 3 / 4 + 3 bytes) and returns the
  // number of bytes written.
  size_t decode(const char* text, size_t size, char* out);
  // The bytes of a last group left incomplete (at most two); nothing is decoded after it.
  size_t finish(char* out);

 private:
  uint32_t group_ = 0;
  int held_ = 0;
  bool ended_ = false;
};

}  // namespace text_digest
