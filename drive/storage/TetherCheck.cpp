#include "drive/storage/TetherCheck.h"

#include <thread>

#include "drive/core/DriveProcess.h"
#include "platform/ticks/Ticks.h"

bool TetherExpired(bool tether, uint32_t lastMessageTicks, uint32_t nowTicks, uint32_t silenceMs) {
  return tether && TicksBetween(lastMessageTicks, nowTicks) > silenceMs;
}

void WaitForUnmount(const DriveProcess& drive, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (drive.driveState() == drive_state::kMounted &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
