#include "drive/replies/TextDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/codepage/CodePage.h"

namespace text_digest {

namespace {

// Widens an ASCII text (hex digits, Base64) without a code page round trip.
std::u16string WidenAscii(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

std::u16string Md5Text(std::u16string_view text) {
  std::string bytes = codepage::WideToAnsi(text);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
    return std::u16string();
  }
  static const char kHex[] = "0123456789abcdef";
  std::u16string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(static_cast<char16_t>(kHex[digest[i] >> 4]));
    hex.push_back(static_cast<char16_t>(kHex[digest[i] & 0x0f]));
  }
  return hex;
}

std::string EncodeBase64(std::string_view bytes) {
  if (bytes.empty()) return std::string();
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

std::string DecodeBase64(std::string_view text) {
  std::string bytes(text.size() * 3 / 4 + 3, '\0');
  Base64Decoder decoder;
  size_t written = decoder.decode(text.data(), text.size(), bytes.data());
  written += decoder.finish(bytes.data() + written);
  bytes.resize(written);
  return bytes;
}

namespace {

constexpr int8_t kSpace = -1;    // skipped
constexpr int8_t kForeign = -2;  // ends the decoded run

constexpr std::array<int8_t, 256> MakeSextets() {
  std::array<int8_t, 256> table{};
  for (int8_t& value : table) value = kForeign;
  for (int i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<int8_t>(i);
    table['a' + i] = static_cast<int8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<int8_t>(52 + i);
  table['+'] = 62;
  table['/'] = 63;
  for (char c : {' ', '\t', '\r', '\n'}) table[static_cast<unsigned char>(c)] = kSpace;
  return table;
}

// The value of each Base64 character, kSpace for white space, kForeign for everything else.
constexpr std::array<int8_t, 256> kSextets = MakeSextets();

}  // namespace

size_t Base64Decoder::decode(const char* text, size_t size, char* out) {
  // Only the run of alphabet characters before the first padding or foreign character is
  // decoded (white space is skipped).
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  size_t at = 0;
  size_t written = 0;
  while (at < size && !ended_) {
    // Four alphabet characters in a row, nearly every group, are decoded at once.
    if (held_ == 0 && size - at >= 4) {
      int a = kSextets[in[at]], b = kSextets[in[at + 1]];
      int c = kSextets[in[at + 2]], d = kSextets[in[at + 3]];
      if ((a | b | c | d) >= 0) {
        uint32_t whole = static_cast<uint32_t>(a << 18 | b << 12 | c << 6 | d);
        out[written++] = static_cast<char>(whole >> 16);
        out[written++] = static_cast<char>(whole >> 8);
        out[written++] = static_cast<char>(whole);
        at += 4;
        continue;
      }
    }
    int value = kSextets[in[at++]];
    if (value == kSpace) continue;
    if (value == kForeign) {
      ended_ = true;
      break;
    }
    group_ = (group_ << 6) | static_cast<uint32_t>(value);
    if (++held_ == 4) {
      out[written++] = static_cast<char>(group_ >> 16);
      out[written++] = static_cast<char>(group_ >> 8);
      out[written++] = static_cast<char>(group_);
      group_ = 0;
      held_ = 0;
    }
  }
  return written;
}

size_t Base64Decoder::finish(char* out) {
  // A last group without its padding is completed, a lone last character dropped, so cut or
  // damaged input yields what it still holds.
  size_t written = 0;
  if (held_ >= 2) out[written++] = static_cast<char>(group_ >> (6 * held_ - 8));
  if (held_ == 3) out[written++] = static_cast<char>(group_ >> 2);
  group_ = 0;
  held_ = 0;
  ended_ = true;
  return written;
}

std::u16string Base64OfAnsi(std::u16string_view text) {
  return WidenAscii(EncodeBase64(codepage::WideToAnsi(text)));
}

std::u16string Base64OfUtf8(std::u16string_view text) {
  return WidenAscii(EncodeBase64(codepage::WideToUtf8(text)));
}

std::u16string TextFromBase64(std::u16string_view text) {
  std::string bytes = DecodeBase64(codepage::WideToAnsi(text));
  size_t end = bytes.find('\0');
  if (end != std::string::npos) bytes.resize(end);
  return codepage::Utf8ToWide(bytes);
}

}  // namespace text_digest
