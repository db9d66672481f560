#include "platform/profile/IniValue.h"

#include <cstdio>

#include "platform/codepage/CodePage.h"

namespace ini {
namespace {

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return c - u'A' + 10;
}

// Reads one backslash escape starting after the backslash at raw[i]; appends its meaning to
// `out` and returns the index of the last character consumed.
size_t ReadEscape(const std::u16string& raw, size_t i, std::u16string& out) {
  if (i + 1 >= raw.size()) {
    out += u'\\';
    return i;
  }
  char16_t c = raw[i + 1];
  switch (c) {
    case u'a':
      out += u'\a';
      return i + 1;
    case u'b':
      out += u'\b';
      return i + 1;
    case u'f':
      out += u'\f';
      return i + 1;
    case u'n':
      out += u'\n';
      return i + 1;
    case u'r':
      out += u'\r';
      return i + 1;
    case u't':
      out += u'\t';
      return i + 1;
    case u'v':
      out += u'\v';
      return i + 1;
    case u'"':
    case u'\'':
    case u'?':
    case u'\\':
      out += c;
      return i + 1;
    case u'x': {
      size_t j = i + 2;
      uint32_t value = 0;
      int digits = 0;
      while (j < raw.size() && digits < 4 && IsHexDigit(raw[j])) {
        value = value * 16 + HexValue(raw[j]);
        ++j;
        ++digits;
      }
      if (digits == 0) {
        out += u"\\x";
        return i + 1;
      }
      out += static_cast<char16_t>(value);
      return j - 1;
    }
    default:
      if (c >= u'0' && c <= u'7') {
        size_t j = i + 1;
        uint32_t value = 0;
        int digits = 0;
        while (j < raw.size() && digits < 3 && raw[j] >= u'0' && raw[j] <= u'7') {
          value = value * 8 + (raw[j] - u'0');
          ++j;
          ++digits;
        }
        out += static_cast<char16_t>(value);
        return j - 1;
      }
      // Not an escape the writer produces: keep both characters.
      out += u'\\';
      out += c;
      return i + 1;
  }
}

std::u16string Unquote(const std::u16string& raw) {
  std::u16string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    char16_t c = raw[i];
    if (c == u'"') continue;
    if (c == u'\\') {
      i = ReadEscape(raw, i, out);
      continue;
    }
    out += c;
  }
  return out;
}

std::u16string StripSpecialPrefix(const std::u16string& value) {
  if (value.rfind(u"@@", 0) == 0) return value.substr(1);
  if (value == u"@Invalid()") return std::u16string();
  if (value.rfind(u"@String(", 0) == 0 && value.back() == u')')
    return value.substr(8, value.size() - 9);
  return value;
}

// "\\x" and the character's code in lower-case hexadecimal.
void AppendHexEscape(char16_t c, std::u16string& out) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%x", static_cast<unsigned>(c));
  out += codepage::Utf8ToWide(buf);
}

// The two-character escape of a control character that has one, else nullptr.
const char16_t* SimpleEscape(char16_t c) {
  switch (c) {
    case u'\a':
      return u"\\a";
    case u'\b':
      return u"\\b";
    case u'\f':
      return u"\\f";
    case u'\n':
      return u"\\n";
    case u'\r':
      return u"\\r";
    case u'\t':
      return u"\\t";
    case u'\v':
      return u"\\v";
    default:
      return nullptr;
  }
}

}  // namespace

std::u16string UnescapeValue(const std::u16string& raw) {
  if (raw.find_first_of(u"\"\\") == std::u16string::npos) return StripSpecialPrefix(raw);
  return StripSpecialPrefix(Unquote(raw));
}

std::string EscapeValue(const std::u16string& value) {
  std::u16string text = value;
  if (!text.empty() && text[0] == u'@') text.insert(0, 1, u'@');

  std::u16string out;
  bool needsQuotes = false;
  bool escapeNextIfHex = false;
  for (char16_t c : text) {
    if (c == u';' || c == u',' || c == u'=') needsQuotes = true;
    if (escapeNextIfHex && IsHexDigit(c)) {
      AppendHexEscape(c, out);
      continue;
    }
    escapeNextIfHex = false;
    switch (c) {
      case u'\0':
        out += u"\\0";
        escapeNextIfHex = true;
        break;
      case u'"':
      case u'\\':
        out += u'\\';
        out += c;
        break;
      default:
        if (const char16_t* escape = SimpleEscape(c)) {
          out += escape;
        } else if (c <= 0x1F) {
          AppendHexEscape(c, out);
          escapeNextIfHex = true;
        } else {
          out += c;
        }
    }
  }
  if (needsQuotes || (!out.empty() && (out.front() == u' ' || out.back() == u' '))) {
    out.insert(0, 1, u'"');
    out += u'"';
  }
  return codepage::WideToUtf8(out);
}

}  // namespace ini
