#include "SpawnedProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/Wait.h"

namespace {

[[noreturn]] void ExecInChild(const SpawnOptions& options) {
  ::setsid();
  int output = ::open(options.outputFile.empty() ? "/dev/null" : options.outputFile.c_str(),
                      O_WRONLY | O_CREAT | O_APPEND, 0644);
  int input = ::open("/dev/null", O_RDONLY);
  if (output < 0 || input < 0) _exit(126);
  ::dup2(input, 0);
  ::dup2(output, 1);
  ::dup2(output, 2);
  if (options.keepFd >= 0) ::fcntl(options.keepFd, F_SETFD, 0);
  if (options.account) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(options.account->gid) != 0 ||
        ::setuid(options.account->uid) != 0)
      _exit(125);
  }
  if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) _exit(124);
  if (options.environment) {
    ::clearenv();
    for (const auto& [name, value] : *options.environment) ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<char*> argv;
  for (const std::string& argument : options.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  _exit(127);
}

}  // namespace

SpawnedProcess::SpawnedProcess(const SpawnOptions& options) {
  pid_ = ::fork();
  if (pid_ == 0) ExecInChild(options);
  // Its own group from the start, whichever of parent and child runs first.
  if (pid_ > 0) ::setpgid(pid_, pid_);
}

SpawnedProcess::SpawnedProcess(SpawnedProcess&& other) noexcept { *this = std::move(other); }

SpawnedProcess& SpawnedProcess::operator=(SpawnedProcess&& other) noexcept {
  if (this != &other) {
    end();
    pid_ = std::exchange(other.pid_, -1);
    exited_ = other.exited_;
    status_ = other.status_;
  }
  return *this;
}

bool SpawnedProcess::reap(bool block) {
  if (pid_ <= 0 || exited_) return exited_;
  int status = 0;
  if (::waitpid(pid_, &status, block ? 0 : WNOHANG) != pid_) return false;
  exited_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

bool SpawnedProcess::running() { return pid_ > 0 && !reap(false); }

int SpawnedProcess::waitExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -2;
  WaitFor([&] { return reap(false); }, limit);
  return exited_ ? status_ : -2;
}

void SpawnedProcess::end(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return;
  // The group may outlive its leader (a child it started), so it is signalled either way.
  ::kill(-pid_, SIGTERM);
  if (!WaitFor([&] { return reap(false) && ::kill(-pid_, 0) != 0; }, grace)) {
    ::kill(-pid_, SIGKILL);
    reap(true);
  }
  pid_ = -1;
}
