// The client end of the control pipe, used like a file opened for binary reading and
// writing: open, write, read, close on a descriptor.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace named_pipe {

// Connects to the pipe at `path`. Returns a descriptor, or -1 when no server listens there,
// its queue is full, or the pipe cannot be trusted: its folder is not a private folder of
// this user, or the process serving it runs as another user. In the last two cases nothing
// has been sent, and `refusal` (when given) says why; otherwise it is left empty.
int OpenPipe(const std::string& path, std::string* refusal = nullptr);

// Writes all `size` bytes; false when the server is gone. With a `limit`, also false when the
// server has not taken them all within it (it stopped reading).
bool WritePipe(int fd, const void* data, size_t size);
bool WritePipe(int fd, const void* data, size_t size, std::chrono::milliseconds limit);

// Reads exactly `size` bytes, waiting at most `limit` for all of them; false when the server
// closed its end first, the read failed or the time ran out.
bool ReadPipe(int fd, void* buffer, size_t size, std::chrono::milliseconds limit);

// True when the connection is out of step with its requests: the server ended it (say after
// the client stayed silent too long) or sent something nobody asked for. Does not wait.
bool ConnectionSpent(int fd);

void ClosePipe(int fd);

// The process id of the server at the other end of `fd`; -1 when it cannot be told.
int ServerProcessOf(int fd);

}  // namespace named_pipe
