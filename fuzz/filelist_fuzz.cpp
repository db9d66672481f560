// Feeds arbitrary bytes to the desktop program's ".filelist" reader, as two files in a row.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "desktop/control/FolderList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/quellan-filelist-fuzz-" + std::to_string(::getpid());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  FolderList list;
  list.read(path);
  int reads = list.readCount();
  list.read(path);
  // The same file again is never taken twice when it carries a stamp.
  if (list.readCount() > reads + 1) __builtin_trap();
  for (const auto& [key, entry] : list.entries()) {
    if (key != entry.key || (entry.kind != 0 && entry.kind != 1)) __builtin_trap();
  }
  return 0;
}
