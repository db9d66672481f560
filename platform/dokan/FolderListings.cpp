#include "platform/dokan/FolderListings.h"

namespace dokan {

Listing FolderListings::find(uint64_t folder) const {
  MutexLock guard(lock_);
  auto found = listings_.find(folder);
  return found != listings_.end() ? found->second : nullptr;
}

void FolderListings::keep(uint64_t folder, Listing listing) {
  MutexLock guard(lock_);
  // A dropped listing is read again if its reader comes back.
  if (listings_.size() >= kMostKept && listings_.count(folder) == 0) listings_.clear();
  listings_[folder] = std::move(listing);
}

void FolderListings::done(uint64_t folder) {
  MutexLock guard(lock_);
  listings_.erase(folder);
}

}  // namespace dokan
