#include "platform/appfolder/AppFolders.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace appfolder {

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// An XDG variable counts only when it holds an absolute path; otherwise $HOME + `fallback`.
std::string XdgFolder(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return WithoutTrailingSlash(value);
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr && home[0] == '/' ? WithoutTrailingSlash(home) : "/tmp";
  return base + fallback;
}

// mkdir -p with mode 0700 for the folders it makes; the user's files are nobody else's.
void MakeFolders(const std::string& path) {
  std::string made;
  size_t start = 0;
  while (start != std::string::npos) {
    size_t slash = path.find('/', start + 1);
    made = path.substr(0, slash);
    if (!made.empty()) ::mkdir(made.c_str(), 0700);
    start = slash;
  }
}

}  // namespace

bool HoldsPage(const std::string& folder) {
  std::error_code error;
  return std::filesystem::is_regular_file(folder + "/" + kPagePath, error);
}

std::string XdgDataHome() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::string XdgConfigHome() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }

std::string DefaultProgramFolder(const std::string& programDir) {
  std::string own = WithoutTrailingSlash(programDir);
  if (HoldsPage(own)) return own;
  std::string folder = XdgDataHome() + "/quellan";
  MakeFolders(folder);
  return folder;
}

std::string PageFolder(const std::string& programFolder, const std::string& programDir) {
  std::string own = WithoutTrailingSlash(programDir);
  for (const std::string& candidate :
       {WithoutTrailingSlash(programFolder), own, own + "/../share/quellan"}) {
    if (HoldsPage(candidate)) {
      std::error_code error;
      std::string clean = std::filesystem::weakly_canonical(candidate, error).string();
      return error || clean.empty() ? candidate : clean;
    }
  }
  return WithoutTrailingSlash(programFolder);
}

}  // namespace appfolder
