// Where the programs keep their files and find the page. A folder that holds the page
// (skin/index.html) beside the programs is self-contained: the build tree and an unpacked copy
// keep settings, logs and caches right there. Installed programs (/usr/bin) find the page in
// the shared data folder beside their bin folder and keep the user's files in the XDG data
// folder.
#pragma once

#include <string>

namespace appfolder {

// The page of the desktop program, relative to a folder that holds it.
constexpr char kPagePath[] = "skin/index.html";

// True when `folder` holds the page.
bool HoldsPage(const std::string& folder);

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share (no trailing slash).
std::string XdgDataHome();

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (no trailing slash).
std::string XdgConfigHome();

// The program folder used when none is given on the command line: `programDir` (the folder of
// the running program) when it holds the page, else XdgDataHome() + "/quellan", created with
// its parents (mode 0700) when missing. No trailing slash.
std::string DefaultProgramFolder(const std::string& programDir);

// The folder whose skin/index.html is shown: the first of `programFolder`, `programDir` and
// `programDir`/../share/quellan that holds the page; `programFolder` when none does.
std::string PageFolder(const std::string& programFolder, const std::string& programDir);

}  // namespace appfolder
