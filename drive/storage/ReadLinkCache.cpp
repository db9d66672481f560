#include "drive/storage/ReadLinkCache.h"

void ReadLinkCache::setClock(Clock clock) { clock_ = clock ? clock : GetTickCount; }

std::optional<StreamLink> ReadLinkCache::fresh(const std::u16string& id, uint32_t now) const {
  MutexLock guard(lock_);
  auto found = entries_.find(id);
  // Tick counts wrap; the unsigned difference is the elapsed time across a wrap as well.
  if (found == entries_.end() || now - found->second.lastUse >= kFreshMs) return std::nullopt;
  return found->second.link;
}

uint64_t ReadLinkCache::drops() const {
  MutexLock guard(lock_);
  return drops_;
}

void ReadLinkCache::store(const std::u16string& id, const StreamLink& link, uint32_t now,
                          std::optional<uint64_t> dropsBefore) {
  MutexLock guard(lock_);
  if (dropsBefore && *dropsBefore != drops_) return;
  Entry& entry = entries_[id];
  entry.link = link;
  entry.lastUse = now;
}

void ReadLinkCache::touch(const std::u16string& id, uint32_t now) {
  MutexLock guard(lock_);
  auto found = entries_.find(id);
  if (found != entries_.end()) found->second.lastUse = now;
}

std::optional<StreamLink> ReadLinkCache::drop(const std::u16string& id) {
  MutexLock guard(lock_);
  auto found = entries_.find(id);
  if (found == entries_.end()) return std::nullopt;
  StreamLink link = std::move(found->second.link);
  entries_.erase(found);
  ++drops_;
  return link;
}

void ReadLinkCache::clear() {
  MutexLock guard(lock_);
  entries_.clear();
}
