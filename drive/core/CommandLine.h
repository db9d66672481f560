// The drive program's command line: -i, -u, service, -d folder, -t, -h/--help.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
  enum class Action { kRun, kInstall, kRemove, kService, kHelp };
  Action action = Action::kRun;
  std::string programFolder;  // empty unless -d gave one; then it ends in "/"
  bool tether = false;
};

// Examines the arguments (without the program name) from the first on; -i, -u, service, -h
// and --help end the examination. Other arguments are ignored.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// What -h prints.
extern const char* const kDriveUsage;
