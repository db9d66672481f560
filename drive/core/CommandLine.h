// The drive program's command line: -i, -u, service, -d folder, -t.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
  enum class Action { kRun, kInstall, kRemove, kService };
  Action action = Action::kRun;
  std::string programFolder;  // empty unless -d gave one; then it ends in "/"
  bool tether = false;
};

// Examines the arguments (without the program name) from the first on; -i, -u and service
// end the examination.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
