// The drive program itself, run with `-d folder` and $QUELLAN_PIPE set to `pipe`; killed with
// SIGKILL and reaped when it goes, unless that was done before.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

extern char** environ;

class ProgramRun {
 public:
  ProgramRun(const std::string& program, const std::string& folder, const std::string& pipe) {
    std::vector<std::string> environment{"QUELLAN_PIPE=" + pipe};
    for (char** at = environ; *at != nullptr; ++at) {
      if (std::string_view(*at).rfind("QUELLAN_PIPE=", 0) != 0) environment.emplace_back(*at);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program;
    std::vector<char*> argv{path.data(), const_cast<char*>("-d"), const_cast<char*>(folder.c_str()),
                            nullptr};
    pid_ = fork();
    if (pid_ == 0) {
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~ProgramRun() { kill(); }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};
