// The single-instance lock: a listening TCP socket on 127.0.0.1:60011 that lives as long as
// the process. A second copy cannot listen there. $QUELLAN_INSTANCE_PORT names another port,
// so that tests can run several copies side by side, each pair sharing a lock of its own.
#pragma once

namespace instance_lock {

constexpr int kPort = 60011;

// kPort, or $QUELLAN_INSTANCE_PORT when that holds a port number (1 to 65535).
int LockPort();

// True when this process now holds the lock. The socket is never closed.
bool Acquire();

}  // namespace instance_lock
