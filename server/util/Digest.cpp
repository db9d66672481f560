#include "server/util/Digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <vector>

namespace qserver {
namespace {

std::string ToHex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 0x0f]);
  }
  return out;
}

}  // namespace

std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr) != 1) return {};
  return ToHex(digest, size);
}

std::string HmacSha256Hex(std::string_view key, std::string_view message) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest,
            &size)) {
    return {};
  }
  return ToHex(digest, size);
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  AppendBase64(out, bytes);
  return out;
}

void AppendBase64(std::string& out, std::string_view bytes) {
  size_t start = out.size();
  out.resize(start + 4 * ((bytes.size() + 2) / 3) + 1);
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + start),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(start + (n < 0 ? 0 : static_cast<size_t>(n)));
}

void Base64Appender::add(std::string_view bytes) {
  constexpr size_t kBlock = 48 * 1024;  // a multiple of three: whole groups only
  pending_.append(bytes);
  if (pending_.size() < kBlock) return;
  size_t whole = pending_.size() - pending_.size() % 3;
  AppendBase64(out_, std::string_view(pending_).substr(0, whole));
  pending_.erase(0, whole);
}

void Base64Appender::finish() {
  AppendBase64(out_, pending_);
  pending_.clear();
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  if (text.empty()) return std::string();
  std::vector<unsigned char> out(text.size() / 4 * 3 + 1);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts padding as zero bytes; take them off again.
  size_t size = static_cast<size_t>(n);
  if (text.back() == '=') --size;
  if (text.size() >= 2 && text[text.size() - 2] == '=') --size;
  return std::string(reinterpret_cast<const char*>(out.data()), size);
}

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) return {};
  return ToHex(raw.data(), raw.size());
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace qserver

#include <fstream>
#include <memory>

namespace qserver {

std::string Md5FileHex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return {};
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.gcount() > 0) EVP_DigestUpdate(context.get(), buffer.data(), in.gcount());
  }
  if (in.bad()) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1) return {};
  return ToHex(digest, size);
}

}  // namespace qserver
