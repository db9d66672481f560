// The entries of a mounted drive that the kernel knows by number. The kernel names an entry
// by the number it was given when it looked the entry up (or met it in a listing) and keeps
// it until it forgets that entry; the drive's callbacks name entries by path. The table maps
// one to the other: each number holds its parent's number and its own name, so a path is
// built by walking up, and a folder moved or renamed moves everything below it at once.
//
// Names are kept as the kernel gave them (byte for byte): the kernel caches names exactly,
// so two spellings of one drive entry are two numbers here, as they are two entries there.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dokan/PackedNames.h"
#include "platform/sync/Mutex.h"

namespace dokan {

class InodeTable {
 public:
  static constexpr uint64_t kRoot = 1;

  struct Known {
    uint64_t ino = 0;
    uint64_t generation = 0;
  };

  InodeTable();

  // The number of `name` in folder `parent`, new or known, counted as one more lookup by the
  // kernel. Zero when `parent` is not known or `name` is longer than any the kernel hands over.
  Known remember(uint64_t parent, std::string_view name) EXCLUDES(lock_);
  // The kernel dropped `count` of its lookups of `ino`; at none left the number is free.
  void forget(uint64_t ino, uint64_t count) EXCLUDES(lock_);

  // The path of `ino` ("/" for the root, "/a/b" below it), or false when the entry was
  // removed (or moved away from under another name) or is not known.
  bool pathOf(uint64_t ino, std::string& path) const EXCLUDES(lock_);
  // The path of `name` in folder `parent`; false when the folder has no path.
  bool pathOf(uint64_t parent, std::string_view name, std::string& path) const EXCLUDES(lock_);
  // The number known for the path "/a/b" (exact names), or 0.
  uint64_t find(std::string_view path) const EXCLUDES(lock_);

  // The entry `name` in `parent` is gone: its number stays until the kernel forgets it, but
  // has no path any more.
  void removed(uint64_t parent, std::string_view name) EXCLUDES(lock_);
  // The entry moved; an entry the kernel knew under the new name is gone.
  void moved(uint64_t parent, std::string_view name, uint64_t newParent, std::string_view newName)
      EXCLUDES(lock_);

  size_t size() const EXCLUDES(lock_);

 private:
  // 20 bytes: a million entries the kernel knows take 20 MB here besides their names, and
  // the index adds 4 bytes an entry.
  struct Node {
    PackedNames::Ref name = 0;  // in names_, with its length
    uint32_t parent = 0;        // 0: no path (removed, or a free slot)
    uint32_t next = 0;          // the next entry in the same index bucket
    uint32_t children = 0;      // entries with a path below this one: it stays while they do
    // The kernel's lookups; one that reaches the largest count is kept for good.
    uint16_t lookups = 0;
    // Counts the reuses of the number; it wraps, which only matters to a kernel that still
    // held the number 65536 reuses ago.
    uint16_t generation = 0;
  };
  static_assert(sizeof(Node) == 20);
  static constexpr uint16_t kKeptForGood = UINT16_MAX;
  // Numbers stay below this, so that every one fits the index's 32-bit links.
  static constexpr uint32_t kMostNumbers = UINT32_MAX - 1;
  std::string_view nameOf(const Node& node) const REQUIRES(lock_) { return names_.view(node.name); }
  // False (and the name left as it was) when the name cannot be kept.
  bool setName(Node& node, std::string_view name) REQUIRES(lock_);
  // Packs the names in use into fresh blocks once most of the old ones are given up.
  void compactNames() REQUIRES(lock_);

  static uint64_t hashOf(uint32_t parent, std::string_view name);
  size_t bucketOf(uint32_t parent, std::string_view name) const REQUIRES(lock_) {
    return hashOf(parent, name) & (buckets_.size() - 1);
  }
  uint32_t linked(uint32_t parent, std::string_view name) const REQUIRES(lock_);
  // Enters `ino` (not entered yet) under `parent` and its name; the parent counts one more
  // child.
  void link(uint32_t ino, uint32_t parent) REQUIRES(lock_);
  // Takes `ino`'s name away (it keeps its number) and returns its former parent, or 0.
  uint32_t detach(uint32_t ino) REQUIRES(lock_);
  // Doubles the buckets and chains every entry with a path again.
  void growIndex() REQUIRES(lock_);
  // Frees `ino` once the kernel has forgotten it and nothing below it has a path.
  void release(uint32_t ino) REQUIRES(lock_);
  bool pathOfLocked(uint32_t ino, std::string& path) const REQUIRES(lock_);

  mutable Mutex lock_;
  std::deque<Node> nodes_ GUARDED_BY(lock_);      // by number; slot 0 unused
  PackedNames names_ GUARDED_BY(lock_);           // the names of nodes_
  std::vector<uint32_t> free_ GUARDED_BY(lock_);  // numbers to give out again
  // (parent, name) → number: each bucket holds the first number of a chain linked through
  // Node::next; chains hold two entries on average at most.
  std::vector<uint32_t> buckets_ GUARDED_BY(lock_);
  size_t indexed_ GUARDED_BY(lock_) = 0;  // entries with a path (chained)
  size_t live_ GUARDED_BY(lock_) = 0;     // numbers in use
};

}  // namespace dokan
