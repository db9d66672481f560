// Waits on one socket with a deadline rather than a time per call, so a client that sends a
// byte now and then cannot stretch a request's time without end.
#pragma once

#include <chrono>

namespace qserver {

using SteadyClock = std::chrono::steady_clock;

// True once the socket has data or an end to report before `deadline`.
bool WaitReadable(int socket, SteadyClock::time_point deadline);
// True once the socket takes more data before `deadline`.
bool WaitWritable(int socket, SteadyClock::time_point deadline);

}  // namespace qserver
