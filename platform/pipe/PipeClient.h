// The client end of the control pipe, used like a file opened for binary reading and
// writing: open, write, read, close on a descriptor.
#pragma once

#include <cstddef>
#include <string>

namespace named_pipe {

// Connects to the pipe at `path`. Returns a descriptor, or -1 when no server listens there
// or its queue is full.
int OpenPipe(const std::string& path);

// Writes all `size` bytes; false when the server is gone.
bool WritePipe(int fd, const void* data, size_t size);

// Reads exactly `size` bytes; false when the server closed its end first or the read failed.
bool ReadPipe(int fd, void* buffer, size_t size);

void ClosePipe(int fd);

}  // namespace named_pipe
