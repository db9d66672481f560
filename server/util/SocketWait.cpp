#include "server/util/SocketWait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace qserver {
namespace {

bool WaitFor(int socket, short events, SteadyClock::time_point deadline) {
  while (true) {
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count();
    // Rounded up, so the wait never ends a little before the deadline and spins.
    int milliseconds = left < 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 1 << 30));
    pollfd wait{socket, events, 0};
    int ready = ::poll(&wait, 1, milliseconds);
    if (ready > 0) return true;  // errors and hang-ups count: the next call reports them
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

bool WaitReadable(int socket, SteadyClock::time_point deadline) {
  return WaitFor(socket, POLLIN, deadline);
}

bool WaitWritable(int socket, SteadyClock::time_point deadline) {
  return WaitFor(socket, POLLOUT, deadline);
}

}  // namespace qserver
