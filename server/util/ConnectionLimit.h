// Counts the open connections of one port, per client address and in all, so that one
// client cannot take every place the server has.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "platform/sync/Mutex.h"

namespace qserver {

struct ConnectionLimits {
  size_t perAddress = 256;
  size_t total = 1024;
};

class ConnectionLimit {
 public:
  explicit ConnectionLimit(ConnectionLimits limits) : limits_(limits) {}

  // Takes a place for a connection from `address`; false when that address already holds
  // its share or the port is full.
  bool admit(const std::string& address);
  // Gives back the place of a connection from `address` that has ended.
  void release(const std::string& address);

 private:
  const ConnectionLimits limits_;
  Mutex lock_;
  std::map<std::string, size_t> byAddress_ GUARDED_BY(lock_);
  size_t total_ GUARDED_BY(lock_) = 0;
};

}  // namespace qserver
