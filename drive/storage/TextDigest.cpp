#include "drive/storage/TextDigest.h"

#include <openssl/evp.h>

#include <algorithm>

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
  // Only the run of alphabet characters before the first padding or foreign character is
  // decoded (white space is skipped); a last group without its padding is completed, a lone
  // last character dropped. So cut or damaged input yields what it still holds.
  std::string clean;
  clean.reserve(text.size() + 2);
  for (char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
        c == '/') {
      clean.push_back(c);
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      break;
    }
  }
  size_t padding = 0;
  switch (clean.size() % 4) {
    case 1:
      clean.pop_back();
      break;
    case 2:
      clean += "==";
      padding = 2;
      break;
    case 3:
      clean += "=";
      padding = 1;
      break;
    default:
      break;
  }

  std::string out(clean.size() / 4 * 3, '\0');
  // Decoded in slices so the int lengths of the EVP interface never overflow.
  constexpr size_t kSlice = 4 << 20;
  size_t written = 0;
  for (size_t offset = 0; offset < clean.size(); offset += kSlice) {
    size_t sliceLength = std::min(kSlice, clean.size() - offset);
    int produced = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data() + written),
                                   reinterpret_cast<const unsigned char*>(clean.data() + offset),
                                   static_cast<int>(sliceLength));
    if (produced < 0) break;
    written += static_cast<size_t>(produced);
  }
  // EVP_DecodeBlock counts the padded positions as zero bytes.
  out.resize(written >= padding ? written - padding : 0);
  return out;
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
