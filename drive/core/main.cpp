#include <malloc.h>

#include <cstdlib>

#include "drive/core/DriveProcess.h"
#include "drive/core/Entry.h"
#include "drive/storage/QLVMirror.h"

namespace {

// The service's web port: 8168, or $QUELLAN_WEB_PORT (benchmarks that run beside other
// services on one machine).
MirrorOptions OptionsFromEnvironment() {
  MirrorOptions options;
  const char* port = std::getenv("QUELLAN_WEB_PORT");
  int value = port ? std::atoi(port) : 0;
  if (value > 0 && value < 65536) options.webPort = static_cast<uint16_t>(value);
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
  // Each mount cycle talks to the storage service through a mirror of its own.
  Drive().createMirror = [] { return new QLVMirror(OptionsFromEnvironment()); };
  return DriveMain(argc, argv);
}
