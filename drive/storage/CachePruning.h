// Keeps the two local cache folders in bounds; run by the mirror's maintenance thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace cache_pruning {

constexpr int64_t kHeadFolderLimit = 100000000;  // bytes
constexpr int64_t kLargestHeadEntry = 1LL << 32;

// The head files in "cache/" of the program folder, in listing order, with a running total:
// an entry is deleted when it is 4 GiB or larger, or when the entries before it already
// total more than kHeadFolderLimit. Names starting with "." and the names in `inUse` (head
// files of open files) are never deleted; those in use still count towards the total.
void PruneHeadFolder(const std::filesystem::path& folder, const std::set<std::string>& inUse);

// The temporary cache folder: while its files total more than `limitMiB` MiB, the oldest
// files (by modification time) are deleted, except those whose name is in `inUse`. Empty
// subfolders are removed in the same pass.
void PruneTemporaryFolder(const std::filesystem::path& folder, int64_t limitMiB,
                          const std::set<std::string>& inUse);

// "<temporary folder>/qlv_cache".
std::filesystem::path TemporaryCacheFolder();

}  // namespace cache_pruning
