// The read links of remote files (stream server and the two link tokens), kept so that
// opening a file again soon needs no "readdist". An entry is fresh while less than 60 s have
// passed since its last use; every read of the file counts as a use. An entry names one
// version of the file's content: it is dropped when the file changes or goes. One table for
// the whole program (kept in StorageProcess), for the life of the process, under one lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "drive/replies/StreamLink.h"
#include "platform/sync/Mutex.h"
#include "platform/ticks/Ticks.h"

class ReadLinkCache {
 public:
  static constexpr uint32_t kFreshMs = 60000;
  using Clock = uint32_t (*)();

  // The tick count the read path stamps uses with: GetTickCount unless a test set its own.
  uint32_t now() const { return clock_.load()(); }
  void setClock(Clock clock);  // nullptr: GetTickCount again

  // The link of `id` if it was used less than kFreshMs before `now` (tick count).
  std::optional<StreamLink> fresh(const std::u16string& id, uint32_t now) const;
  // How many entries were dropped so far. A link asked for before a drop may name the content
  // that the drop was for.
  uint64_t drops() const;
  // Creates or replaces the entry and marks it used at `now`; nothing when an entry was dropped
  // after drops() answered `dropsBefore`.
  void store(const std::u16string& id, const StreamLink& link, uint32_t now,
             std::optional<uint64_t> dropsBefore = std::nullopt);
  // Marks an existing entry used at `now`.
  void touch(const std::u16string& id, uint32_t now);
  // Removes the entry of `id` (its content changed or it is gone) and returns its link.
  std::optional<StreamLink> drop(const std::u16string& id);
  // Forgets every entry (a test starting against a new service).
  void clear();

 private:
  struct Entry {
    StreamLink link;
    uint32_t lastUse = 0;
  };
  std::atomic<Clock> clock_{GetTickCount};
  mutable Mutex lock_;
  std::map<std::u16string, Entry> entries_ GUARDED_BY(lock_);
  uint64_t drops_ GUARDED_BY(lock_) = 0;
};
