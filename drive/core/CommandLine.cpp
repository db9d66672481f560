#include "drive/core/CommandLine.h"

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-i") {
      result.action = CommandLine::Action::kInstall;
      break;
    }
    if (arg == "-u") {
      result.action = CommandLine::Action::kRemove;
      break;
    }
    if (arg == "service") {
      result.action = CommandLine::Action::kService;
      break;
    }
    if (arg == "-d" && i + 1 < args.size()) {
      // The separator is always appended, also to a folder that already ends in one.
      result.programFolder = args[++i] + "/";
    } else if (arg == "-t") {
      result.tether = true;
    }
  }
  return result;
}
