// The tether of a drive program started by the desktop program: when the desktop program has
// been silent on the control pipe for more than 10 s, the drive is unmounted and the process
// ends.
#pragma once

#include <chrono>
#include <cstdint>

struct DriveProcess;

constexpr uint32_t kTetherSilenceMs = 10000;

// True when the tether is set and more than `silenceMs` (10,000 ms unless tests shorten it) lie
// between the last pipe message and `now` (tick counts; correct across one wrap).
bool TetherExpired(bool tether, uint32_t lastMessageTicks, uint32_t nowTicks,
                   uint32_t silenceMs = kTetherSilenceMs);

// Waits until `drive` no longer reports its drive mounted, at most `limit`, so that the
// process does not end with the mount still in place.
void WaitForUnmount(const DriveProcess& drive, std::chrono::milliseconds limit);
