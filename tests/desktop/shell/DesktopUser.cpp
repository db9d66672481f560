#include "DesktopUser.h"

#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/Leftovers.h"
#include "tests/support/Wait.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Reads one "<length>\n<bytes>" frame before `deadline`; false on a broken or late frame.
bool ReadFrame(int fd, std::chrono::steady_clock::time_point deadline, std::string* frame) {
  std::string header;
  std::string body;
  size_t length = 0;
  bool inBody = false;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, inBody ? std::min(sizeof buffer, length - body.size()) : 1, 0);
    if (n <= 0) return false;
    if (!inBody) {
      if (buffer[0] != '\n') {
        header += buffer[0];
        if (header.size() > 12) return false;
        continue;
      }
      length = std::strtoull(header.c_str(), nullptr, 10);
      inBody = true;
    } else {
      body.append(buffer, static_cast<size_t>(n));
    }
    if (inBody && body.size() == length) {
      *frame = std::move(body);
      return true;
    }
  }
}

std::string ProgramOf(pid_t pid) {
  std::error_code ec;
  return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
}

}  // namespace

ProbeClient::~ProbeClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool ProbeClient::connect() {
  if (fd_ >= 0) return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) return false;
  std::strcpy(address.sun_path, path_.c_str());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

std::string ProbeClient::ask(const std::string& request, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  if (!connect()) return "";
  std::string answer;
  if (!SendAll(fd_, std::to_string(request.size()) + "\n" + request) ||
      !ReadFrame(fd_, deadline, &answer)) {
    // A late answer must not be taken for the next request's.
    ::close(fd_);
    fd_ = -1;
    return "";
  }
  return answer;
}

bool ProbeClient::waitFor(const std::string& condition, std::chrono::milliseconds limit) {
  return WaitFor([&] { return isTrue(condition); }, limit);
}

DesktopUser::DesktopUser(const std::string& name, const std::string& top) : name_(name) {
  if (::geteuid() == 0) {
    if (!::getpwnam(name.c_str()))
      RunCommand("useradd --system --no-create-home --shell /usr/sbin/nologin " + name);
    const passwd* entry = ::getpwnam(name.c_str());
    if (!entry) {
      problem_ = "cannot make the test account " + name;
      return;
    }
    account_ = {entry->pw_uid, entry->pw_gid};
  } else {
    // Not root: the test's own account is the normal user; there is no second one.
    if (name != "qlview-a") problem_ = "a second account needs the test to run as root";
    account_ = {::getuid(), ::getgid()};
  }
  // The people's folders sit in the test's temporary folder, which they may pass through.
  ::chmod(top.c_str(), 0711);
  home_ = top + "/home-" + name;
  runtime_ = top + "/run-" + name;
  for (const std::string& folder : {home_, runtime_}) {
    fs::create_directories(folder);
    ::chmod(folder.c_str(), 0700);
    own(folder);
  }
}

DesktopUser::~DesktopUser() { endEverything(); }

void DesktopUser::own(const std::string& path) const {
  if (::geteuid() != 0) return;
  if (::chown(path.c_str(), account_.uid, account_.gid) != 0) return;
  if (!fs::is_directory(path)) return;
  for (const auto& entry : fs::recursive_directory_iterator(path))
    ::lchown(entry.path().c_str(), account_.uid, account_.gid);
}

DesktopUser::Run DesktopUser::startQuellanview(const std::string& display,
                                               const Environment& extra) {
  std::string probe = home_ + "/probe-" + std::to_string(++runs_);
  Environment environment = {{"HOME", home_},
                             {"USER", name_},
                             {"LOGNAME", name_},
                             {"PATH", "/usr/local/bin:/usr/bin:/bin"},
                             {"LANG", "C.UTF-8"},
                             {"DISPLAY", display},
                             {"QT_QPA_PLATFORM", "xcb"},
                             {"XDG_RUNTIME_DIR", runtime_},
                             {"QUELLAN_TEST_OWNER", std::to_string(::getpid())},
                             {"LD_PRELOAD", PAGE_PROBE_LIBRARY},
                             {"QUELLAN_PAGE_PROBE", probe}};
  environment.insert(environment.end(), extra.begin(), extra.end());
  SpawnOptions options;
  options.arguments = {QUELLANVIEW_PROGRAM, "-d", programFolder()};
  options.outputFile = home_ + "/quellanview-" + std::to_string(runs_) + ".out";
  options.account = &account_;
  options.environment = &environment;
  options.workingFolder = home_;
  Run run{SpawnedProcess(options), std::make_unique<ProbeClient>(probe)};
  return run;
}

void DesktopUser::endEverything() {
  if (account_.uid == 0) return;  // never the root account's processes
  const std::string top = fs::path(home_).parent_path().string();
  for (const auto& entry : fs::directory_iterator("/proc")) {
    pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
    struct stat info {};
    if (pid <= 0 || ::stat(entry.path().c_str(), &info) != 0 || info.st_uid != account_.uid)
      continue;
    std::string program = ProgramOf(pid);
    if (program == QUELLANVIEW_PROGRAM || program.rfind(top + "/", 0) == 0) ::kill(pid, SIGKILL);
  }
  ForceUnmountBelow(home_);
}
