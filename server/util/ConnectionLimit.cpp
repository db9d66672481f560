#include "server/util/ConnectionLimit.h"

namespace qserver {

bool ConnectionLimit::admit(const std::string& address) {
  MutexLock guard(lock_);
  if (total_ >= limits_.total) return false;
  size_t& count = byAddress_[address];
  if (count >= limits_.perAddress) return false;
  ++count;
  ++total_;
  return true;
}

void ConnectionLimit::release(const std::string& address) {
  MutexLock guard(lock_);
  auto found = byAddress_.find(address);
  if (found == byAddress_.end()) return;
  --total_;
  if (--found->second == 0) byAddress_.erase(found);
}

}  // namespace qserver
