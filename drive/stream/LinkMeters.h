// The link meter of each stream server (host and port), shared by the readers of one program
// (StreamContext): a file opened after another on the same server starts from what the first
// one learnt of the link, so its read-ahead need not grow from one request again.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "drive/stream/LinkMeter.h"
#include "platform/sync/Mutex.h"

class LinkMeters {
 public:
  // Servers followed at once; the least recently used one makes room for a new one (its
  // readers keep their meter until they open again).
  static constexpr size_t kMostServers = 8;

  std::shared_ptr<LinkMeter> meterFor(const std::string& host, int port) EXCLUDES(lock_);

 private:
  struct Server {
    std::string host;
    int port = 0;
    std::shared_ptr<LinkMeter> meter;
    std::chrono::steady_clock::time_point lastUsed;
  };

  Mutex lock_;
  std::vector<Server> servers_ GUARDED_BY(lock_);
};
