// The single-instance lock: a listening TCP socket on 127.0.0.1:60011 that lives as long as
// the process. A second copy cannot listen there.
#pragma once

namespace instance_lock {

constexpr int kPort = 60011;

// True when this process now holds the lock. The socket is never closed.
bool Acquire();

}  // namespace instance_lock
