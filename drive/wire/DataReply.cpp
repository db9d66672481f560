#include "drive/wire/DataReply.h"

#include "drive/wire/StreamLog.h"

namespace streamwire {

const char* RequestName(ReadRequest request) {
  switch (request) {
    case ReadRequest::kOpen:
      return "t1_open";
    case ReadRequest::kSlaveOpen:
      return "t_open";
    case ReadRequest::kRead:
      return "t_read";
    case ReadRequest::kFetch:
      return "t1_read";
  }
  return "";
}

Fields ReceiveDataReply(CStreamLog& log, CRSSocket& socket, ReadRequest request, int timeoutMs,
                        const std::atomic<bool>* stop, uint8_t* data, int32_t capacity,
                        int32_t* dataSize) {
  *dataSize = 0;
  Fields fields = socket.receiveReply(timeoutMs, stop);
  if (fields.empty()) return fields;
  const std::string& text = socket.lastText();
  if (!text.empty()) log.log(7, "RecvData: Buf=%s", text.c_str());
  if (text.empty() || !IsOk(fields)) return fields;  // a status word or an error reply

  int32_t announced = 0;
  if (request == ReadRequest::kRead || request == ReadRequest::kFetch) {
    DataReply reply;
    if (!ParseDataReply(fields, capacity, &reply)) return {kDataError};
    log.log(7, "RecvData: hsize=%ld result=%s n=%ld dsize=%ld", static_cast<long>(text.size()),
            text.c_str(), static_cast<long>(text.size()), static_cast<long>(reply.size));
    announced = reply.size;
  } else if (request == ReadRequest::kOpen) {
    OpenReply reply;
    if (!ParseOpenReply(fields, &reply) || reply.headSize > capacity) return {kDataError};
    announced = reply.headSize;
  } else {
    return fields;  // "t_open" carries no data
  }
  if (announced > 0 && socket.receiveExact(data, announced, timeoutMs, stop) != announced) {
    return {kDataError};
  }
  *dataSize = announced;
  return fields;
}

}  // namespace streamwire
