#include "platform/codepage/CodePage.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <map>
#include <utility>

#include "platform/sync/Mutex.h"

namespace codepage {
namespace {

Mutex charsetLock;
std::string ansiCharset GUARDED_BY(charsetLock) = "UTF-8";

bool IsPlainAscii(const std::string& name) {
  return name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII";
}

// Width in bytes of one input character unit for the replacement step: UTF-16 input is
// skipped a code unit pair at a time, other sets one byte at a time.
size_t SkipWidth(const char* from) { return std::strncmp(from, "UTF-16", 6) == 0 ? 2 : 1; }

// The conversion descriptors this thread opened, one per (from, to) pair: opening one costs far
// more than converting a short text, and tree reads convert a million short lines.
class DescriptorCache {
 public:
  ~DescriptorCache() {
    for (auto& [sets, cd] : open_) iconv_close(cd);
  }
  iconv_t get(const char* from, const char* to) {
    auto key = std::make_pair(std::string(from), std::string(to));
    auto found = open_.find(key);
    if (found != open_.end()) {
      iconv(found->second, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
      return found->second;
    }
    iconv_t cd = iconv_open(to, from);
    if (cd != kInvalid) open_.emplace(std::move(key), cd);
    return cd;
  }
  static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);

 private:
  std::map<std::pair<std::string, std::string>, iconv_t> open_;
};

iconv_t DescriptorFor(const char* from, const char* to) {
  thread_local DescriptorCache cache;
  return cache.get(from, to);
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

}  // namespace

bool InitProcessLocale() {
  if (std::setlocale(LC_ALL, "") == nullptr) {
    // An unknown locale in the environment: fall back to the C locale, which still works.
    if (std::setlocale(LC_ALL, "C") == nullptr) return false;
  }
  std::string name = nl_langinfo(CODESET);
  SetAnsiCharset(IsPlainAscii(name) ? "UTF-8" : name);
  return true;
}

std::string AnsiCharset() {
  MutexLock guard(charsetLock);
  return ansiCharset;
}

void SetAnsiCharset(const std::string& charset) {
  MutexLock guard(charsetLock);
  ansiCharset = charset;
}

std::string Convert(std::string_view bytes, const char* from, const char* to) {
  iconv_t cd = DescriptorFor(from, to);
  if (cd == DescriptorCache::kInvalid) return std::string();
  const bool toWide = std::strncmp(to, "UTF-16", 6) == 0;
  const std::string replacement = toWide ? std::string("\xFD\xFF", 2) : std::string("?");

  std::string out;
  out.resize(bytes.size() * 4 + 16);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = outPtr - out.data();
      out.resize(out.size() * 2);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    // EILSEQ (no mapping or malformed) or EINVAL (cut sequence at the end): replace one unit.
    size_t skip = std::min(SkipWidth(from), inLeft);
    if (std::strncmp(from, "UTF-16", 6) == 0 && inLeft >= 4) {
      // A valid surrogate pair that the target cannot hold is one character, not two.
      uint16_t first = static_cast<uint8_t>(in[0]) | (static_cast<uint8_t>(in[1]) << 8);
      uint16_t second = static_cast<uint8_t>(in[2]) | (static_cast<uint8_t>(in[3]) << 8);
      if (first >= 0xD800 && first < 0xDC00 && second >= 0xDC00 && second < 0xE000) skip = 4;
    }
    in += skip;
    inLeft -= skip;
    if (outLeft < replacement.size()) {
      size_t used = outPtr - out.data();
      out.resize(out.size() * 2 + replacement.size());
      outPtr = out.data() + used;
      outLeft = out.size() - used;
    }
    std::memcpy(outPtr, replacement.data(), replacement.size());
    outPtr += replacement.size();
    outLeft -= replacement.size();
  }
  out.resize(outPtr - out.data());
  return out;
}

namespace {

std::string WideBytes(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

std::u16string FromWideBytes(const std::string& bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

}  // namespace

std::string WideToAnsi(std::u16string_view text) {
  std::string charset = AnsiCharset();
  if (charset == "UTF-8") return WideToUtf8(text);
  return Convert(WideBytes(text), "UTF-16LE", charset.c_str());
}

std::u16string AnsiToWide(std::string_view bytes) {
  std::string charset = AnsiCharset();
  if (charset == "UTF-8") return Utf8ToWide(bytes);
  return FromWideBytes(Convert(bytes, charset.c_str(), "UTF-16LE"));
}

// ASCII is the same in UTF-8 and UTF-16: such texts (most names) are copied unit by unit.
std::string WideToUtf8(std::u16string_view text) {
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  return Convert(WideBytes(text), "UTF-16LE", "UTF-8");
}

std::u16string Utf8ToWide(std::string_view bytes) {
  if (IsAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
  return FromWideBytes(Convert(bytes, "UTF-8", "UTF-16LE"));
}

}  // namespace codepage
