#include <malloc.h>

#include <algorithm>
#include <cstdlib>

#include "drive/core/DriveProcess.h"
#include "drive/core/Entry.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"

namespace {

// The service's web port: 8168, or $QUELLAN_WEB_PORT (tests and benchmarks that run beside
// other services on one machine).
void TakeWebPort(MirrorOptions& options) {
  const char* port = std::getenv("QUELLAN_WEB_PORT");
  int value = port ? std::atoi(port) : 0;
  if (value > 0 && value < 65536) options.webPort = static_cast<uint16_t>(value);
}

// The tether's silence: 10 s, or $QUELLAN_TETHER_MS milliseconds (tests, which would otherwise
// wait most of a minute for it). The tether is then checked four times per silence, at most
// as often as maintenance steps and at least every 3 s as usual.
void TakeTetherSilence(MirrorOptions& options) {
  const char* text = std::getenv("QUELLAN_TETHER_MS");
  long value = text ? std::atol(text) : 0;
  if (value <= 0 || value > kTetherSilenceMs) return;
  options.tetherSilenceMs = static_cast<uint32_t>(value);
  const long step = std::max<long>(options.maintenanceStep.count(), 1);
  options.housekeepingSteps =
      static_cast<int>(std::clamp<long>(value / 4 / step, 1, options.housekeepingSteps));
}

MirrorOptions OptionsFromEnvironment() {
  MirrorOptions options;
  TakeWebPort(options);
  TakeTetherSilence(options);
  return options;
}

// The folder tables of a large account are built by whichever thread reads the tree, and the
// kernel's requests run on many threads. With the C library's default of a heap per thread
// (up to eight per core), memory freed in one heap cannot serve another, and a refresh of a
// million entries held about 30 MiB more. Two heaps keep that memory shared; reads showed no
// slowdown.
void ShareHeapsBetweenThreads() { mallopt(M_ARENA_MAX, 2); }

}  // namespace

int main(int argc, char** argv) {
  ShareHeapsBetweenThreads();
  // The program's state, handed down to everything that needs it; it lives until the process
  // ends (DriveMain ends the process itself once the drive runs).
  DriveProcess drive;
  StorageProcess storage;
  // Each mount cycle talks to the storage service through a mirror of its own.
  drive.createMirror = [&drive, &storage] {
    return new QLVMirror(drive, storage, OptionsFromEnvironment());
  };
  return DriveMain(drive, argc, argv);
}
