#include "drive/storage/CachePruning.h"

#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

namespace cache_pruning {

void PruneHeadFolder(const fs::path& folder, const std::set<std::string>& inUse) {
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  if (error) return;
  int64_t total = 0;
  for (const fs::directory_entry& entry : entries) {
    std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    if (!entry.is_regular_file(error)) continue;
    int64_t size = static_cast<int64_t>(entry.file_size(error));
    if (error) continue;
    bool tooLarge = size >= kLargestHeadEntry;
    if ((tooLarge || total > kHeadFolderLimit) && inUse.count(name) == 0) {
      fs::remove(entry.path(), error);
      continue;
    }
    if (!tooLarge) total += size;
  }
}

namespace {

struct CachedFile {
  fs::path path;
  int64_t size;
  fs::file_time_type time;
};

// Removes the empty folders below `folder` (not `folder` itself), deepest first.
void RemoveEmptyFolders(const fs::path& folder) {
  std::error_code error;
  std::vector<fs::path> folders;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) folders.push_back(it->path());
  }
  std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
    return a.native().size() > b.native().size();
  });
  for (const fs::path& path : folders) {
    if (fs::is_empty(path, error) && !error) fs::remove(path, error);
  }
}

}  // namespace

void PruneTemporaryFolder(const fs::path& folder, int64_t limitMiB,
                          const std::set<std::string>& inUse) {
  std::error_code error;
  std::vector<CachedFile> files;
  int64_t total = 0;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code entryError;
    if (!it->is_regular_file(entryError)) continue;
    int64_t size = static_cast<int64_t>(it->file_size(entryError));
    fs::file_time_type time = it->last_write_time(entryError);
    if (entryError) continue;
    total += size;
    files.push_back({it->path(), size, time});
  }
  std::sort(files.begin(), files.end(),
            [](const CachedFile& a, const CachedFile& b) { return a.time < b.time; });
  for (const CachedFile& file : files) {
    if (total / 1048576 <= limitMiB) break;
    if (inUse.count(file.path.filename().string()) != 0) continue;
    std::error_code removeError;
    if (fs::remove(file.path, removeError)) total -= file.size;
  }
  RemoveEmptyFolders(folder);
}

fs::path TemporaryCacheFolder() {
  std::error_code error;
  fs::path temporary = fs::temp_directory_path(error);
  if (error) temporary = "/tmp";
  return temporary / "qlv_cache";
}

}  // namespace cache_pruning
