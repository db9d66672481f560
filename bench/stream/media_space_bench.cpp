// Reads one remote file from start to end through CMediaSpace in 64 KiB reads, as the mounted
// drive does, and prints "<bytes> <seconds> <pool bytes> <buffers>".
// Usage: media_space_bench HOST PORT TOKEN1 TOKEN2 [READ_SIZE]
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "drive/stream/CMediaSpace.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s HOST PORT TOKEN1 TOKEN2 [READ_SIZE]\n", argv[0]);
    return 2;
  }
  int32_t readSize = argc > 5 ? std::atoi(argv[5]) : 65536;
  // A folder of its own, so that no head file from an earlier run is used.
  TempDir temp;
  std::string folder = temp.path() + "/";

  int64_t total = 0;
  int64_t poolBytes = 0;
  size_t buffers = 0;
  double seconds = 0;
  {
    StreamContext stream;
    CMediaSpace reader(folder, stream);
    auto started = std::chrono::steady_clock::now();
    if (reader.open(argv[1], std::atoi(argv[2]), argv[3], argv[4]) != "ok") {
      std::fprintf(stderr, "open failed\n");
      return 1;
    }
    std::vector<uint8_t> buffer(readSize);
    for (;;) {
      int32_t got = reader.read(buffer.data(), total, readSize);
      if (got < 0) {
        std::fprintf(stderr, "read failed at %lld: %d\n", static_cast<long long>(total), got);
        return 1;
      }
      if (got == 0) break;
      total += got;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    poolBytes = reader.memCache().heldCapacity();
    buffers = reader.memCache().buffers().size();
    if (total != reader.fileLength()) {
      std::fprintf(stderr, "read %lld of %lld bytes\n", static_cast<long long>(total),
                   static_cast<long long>(reader.fileLength()));
      return 1;
    }
  }
  std::printf("%lld %.3f %lld %zu\n", static_cast<long long>(total), seconds,
              static_cast<long long>(poolBytes), buffers);
  return 0;
}
