#include "drive/storage/PlaceLocks.h"

#include "drive/tree/TreeNode.h"

PlaceLocks::Held PlaceLocks::hold(const std::u16string& parentId, const std::u16string& name) {
  std::u16string key = parentId + u'\\' + UpperCasePath(name);
  MutexLock guard(lock_);
  guard.wait(freed_, [&]() REQUIRES(lock_) { return busy_.count(key) == 0; });
  busy_.insert(key);
  return Held(*this, key);
}

void PlaceLocks::release(const std::u16string& key) {
  {
    MutexLock guard(lock_);
    busy_.erase(key);
  }
  freed_.notify_all();
}
