#include "server/util/SafePath.h"

#include <sys/stat.h>

namespace qserver {

bool IsAcceptableName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("/\\,\r\n\0", 7)) == std::string_view::npos;
}

std::string ListedName(std::string_view name) {
  std::string out;
  AppendListedName(out, name);
  return out;
}

void AppendListedName(std::string& out, std::string_view name) {
  size_t start = out.size();
  out.append(name);
  for (size_t at = start; at < out.size(); ++at) {
    if (out[at] == ',' || out[at] == '\n' || out[at] == '\r') out[at] = '_';
  }
}

bool IsConfinedRelativePath(std::string_view relative) {
  if (relative.empty()) return true;
  size_t start = 0;
  while (true) {
    size_t slash = relative.find('/', start);
    std::string_view part = relative.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string_view::npos) {
      return false;
    }
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

bool HasNoLinks(const std::string& root, std::string_view relative) {
  if (!IsConfinedRelativePath(relative)) return false;
  std::string path = root;
  size_t start = 0;
  while (start <= relative.size() && !relative.empty()) {
    size_t slash = relative.find('/', start);
    bool last = slash == std::string_view::npos;
    path += '/';
    path += relative.substr(start, last ? std::string_view::npos : slash - start);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return last;  // a missing last component is fine
    if (S_ISLNK(st.st_mode)) return false;
    if (!last && !S_ISDIR(st.st_mode)) return false;
    if (last) break;
    start = slash + 1;
  }
  return true;
}

std::string JoinPath(const std::string& root, std::string_view relative) {
  if (relative.empty()) return root;
  return root + "/" + std::string(relative);
}

}  // namespace qserver
