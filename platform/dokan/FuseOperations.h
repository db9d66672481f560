// The FUSE operations of a mounted drive, on libfuse's low-level interface: each one turns a
// FUSE request into the matching driver callback (the entry's number into its drive path,
// the open handle's file context, the caller's process id) and the callback's result back
// into FUSE's answer. The kernel's numbers for entries are kept in an InodeTable.
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>
#include <sys/types.h>

#include <atomic>
#include <set>
#include <string>

#include "platform/dokan/DokanTypes.h"
#include "platform/dokan/FolderListings.h"
#include "platform/dokan/InodeTable.h"
#include "platform/sync/Mutex.h"

namespace dokan {

// Largest read the kernel is asked to hand over in one call. Every request costs a wake-up
// of a FUSE thread and of the kernel's reader, so a sequential read goes faster in 1 MiB
// requests than in 64 KiB ones.
constexpr uint32_t kMaxFuseRead = 1 << 20;
// Largest read handed to ReadFile in one call: the kernel's whole read. The file system
// splits it itself where it must (the stream reader answers it in pieces from its fetched
// data), so each kernel read costs one pass through the callbacks.
constexpr uint32_t kMaxReadPiece = kMaxFuseRead;
// Largest write the kernel is asked to hand over in one call.
constexpr uint32_t kMaxWritePiece = 1 << 20;

// One open file or folder. The FUSE handle points at it; it carries the file context that
// the file system set when opening (or in any later call on the handle), like the driver's
// per-handle record.
struct OpenHandle {
  std::atomic<uint64_t> context{0};
  std::u16string name;  // as opened
  uint8_t isDirectory = 0;
  // Data was written (or the size set) through the handle since it was opened or last
  // flushed: the close that flushes it finishes the file.
  std::atomic<bool> written{false};
};

// What the operations of one mount need; handed to fuse_session_new as its user data and
// alive until the FUSE session has been destroyed.
struct DriveSession {
  PDOKAN_OPTIONS options = nullptr;
  PDOKAN_OPERATIONS operations = nullptr;
  uid_t owner = 0;  // shown as the owner of every entry
  gid_t group = 0;
  InodeTable inodes;
  FolderListings listings;
  // The kernel lists folders without opening them (and keeps their listings all the same),
  // so OpenDirectory and the closing of folder handles are not called.
  std::atomic<bool> foldersUnopened{false};

  Mutex handlesLock;
  std::set<OpenHandle*> handles GUARDED_BY(handlesLock);  // owned

  // Cleanup and CloseFile for every handle FUSE never released (the drive went while files
  // were open), then the Unmount callback. Called once the FUSE loop has ended.
  void finish();
};

fuse_lowlevel_ops MakeFuseOperations();

}  // namespace dokan
