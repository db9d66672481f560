#include "bench/storage/TreeListing.h"

#include <vector>

TreeListing MakeTreeListing(int entries, int depth) {
  TreeListing listing;
  int folderCount = entries / 10;
  std::vector<int> level(folderCount + 1, 0);
  // Folder i hangs below folder i / 3 (a ternary tree) until the depth limit, then starts a
  // new top-level branch.
  for (int i = 1; i <= folderCount; ++i) {
    int parent = i / 3;
    if (parent >= 1 && level[parent] >= depth) parent = 0;
    level[i] = parent == 0 ? 1 : level[parent] + 1;
    if (level[i] > listing.maxDepth) listing.maxDepth = level[i];
    listing.lines += std::to_string(i) + ",folder " + std::to_string(i) + ",dir,0," +
                     (parent == 0 ? std::string() : std::to_string(parent)) + ",1700000000\n";
    ++listing.folders;
  }
  for (int j = folderCount + 1; j <= entries; ++j) {
    int parent = 1 + j % folderCount;
    listing.lines += std::to_string(j) + ",file " + std::to_string(j) + ".dat,file," +
                     std::to_string(1000 + j % 5000) + "," + std::to_string(parent) +
                     ",1700000000\n";
    ++listing.files;
  }
  return listing;
}
