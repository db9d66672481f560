#include "server/util/FileLimit.h"

#include <sys/resource.h>

#include <fstream>

namespace qserver {
namespace {

// The kernel's ceiling for a process's descriptors; an unlimited hard limit means this.
rlim_t KernelCeiling() {
  std::ifstream in("/proc/sys/fs/nr_open");
  unsigned long long value = 0;
  return (in >> value) && value > 0 ? static_cast<rlim_t>(value) : 1048576;
}

}  // namespace

long RaiseFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? KernelCeiling() : limit.rlim_max;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) {
    return limit.rlim_cur == RLIM_INFINITY ? static_cast<long>(wanted)
                                           : static_cast<long>(limit.rlim_cur);
  }
  rlimit raised{wanted, limit.rlim_max};
  if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit.rlim_cur = wanted;
  return static_cast<long>(limit.rlim_cur);
}

}  // namespace qserver
