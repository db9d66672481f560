// A snapshot of a folder tree on disk: every folder's regular files and sub-folders, sorted by
// name, with their sizes and modification times. Links, devices and entries that vanish while
// they are read are left out. Folders are read by a few threads at once: most of a large
// tree's cost is one lstat per entry in the kernel, and those run side by side.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace qserver {

struct ScannedEntry {
  static constexpr size_t kNoFolder = static_cast<size_t>(-1);

  std::string name;
  bool folder = false;
  long long size = 0;           // 0 for folders
  long long mtime = 0;          // seconds since 1970
  size_t contents = kNoFolder;  // a folder's place in ScannedTree::folders
};

struct ScannedTree {
  // folders[0] is the root; a folder that could not be read has no entries.
  std::deque<std::vector<ScannedEntry>> folders;
};

// Reads `root` and everything below it with up to `threads` threads.
ScannedTree ScanTree(const std::string& root, unsigned threads);

// The number of threads worth using for a scan on this machine.
unsigned ScanThreads();

}  // namespace qserver
