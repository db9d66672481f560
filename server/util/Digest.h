// Digests, Base64 and random texts used by the service (OpenSSL EVP underneath).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qserver {

// MD5 of the bytes, as 32 lowercase hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

// HMAC-SHA256 of the message under the key, as lowercase hexadecimal digits.
std::string HmacSha256Hex(std::string_view key, std::string_view message);

// Standard Base64 with "=" padding and no line breaks.
std::string Base64Encode(std::string_view bytes);
// The same, written at the end of `out`.
void AppendBase64(std::string& out, std::string_view bytes);

// Base64 of a text handed over piece by piece, written at the end of `out` a block at a time:
// after finish() `out` has gained exactly the Base64 of the whole text.
class Base64Appender {
 public:
  explicit Base64Appender(std::string& out) : out_(out) {}
  void add(std::string_view bytes);
  void finish();

 private:
  std::string& out_;
  std::string pending_;  // bytes not yet encoded
};

// Decodes standard Base64; nullopt when the text is not valid Base64.
std::optional<std::string> Base64Decode(std::string_view text);

// `bytes` random bytes from the system's generator, as lowercase hexadecimal digits.
std::string RandomHex(size_t bytes);

// Constant-time comparison of two texts.
bool SameText(std::string_view a, std::string_view b);

}  // namespace qserver

namespace qserver {

// MD5 of a whole file as lowercase hexadecimal digits; empty when it cannot be read.
std::string Md5FileHex(const std::string& path);

}  // namespace qserver
