// The storage client's run state, one value for the whole program (kept in StorageProcess):
// a mirror sets it to running when it is created; its destruction asks the maintenance thread
// to stop and waits until that thread reports stopped. Long reads give up as soon as it leaves
// running.
#pragma once

#include <cstdint>

namespace run_state {
constexpr int32_t kRunning = 1;
constexpr int32_t kStopRequested = 2;
constexpr int32_t kStopped = 9;
}  // namespace run_state
