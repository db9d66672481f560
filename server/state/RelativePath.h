// Paths inside a user's folder, relative to it: "" is the folder itself, steps are joined by "/".
#pragma once

#include <string>

namespace qserver {

inline std::string ParentOf(const std::string& relative) {
  auto slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

inline std::string BaseName(const std::string& relative) {
  auto slash = relative.rfind('/');
  return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

inline std::string Child(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

inline std::string TopOf(const std::string& relative) {
  return relative.substr(0, relative.find('/'));
}

}  // namespace qserver
