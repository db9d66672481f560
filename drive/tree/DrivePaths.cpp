#include "drive/tree/DrivePaths.h"

SplitPath SplitAtLastSeparator(std::u16string_view path) {
  size_t last = path.rfind(u'\\');
  if (last == std::u16string_view::npos) return {u"\\", std::u16string(path)};
  std::u16string folder = last == 0 ? std::u16string(u"\\") : std::u16string(path.substr(0, last));
  return {folder, std::u16string(path.substr(last + 1))};
}

bool UnacceptableName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return true;
  return name.find_first_of(u"\\/*?\"<>|:") != std::u16string_view::npos;
}

std::u16string FolderPathBelow(const NodeRecord& parent) {
  if (parent.key.empty()) return u"\\";
  std::u16string folder = parent.folderPath + parent.name;
  return folder + u"\\";
}
