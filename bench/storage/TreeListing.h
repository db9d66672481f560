// A synthetic remote tree for the benchmarks: `entries` nodes, one in ten a folder, folders
// nested up to `depth` levels, files of a few KiB spread over the folders.
#pragma once

#include <string>

struct TreeListing {
  std::string lines;  // "id,name,type,size,pid,time\n" per node
  int folders = 0;
  int files = 0;
  int maxDepth = 0;
};

TreeListing MakeTreeListing(int entries, int depth);
