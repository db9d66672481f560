// Timing and port of one mirror; the defaults are the program's, tests shorten them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "drive/replies/WebRequest.h"
#include "drive/storage/TetherCheck.h"

struct MirrorOptions {
  uint16_t webPort = kWebPort;
  std::chrono::milliseconds maintenanceStep{100};
  int refreshSteps = 6000;     // steps between two periodic tree reads (600 s)
  int housekeepingSteps = 30;  // steps between two tether checks (3 s)
  uint32_t tetherSilenceMs = kTetherSilenceMs;
  // Called when the tether expired: unmounts the drive and ends the program. Empty: the drive
  // front's unmount, a wait for it, and the end of the process.
  std::function<void()> endOnTether;
};
