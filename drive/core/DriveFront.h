// The drive front: one mount cycle (settings, login, drive letter, the driver's main call)
// and the unmount used by the control pipe and the tether check.
#pragma once

#include <atomic>

#include "drive/core/MountCycle.h"

struct DriveProcess;

// Runs one mount cycle. Returns -1 when the settings file is missing, -2 when login failed,
// 0 once the drive has been unmounted. Returns early (0) when `keepRunning` turns false
// while waiting for Run.
int Mount(DriveProcess& drive, MountCycle& cycle, const RunLoopTiming& timing,
          const std::atomic<bool>& keepRunning);

// Asks the driver to unmount the run drive letter; callable from any thread. Returns 0.
int Unmount(DriveProcess& drive);
