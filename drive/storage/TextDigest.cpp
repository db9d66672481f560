#include "drive/storage/TextDigest.h"

#include <openssl/evp.h>

#include <memory>

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
  std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)> context(EVP_ENCODE_CTX_new(),
                                                                          &EVP_ENCODE_CTX_free);
  if (!context) return std::string();
  EVP_DecodeInit(context.get());
  std::string out;
  out.resize(text.size() / 4 * 3 + 3 + 80);
  size_t total = 0;
  // Fed in slices so the int lengths of the EVP interface never overflow.
  constexpr size_t kSlice = 1 << 20;
  for (size_t offset = 0; offset < text.size(); offset += kSlice) {
    size_t sliceLength = std::min(kSlice, text.size() - offset);
    int produced = 0;
    int status = EVP_DecodeUpdate(context.get(),
                                  reinterpret_cast<unsigned char*>(out.data() + total),
                                  &produced,
                                  reinterpret_cast<const unsigned char*>(text.data() + offset),
                                  static_cast<int>(sliceLength));
    if (produced > 0) total += static_cast<size_t>(produced);
    if (status < 0) {  // a character outside the alphabet: keep what decoded before it
      out.resize(total);
      return out;
    }
    if (status == 0) break;  // padding seen: the encoded data has ended
  }
  int produced = 0;
  if (EVP_DecodeFinal(context.get(), reinterpret_cast<unsigned char*>(out.data() + total),
                      &produced) == 1 &&
      produced > 0) {
    total += static_cast<size_t>(produced);
  }
  out.resize(total);
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
