#include "drive/storage/MirrorRunState.h"

std::atomic<int32_t>& MirrorRunState() {
  static std::atomic<int32_t> state{run_state::kStopped};
  return state;
}
