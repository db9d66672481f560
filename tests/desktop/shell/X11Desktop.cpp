#include "X11Desktop.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/Wait.h"

using namespace std::chrono_literals;

namespace {

bool OnPath(const std::string& program) {
  return RunCommand("command -v " + program + " >/dev/null 2>&1") == 0;
}

// Reads the display number Xvfb writes to `fd` once it accepts clients, within 10 s.
std::string ReadDisplayNumber(int fd) {
  std::string number;
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    char c = 0;
    if (::read(fd, &c, 1) != 1) break;
    if (c == '\n') return number;
    number += c;
  }
  return "";
}

}  // namespace

std::string X11Desktop::MissingReason() {
  for (const char* program : {"Xvfb", "openbox", "trayer", "xprop", "xwininfo"})
    if (!OnPath(program)) return std::string(program) + " is not installed (scripts/setup.sh)";
  return "";
}

bool X11Desktop::start(const std::string& logFolder, std::string* why) {
  logFolder_ = logFolder;
  int fds[2];
  if (::pipe(fds) != 0) return *why = "no pipe", false;
  SpawnOptions display;
  display.arguments = {"Xvfb",    "-displayfd", std::to_string(fds[1]),
                       "-screen", "0",          "1280x800x24",
                       "-ac",     "-nolisten",  "tcp",
                       "-noreset"};
  display.outputFile = logFolder + "/xvfb.log";
  display.keepFd = fds[1];
  xvfb_ = SpawnedProcess(display);
  ::close(fds[1]);
  std::string number = ReadDisplayNumber(fds[0]);
  ::close(fds[0]);
  if (number.empty()) return *why = "Xvfb did not start (xvfb.log)", false;
  display_ = ":" + number;
  ::setenv("DISPLAY", display_.c_str(), 1);

  SpawnOptions manager;
  manager.arguments = {"openbox", "--sm-disable"};
  manager.outputFile = logFolder + "/openbox.log";
  windowManager_ = SpawnedProcess(manager);
  // A window manager that follows the common hints names itself on the root window.
  if (!WaitFor([&] { return !property("root", "_NET_SUPPORTING_WM_CHECK").empty(); }, 10s))
    return *why = "openbox did not start (openbox.log)", false;
  return true;
}

bool X11Desktop::startTray(std::string* why) {
  SpawnOptions tray;
  tray.arguments = {"trayer",      "--edge",        "top",      "--align", "right",
                    "--widthtype", "request",       "--height", "28",      "--SetDockType",
                    "true",        "--transparent", "false",    "--tint",  "0x303840"};
  tray.outputFile = logFolder_ + "/trayer.log";
  tray_ = SpawnedProcess(tray);
  if (!WaitFor([&] { return windowNamed("panel"); }, 10s))
    return *why = "trayer did not start (trayer.log)", false;
  return true;
}

void X11Desktop::stopTray() { tray_.end(); }

std::string X11Desktop::property(const std::string& window, const std::string& name) const {
  std::string target = window == "root" ? "-root" : "-id " + window;
  std::string out;
  if (RunCommand("xprop -display " + display_ + " " + target + " " + name, &out) != 0) return "";
  if (out.find("not found") != std::string::npos || out.find("no such atom") != std::string::npos)
    return "";
  return out;
}

bool X11Desktop::windowNamed(const std::string& name) const {
  std::string out;
  RunCommand("xwininfo -display " + display_ + " -root -tree", &out);
  return out.find("\"" + name + "\"") != std::string::npos;
}
