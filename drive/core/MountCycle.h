// One pass of the run loop: its settings record and, while mounted, the driver's records.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "drive/core/MirrorConfig.h"
#include "platform/dokan/DokanTypes.h"

struct DriveProcess;

// The driver's options record of a mount, with the drive program it serves: the driver hands
// the record to every callback, which finds the program through it.
struct MountOptions : DOKAN_OPTIONS {
  DriveProcess* drive = nullptr;
};

struct MountCycle {
  explicit MountCycle(std::u16string settingsPath) : settings(std::move(settingsPath)) {}

  MirrorConfig settings;
  std::unique_ptr<DOKAN_OPERATIONS> operations;  // allocated by the mount, freed after it
  std::unique_ptr<MountOptions> options;
};

// Waits of the run loop and the mount; tests shorten them.
struct RunLoopTiming {
  std::chrono::milliseconds afterMount{5000};  // after the mount returned, before state 8
  std::chrono::milliseconds afterStop{5000};   // after the cycle was destroyed
  std::chrono::milliseconds runPoll{1000};     // between looks at Run while it is not 1
};
