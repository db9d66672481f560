#include "platform/pipe/PipePath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace named_pipe {

namespace {

constexpr char kPipeName[] = "Tarvex";

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Octal(mode_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "0%03o", static_cast<unsigned>(mode & 0777));
  return text;
}

// Why a folder with status `st` cannot hold the pipe; empty when it can.
std::string ProblemOf(const std::string& folder, const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return folder + " is a symbolic link";
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (st.st_uid != ::getuid()) return folder + " belongs to user " + std::to_string(st.st_uid);
  if ((st.st_mode & 077) != 0)
    return folder + " is open to other users (mode " + Octal(st.st_mode) + ")";
  return {};
}

}  // namespace

std::string PipePath() {
  const char* explicitPath = std::getenv("QUELLAN_PIPE");
  if (explicitPath != nullptr && *explicitPath != '\0') return explicitPath;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/" + kPipeName;
  return "/tmp/quellan-" + std::to_string(::getuid()) + "/" + kPipeName;
}

FolderTrust CheckPipeFolder(const std::string& socketPath, std::string* problem) {
  std::string folder = FolderOf(socketPath);
  struct stat st {};
  // lstat: a symbolic link is judged as itself, never by the folder it points to.
  if (::lstat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT) return FolderTrust::kMissing;
    if (problem != nullptr) *problem = folder + ": " + std::strerror(errno);
    return FolderTrust::kUntrusted;
  }
  std::string why = ProblemOf(folder, st);
  if (why.empty()) return FolderTrust::kTrusted;
  if (problem != nullptr) *problem = why;
  return FolderTrust::kUntrusted;
}

bool PreparePipeFolder(const std::string& socketPath) {
  std::string folder = FolderOf(socketPath);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return CheckPipeFolder(socketPath) == FolderTrust::kTrusted;
}

}  // namespace named_pipe
