#include "platform/pipe/PipePath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace named_pipe {

namespace {

constexpr char kPipeName[] = "Tarvex";

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::string PipePath() {
  const char* explicitPath = std::getenv("QUELLAN_PIPE");
  if (explicitPath != nullptr && *explicitPath != '\0') return explicitPath;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/" + kPipeName;
  return "/tmp/quellan-" + std::to_string(::getuid()) + "/" + kPipeName;
}

bool PreparePipeFolder(const std::string& socketPath) {
  std::string folder = FolderOf(socketPath);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // A folder someone else owns or can enter (say one planted under /tmp) could hand the
  // socket to them.
  return st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

}  // namespace named_pipe
