// A desktop for the session test: a virtual X display (Xvfb), a small window manager (openbox)
// and a stand-alone system tray (trayer), each ended when the object goes.
#pragma once

#include <string>

#include "SpawnedProcess.h"

class X11Desktop {
 public:
  // Why this machine cannot hold the desktop (a program missing), or "".
  static std::string MissingReason();

  // Starts the display and the window manager in `logFolder`; false with `why` filled when
  // either did not come up.
  bool start(const std::string& logFolder, std::string* why);
  bool startTray(std::string* why);
  void stopTray();

  // ":N"
  const std::string& display() const { return display_; }
  // One property of an X window ("root" for the root window), as xprop prints it; "" if none.
  std::string property(const std::string& window, const std::string& name) const;

 private:
  bool windowNamed(const std::string& name) const;

  std::string logFolder_;
  std::string display_;
  // Declared in start order, so they end in reverse: tray, window manager, display.
  SpawnedProcess xvfb_;
  SpawnedProcess windowManager_;
  SpawnedProcess tray_;
};
