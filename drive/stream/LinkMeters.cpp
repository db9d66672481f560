#include "drive/stream/LinkMeters.h"

#include <algorithm>

std::shared_ptr<LinkMeter> LinkMeters::meterFor(const std::string& host, int port) {
  MutexLock guard(lock_);
  auto now = std::chrono::steady_clock::now();
  auto known = std::find_if(servers_.begin(), servers_.end(), [&](const Server& server) {
    return server.host == host && server.port == port;
  });
  if (known == servers_.end()) {
    if (servers_.size() >= kMostServers) {
      servers_.erase(std::min_element(
          servers_.begin(), servers_.end(),
          [](const Server& a, const Server& b) { return a.lastUsed < b.lastUsed; }));
    }
    servers_.push_back(Server{host, port, std::make_shared<LinkMeter>(), now});
    return servers_.back().meter;
  }
  known->lastUsed = now;
  return known->meter;
}
