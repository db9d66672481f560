#include "drive/core/CommandLine.h"

const char* const kDriveUsage =
    "quellan: the drive program; mounts the storage service's files as a drive.\n"
    "usage: quellan [-d FOLDER] [-t] | -i | -u | service | -h\n"
    "  -d FOLDER  program folder (settings, logs, caches); default: the program's own folder\n"
    "             when it holds skin/index.html, else $XDG_DATA_HOME/quellan\n"
    "             (~/.local/share/quellan)\n"
    "  -t         end when the desktop program stops sending signs of life\n"
    "  -i         install the drive program as a system service\n"
    "  -u         stop and remove the system service\n"
    "  service    run as the system service\n"
    "  -h, --help print this help and exit\n";

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      result.action = CommandLine::Action::kHelp;
      break;
    }
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
