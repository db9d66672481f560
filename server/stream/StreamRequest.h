// Requests of the stream protocol: the frame header ("file" + big-endian text length)
// and the request text with its fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qserver {

inline constexpr size_t kFrameHeaderSize = 8;
inline constexpr uint32_t kMaxRequestText = 1016;  // a request frame is at most 1024 bytes

enum class RequestKind { kT1Open, kTOpen, kTRead, kT1Read, kTClose, kTwCreate, kTwWrite, kTwClose };

struct StreamRequest {
  RequestKind kind = RequestKind::kTClose;
  std::string name;    // the request word as sent ("t1_open", ...)
  std::string first;   // token 1, stream id, write id or session id
  std::string second;  // token 2 or file id
  long long offset = 0;
  long long size = 0;
  // Empty when the fields are sound; otherwise the error word to answer with.
  std::string error;
};

// The text length of a request frame, or nullopt when the header is not a valid frame
// (wrong magic, length 0 or over 1016).
std::optional<uint32_t> ParseFrameHeader(const unsigned char* header);

// The request in a frame's text, or nullopt for an unknown request. A known request with
// missing or malformed fields comes back with `error` set.
std::optional<StreamRequest> ParseStreamRequest(std::string_view text);

}  // namespace qserver
