// The run routine shared by console and service mode: log, control pipe, and the endless
// loop of mount cycles.
#pragma once

#include <atomic>

#include "drive/core/MountCycle.h"

struct DriveProcess;

// Runs mount cycles until `keepRunning` turns false (never, in the program):
// DriveState 1, a cycle, the first wait, DriveState 8, the cycle destroyed, the second wait.
void RunMountCycles(DriveProcess& drive, const RunLoopTiming& timing,
                    const std::atomic<bool>& keepRunning);

// Sets the program folder when it is still empty, opens the log, starts the control pipe
// server and runs mount cycles for ever. Returns only when start-up fails.
void RunRoutine(DriveProcess& drive);
