// Whole-file reads and writes for tests, and counting in what they read.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// The file's bytes; "" when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file's content, creating its folders first.
inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// As above, with the modification time set to `mtime` (seconds since the epoch).
inline void WriteFile(const std::filesystem::path& path, const std::string& content, time_t mtime) {
  WriteFile(path, content);
  timespec times[2] = {{mtime, 0}, {mtime, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// File contents for tests: deterministic bytes that differ at every offset.
inline std::string PatternBytes(size_t size, uint32_t seed = 1) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<char>(state ^ (i >> 16));
  }
  return bytes;
}

// The size of a large test file: `wanted`, but at most 32 MiB unless $QUELLAN_BIG_TEST_MIB
// names a larger limit in MiB, so that the suite stays quick and a big run still uses the full
// sizes. Only for files whose size is a matter of degree: a file that must exceed a buffer or a
// cache to test anything keeps the size it needs.
inline size_t BigTestBytes(size_t wanted) {
  size_t limitMiB = 32;
  if (const char* text = std::getenv("QUELLAN_BIG_TEST_MIB")) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (end != text && *end == '\0' && value > 0 && value < (1ull << 20)) limitMiB = value;
  }
  return std::min(wanted, limitMiB << 20);
}

// How often `what` occurs in `text` (overlapping occurrences count).
inline size_t CountOf(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}
