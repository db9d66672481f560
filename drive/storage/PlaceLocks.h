// Uploads to one folder and name, one at a time. The service hands an upload the id of the
// file already at its name, so an upload that ends in a removal (a lock file closed and removed
// at once) must be over, removal included, before the next upload to that name asks for its
// id; otherwise the removal would take the next file with it.
#pragma once

#include <condition_variable>
#include <set>
#include <string>

#include "platform/sync/Mutex.h"

class PlaceLocks {
 public:
  // Holds the place (folder id, name; names compare without the case of a–z) while alive.
  class Held {
   public:
    Held(PlaceLocks& owner, std::u16string key) : owner_(owner), key_(std::move(key)) {}
    ~Held() { owner_.release(key_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    PlaceLocks& owner_;
    const std::u16string key_;
  };

  // Waits until no one holds the place, then holds it.
  [[nodiscard]] Held hold(const std::u16string& parentId, const std::u16string& name)
      EXCLUDES(lock_);

 private:
  void release(const std::u16string& key) EXCLUDES(lock_);

  Mutex lock_;
  std::condition_variable freed_;
  std::set<std::u16string> busy_ GUARDED_BY(lock_);
};
