// Takes the kernel's requests of a mounted drive off the FUSE device and answers them on up
// to a set number of threads, one of which receives at a time.
//
// A request answered from the tables in memory (a folder listing, a forget) is answered by
// the thread that received it, which then receives the next one. A `find` over a large tree
// sends two such requests a folder, each only after the last was answered; they stay on one
// thread, whose stack and buffer are warm, instead of waking every waiting thread in turn.
// Before answering any other request (which may wait on the service) the receiving thread
// hands receiving on to a waiting thread, so that slow requests are answered side by side.
#pragma once

#include "platform/dokan/FuseOperations.h"

namespace dokan {

// Serves `session` on `threads` threads until the drive is unmounted or the session ends:
// 0, or the negative errno of a failed receive.
int ServeRequests(fuse_session* session, unsigned threads);

}  // namespace dokan
