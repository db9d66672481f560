// Digest and encoding helpers of the request signing: MD5 text and Base64 in both directions.
// Stateless; safe from any thread.
#pragma once

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
// The same, decoding into the text's own buffer, so a large reply needs no second copy.
void DecodeBase64InPlace(std::string& text);

}  // namespace text_digest
