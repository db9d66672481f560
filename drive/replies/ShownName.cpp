#include "drive/replies/ShownName.h"

#include "drive/replies/NodeLine.h"

namespace {

constexpr char16_t kIdMark = u':';

}  // namespace

std::u16string NameWithId(std::u16string_view plain, std::u16string_view id, bool folder) {
  size_t dot = folder ? std::u16string_view::npos : plain.rfind(u'.');
  size_t at = dot == std::u16string_view::npos || dot == 0 ? plain.size() : dot;
  // An id is the service's own text and may hold what a name may not.
  std::u16string cleanId = CleanRemoteName(id);
  std::u16string shown;
  shown.reserve(plain.size() + 1 + cleanId.size());
  shown.append(plain.substr(0, at));
  shown += kIdMark;
  shown.append(cleanId);
  shown.append(plain.substr(at));
  return shown;
}

std::u16string PlainNameOf(std::u16string_view shown, std::u16string_view id) {
  std::u16string cleanId = CleanRemoteName(id);
  size_t mark = shown.find(kIdMark);
  if (mark == std::u16string_view::npos || shown.substr(mark + 1, cleanId.size()) != cleanId) {
    return std::u16string(shown);
  }
  std::u16string plain(shown.substr(0, mark));
  plain.append(shown.substr(mark + 1 + cleanId.size()));
  return plain;
}
