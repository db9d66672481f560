#include "drive/storage/ReadLinkCache.h"

void ReadLinkCache::setClock(Clock clock) { clock_ = clock ? clock : GetTickCount; }

std::optional<StreamLink> ReadLinkCache::fresh(const std::u16string& id, uint32_t now) const {
  MutexLock guard(lock_);
  auto found = entries_.find(id);
  // Tick counts wrap; the unsigned difference is the elapsed time across a wrap as well.
  if (found == entries_.end() || now - found->second.lastUse >= kFreshMs) return std::nullopt;
  return found->second.link;
}

void ReadLinkCache::store(const std::u16string& id, const StreamLink& link, uint32_t now) {
  MutexLock guard(lock_);
  Entry& entry = entries_[id];
  entry.link = link;
  entry.lastUse = now;
}

void ReadLinkCache::touch(const std::u16string& id, uint32_t now) {
  MutexLock guard(lock_);
  auto found = entries_.find(id);
  if (found != entries_.end()) found->second.lastUse = now;
}

void ReadLinkCache::clear() {
  MutexLock guard(lock_);
  entries_.clear();
}

ReadLinkCache& ReadLinks() {
  static ReadLinkCache cache;
  return cache;
}
