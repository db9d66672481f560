// What the storage client keeps for the whole program, across its mount cycles: the run state,
// the read links, the uploads not yet closed, the contexts of closed files and what the stream
// readers share. Made by main and handed to every mirror.
#pragma once

#include <atomic>
#include <cstdint>

#include "drive/storage/ClosedFiles.h"
#include "drive/storage/MirrorRunState.h"
#include "drive/storage/PendingNodes.h"
#include "drive/storage/ReadLinkCache.h"
#include "drive/stream/StreamContext.h"

struct StorageProcess {
  // Declared first, so it outlives the closed files whose readers log to it.
  StreamContext stream;
  std::atomic<int32_t> runState{run_state::kStopped};
  ReadLinkCache readLinks;
  PendingNodes pendingUploads;
  ClosedFiles closedFiles;

  bool running() const { return runState.load() == run_state::kRunning; }
};
