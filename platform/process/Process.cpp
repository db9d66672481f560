#include "platform/process/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace process {
namespace {

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadLink(const std::string& path) {
  char buf[4096];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

// The base name of a process's executable; the kernel appends " (deleted)" when the file
// was replaced since the process started, which does not change which program it is.
std::string ImageOf(pid_t pid) {
  std::string exe = ReadLink("/proc/" + std::to_string(pid) + "/exe");
  const std::string deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.ends_with(deleted))
    exe.resize(exe.size() - deleted.size());
  return BaseName(exe);
}

bool OwnedByMe(pid_t pid) {
  struct stat st {};
  if (::stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0) return false;
  return st.st_uid == ::getuid();
}

bool IsAlive(pid_t pid) {
  // A zombie still answers kill(0); look at its state instead.
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return false;
  char line[512] = {0};
  size_t n = std::fread(line, 1, sizeof line - 1, f);
  std::fclose(f);
  std::string text(line, n);
  size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// Waits without reaping: a process that is the caller's own child stays a zombie until the
// caller's waitpid collects its exit status, and a zombie already counts as gone.
void WaitUntilGone(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  while (IsAlive(pid) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// The argument list posix_spawn takes: pointers into `argv`, ending with a null.
std::vector<char*> SpawnArguments(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

}  // namespace

std::string ExecutablePath() { return ReadLink("/proc/self/exe"); }

int KillByImageName(const std::string& imageName, int waitMs) {
  std::string wanted = imageName;
  if (wanted.size() > 4 && wanted.ends_with(".exe")) wanted.resize(wanted.size() - 4);
  if (wanted.empty()) return 0;

  std::vector<pid_t> victims;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return 0;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == ::getpid()) continue;
    if (OwnedByMe(pid) && ImageOf(pid) == wanted) victims.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(proc);

  for (pid_t pid : victims) ::kill(pid, SIGKILL);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (pid_t pid : victims) WaitUntilGone(pid, deadline);
  return static_cast<int>(victims.size());
}

bool KillOne(pid_t pid, int waitMs) {
  if (pid <= 0 || pid == ::getpid() || !OwnedByMe(pid) || ::kill(pid, SIGKILL) != 0) return false;
  WaitUntilGone(pid, std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs));
  return true;
}

pid_t StartDetached(const std::vector<std::string>& argv, int errorFd) {
  if (argv.empty()) return -1;
  std::vector<char*> args = SpawnArguments(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (errorFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

bool ExitedYet(pid_t pid, int* exitCode) {
  int status = 0;
  pid_t done = ::waitpid(pid, &status, WNOHANG);
  if (done != pid) return false;
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

std::vector<std::string> CommandLineOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

std::string WorkingFolderOf(pid_t pid) { return ReadLink("/proc/" + std::to_string(pid) + "/cwd"); }

namespace {
// Reaps `pid` if it ends within `limitMs`; otherwise kills and reaps it and returns false.
bool WaitWithin(pid_t pid, int limitMs, int* status) {
  constexpr int kPollMs = 5;
  for (int waited = 0; waited <= limitMs; waited += kPollMs) {
    pid_t done = ::waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return false;
    ::usleep(kPollMs * 1000);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
  return false;
}
}  // namespace

int RunAndWait(const std::vector<std::string>& argv, bool quiet, int limitMs) {
  if (argv.empty()) return -1;
  std::vector<char*> args = SpawnArguments(argv);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;

  int status = 0;
  if (limitMs >= 0 && !WaitWithin(pid, limitMs, &status)) return -1;
  if (limitMs < 0) {
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    std::string dir =
        dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return false;
}

}  // namespace process
