#include "tests/support/ReferenceServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>

#include "platform/process/Process.h"
#include "tests/support/Leftovers.h"
#include "tests/support/LoopbackClients.h"
#include "tests/support/Wait.h"

namespace {

using Clock = std::chrono::steady_clock;

bool PortAccepts(int port) {
  int fd = testclients::ConnectLoopback(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

}  // namespace

ReferenceServer::ReferenceServer() {
  EndLeftoversOfEndedTests();
  std::filesystem::create_directories(dataDir());
}

ReferenceServer::~ReferenceServer() { stop(); }

std::string ReferenceServer::ProgramPath() {
  if (const char* build = std::getenv("QUELLAN_BUILD_DIR")) {
    return std::string(build) + "/bin/quellan-server";
  }
  return QUELLAN_SERVER_PROGRAM;
}

void ReferenceServer::addUser(const std::string& name, const std::string& password, int quotaGiB) {
  int status = process::RunAndWait({ProgramPath(), "adduser", "--data", dataDir(), name, password,
                                    "--quota-gib", std::to_string(quotaGiB)},
                                   false);
  if (status != 0) std::cerr << "quellan-server adduser " << name << " failed: " << status << "\n";
}

std::string ReferenceServer::userDir(const std::string& name) const {
  return dataDir() + "/" + name;
}

bool ReferenceServer::start(int webPort, std::vector<std::string> extraArgs) {
  stop();
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  std::vector<std::string> args = {
      ProgramPath(),           "--data",        dataDir(), "--web-port",
      std::to_string(webPort), "--stream-port", "0"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::string log = logPath();
  std::vector<char*> argv;  // built before fork: the child may only exec
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    // Ends with the test even when the test crashes (for the thread that started it).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(out[1], STDOUT_FILENO);
    int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (pid_ < 0) {
    ::close(out[0]);
    return false;
  }
  // The server announces its ports in one line: "... web=HOST:PORT stream=HOST:PORT".
  auto deadline = Clock::now() + std::chrono::seconds(20);
  std::string text;
  std::smatch match;
  static const std::regex kPorts(R"(web=[^ :]+:(\d+) stream=[^ :]+:(\d+))");
  while (Clock::now() < deadline && !std::regex_search(text, match, kPorts)) {
    pollfd wait{out[0], POLLIN, 0};
    if (::poll(&wait, 1, 100) <= 0) continue;
    char buffer[256];
    ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (match.empty()) {
    std::cerr << "quellan-server did not start; see " << log << "\n";
    stop();
    return false;
  }
  webPort_ = std::stoi(match[1]);
  streamPort_ = std::stoi(match[2]);
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (WaitFor([&] { return PortAccepts(webPort_) && PortAccepts(streamPort_); }, left)) return true;
  stop();
  return false;
}

void ReferenceServer::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  bool killed =
      !WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) != 0; }, std::chrono::seconds(10));
  if (killed) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  lastExitStatus_ = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (lastExitStatus_ != 0) {
    // Show why (a sanitizer report, for instance) before the folder is removed.
    std::ifstream log(logPath());
    std::cerr << "quellan-server ended with status " << lastExitStatus_ << "; its log:\n"
              << log.rdbuf() << "\n";
  }
}

void ReferenceServer::setFaults(const std::vector<std::string>& lines) {
  std::string path = dataDir() + "/.state/faults";
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const auto& line : lines) out << line << "\n";
  }
  std::filesystem::rename(temp, path);
}

void ReferenceServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}
