// Receiving the replies of the read requests, which may carry raw data after their text.
#pragma once

#include <atomic>
#include <cstdint>

#include "drive/wire/CRSSocket.h"
#include "drive/wire/ReplyFrame.h"
#include "drive/wire/StreamLog.h"

namespace streamwire {

enum class ReadRequest { kOpen, kSlaveOpen, kRead, kFetch };  // t1_open, t_open, t_read, t1_read

const char* RequestName(ReadRequest request);

// Receives one reply on `socket` within `timeoutMs` and reads the data that belongs to it into
// `data` (room for `capacity` bytes): dsize bytes for a successful "t_read" / "t1_read", the
// head for a successful "t1_open" (`*dataSize` gets the count). A successful reply that lacks
// a field its request needs, or announces more data than `capacity`, is not read on and gives
// "data_error", as does data that stops short. A set `stop` gives an empty list. The reply
// text goes to `log` at level 7.
Fields ReceiveDataReply(CStreamLog& log, CRSSocket& socket, ReadRequest request, int timeoutMs,
                        const std::atomic<bool>* stop, uint8_t* data, int32_t capacity,
                        int32_t* dataSize);

}  // namespace streamwire
