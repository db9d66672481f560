// Feeds arbitrary bytes to the stream server's request parsing, as a connection would
// deliver them: frame header, request text, next frame.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/stream/StreamRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  while (size - at >= qserver::kFrameHeaderSize) {
    auto length = qserver::ParseFrameHeader(data + at);
    if (!length) return 0;
    at += qserver::kFrameHeaderSize;
    if (size - at < *length) return 0;
    auto request = qserver::ParseStreamRequest(
        std::string_view(reinterpret_cast<const char*>(data + at), *length));
    if (!request) return 0;
    if (request->error.empty() && (request->offset < 0 || request->size < 0)) __builtin_trap();
    at += *length;
    // A write's payload follows its frame unframed.
    if (request->kind == qserver::RequestKind::kTwWrite && request->error.empty()) {
      if (static_cast<uint64_t>(request->size) > size - at) return 0;
      at += static_cast<size_t>(request->size);
    }
  }
  return 0;
}
