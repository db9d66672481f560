// Folder listings being handed to the kernel. The kernel reads a listing in pieces, each
// request naming the offset to go on from; the listing read for the first piece is kept here
// (by the folder's entry number) until the last piece has gone, so that the pieces fit
// together and a large folder is read from the file system once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dokan/DokanTypes.h"
#include "platform/sync/Mutex.h"

namespace dokan {

// One entry of a folder listing, as the file system gave it.
struct ListedEntry {
  std::string name;  // UTF-8
  BY_HANDLE_FILE_INFORMATION info{};
};

using Listing = std::shared_ptr<const std::vector<ListedEntry>>;

class FolderListings {
 public:
  // The listing of `folder` being handed out, or null.
  Listing find(uint64_t folder) const EXCLUDES(lock_);
  void keep(uint64_t folder, Listing listing) EXCLUDES(lock_);
  // The last piece of `folder`'s listing has gone.
  void done(uint64_t folder) EXCLUDES(lock_);

 private:
  // Listings left unfinished (a reader that stopped early) are dropped beyond this many.
  static constexpr size_t kMostKept = 64;

  mutable Mutex lock_;
  std::unordered_map<uint64_t, Listing> listings_ GUARDED_BY(lock_);
};

}  // namespace dokan
