// The storage client's run state, one value for the whole program: the mirror sets it to
// running when it is created; its destruction asks the maintenance thread to stop and waits
// until that thread reports stopped. Long reads give up as soon as it leaves running.
#pragma once

#include <atomic>
#include <cstdint>

namespace run_state {
constexpr int32_t kRunning = 1;
constexpr int32_t kStopRequested = 2;
constexpr int32_t kStopped = 9;
}  // namespace run_state

std::atomic<int32_t>& MirrorRunState();

inline bool MirrorRunning() { return MirrorRunState().load() == run_state::kRunning; }
