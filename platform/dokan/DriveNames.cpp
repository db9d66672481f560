#include "platform/dokan/DriveNames.h"

#include <cerrno>

namespace dokan {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
// 100-ns ticks between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one code point at `bytes[i]`, advancing `i`; false when malformed.
bool DecodeOne(std::string_view bytes, size_t& i, char32_t& code) {
  unsigned char lead = static_cast<unsigned char>(bytes[i]);
  size_t extra;
  char32_t minimum;
  if (lead < 0x80) {
    code = lead;
    ++i;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, code = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (bytes.size() - i <= extra) return false;
  for (size_t k = 1; k <= extra; ++k) {
    unsigned char next = static_cast<unsigned char>(bytes[i + k]);
    if (!IsContinuation(next)) return false;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

}  // namespace

bool Utf8ToUtf16(std::string_view bytes, std::u16string& out) {
  out.clear();
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t code;
    if (!DecodeOne(bytes, i, code)) return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return true;
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return true;
}

int DrivePathOf(const char* fusePath, std::u16string& out) {
  if (fusePath == nullptr || fusePath[0] != '/') return EINVAL;
  std::string_view path(fusePath);
  if (path.find('\\') != std::string_view::npos) return EINVAL;
  if (!Utf8ToUtf16(path, out)) return EILSEQ;
  if (out.size() > kMaxPathUnits) return ENAMETOOLONG;
  size_t nameStart = 0;
  for (size_t i = 0; i <= out.size(); ++i) {
    if (i == out.size() || out[i] == u'/') {
      if (i - nameStart > kMaxNameUnits) return ENAMETOOLONG;
      if (i < out.size()) out[i] = u'\\';
      nameStart = i + 1;
    }
  }
  return 0;
}

int ErrnoOfResult(int result) {
  if (result >= 0) return 0;
  switch (result) {
    case -2:
    case -3:
      return ENOENT;
    case -5:
      return EACCES;
    case -112:
      return ENOSPC;
    case -148:
      return EBUSY;
    case -183:
      return EEXIST;
    case -6009:
      return EROFS;
    default:
      return EIO;
  }
}

timespec TimespecOf(const FILETIME& time) {
  int64_t ticks =
      static_cast<int64_t>(SizeOf(time.dwHighDateTime, time.dwLowDateTime) & 0x7FFFFFFFFFFFFFFFULL);
  timespec result{};
  if (ticks <= kUnixEpochTicks) return result;
  ticks -= kUnixEpochTicks;
  result.tv_sec = static_cast<time_t>(ticks / kTicksPerSecond);
  result.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100);
  return result;
}

FILETIME FiletimeOf(const timespec& time) {
  // Latest second that still fits the 63-bit tick count.
  constexpr int64_t kMaxSeconds = (INT64_MAX - kUnixEpochTicks) / kTicksPerSecond - 1;
  int64_t ticks = kUnixEpochTicks;
  if (time.tv_sec > 0) {
    int64_t seconds = time.tv_sec > kMaxSeconds ? kMaxSeconds : static_cast<int64_t>(time.tv_sec);
    ticks += seconds * kTicksPerSecond;
  }
  if (time.tv_sec >= 0 && time.tv_nsec > 0) ticks += time.tv_nsec / 100;
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
  result.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return result;
}

size_t BoundedLength(const WCHAR* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return n;
}

}  // namespace dokan
