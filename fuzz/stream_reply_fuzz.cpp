// Fuzz target for the stream server's reply frames: the input is what a server sends on a
// connection. Each kind of read request receives it through the real socket code (over a
// socket pair), and the field parsers see it as reply text.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "drive/wire/CRSSocket.h"
#include "drive/wire/DataReply.h"
#include "drive/wire/ReplyFrame.h"

using namespace streamwire;

namespace {

// Every check that the reply code promises to its callers.
void CheckReply(ReadRequest request, const Fields& fields, int32_t capacity, int32_t dataSize) {
  if (dataSize < 0 || dataSize > capacity) std::abort();
  if (!IsOk(fields)) {
    if (dataSize != 0) std::abort();
    return;
  }
  if (request == ReadRequest::kRead || request == ReadRequest::kFetch) {
    DataReply reply;
    if (!ParseDataReply(fields, capacity, &reply) || reply.size != dataSize) std::abort();
  } else if (request == ReadRequest::kOpen) {
    OpenReply reply;
    if (!ParseOpenReply(fields, &reply) || reply.headSize != dataSize) std::abort();
  }
}

void Receive(const uint8_t* data, size_t size, ReadRequest request, int32_t capacity) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return;
  int buffer = 1 << 20;
  ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  ::setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  size_t written = 0;
  while (written < size) {
    ssize_t sent = ::send(pair[0], data + written, size - written, MSG_NOSIGNAL);
    if (sent <= 0) break;
    written += static_cast<size_t>(sent);
  }
  ::shutdown(pair[0], SHUT_WR);

  CRSSocket socket;
  socket.attach(pair[1]);
  std::vector<uint8_t> out(capacity > 0 ? capacity : 1);
  std::atomic<bool> stop{false};
  CStreamLog log;  // without a path: the fuzzer writes no log file
  // Several replies in a row, as a slave connection receives them.
  for (int i = 0; i < 4; ++i) {
    int32_t dataSize = 0;
    Fields fields = ReceiveDataReply(log, socket, request, 1000, &stop,
                                     capacity > 0 ? out.data() : nullptr, capacity, &dataSize);
    CheckReply(request, fields, capacity, dataSize);
    if (!IsOk(fields)) break;
  }
  ::close(pair[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 18)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  Fields fields = SplitFields(text);
  for (const std::string& field : fields) {
    if (field.empty() || field.find(',') != std::string::npos) std::abort();
  }
  OpenReply open;
  DataReply reply;
  ParseOpenReply(fields, &open);
  ParseDataReply(fields, 65536, &reply);
  ErrorWord(fields);

  Receive(data, size, ReadRequest::kOpen, 65536);
  Receive(data, size, ReadRequest::kSlaveOpen, 0);
  Receive(data, size, ReadRequest::kRead, 1000);
  Receive(data, size, ReadRequest::kFetch, 65536);
  return 0;
}
