#include "drive/storage/ReplyReading.h"

#include "drive/storage/ChunkedText.h"
#include "drive/storage/WebClient.h"
#include "platform/codepage/CodePage.h"

std::u16string ReadSingleBuffer(WebClient& client) {
  char buffer[kReplyBufferBytes];
  size_t filled = 0;
  while (filled < sizeof buffer) {
    int count = client.read(buffer + filled, sizeof buffer - filled);
    if (count <= 0) break;
    filled += static_cast<size_t>(count);
  }
  return codepage::AnsiToWide(std::string_view(buffer, filled));
}

StreamedReply ReadStreamed(WebClient& client, const std::function<bool()>& running) {
  // The bytes are kept whole and converted by the caller, so that a character split across
  // two reads is not broken.
  StreamedReply reply;
  std::string bytes;
  char buffer[kReplyBufferBytes];
  while (true) {
    if (running && !running()) {
      reply.status = StreamedReply::Status::kStopped;
      return reply;
    }
    int count = client.read(buffer, sizeof buffer);
    if (count < 0) reply.status = StreamedReply::Status::kFailed;
    if (count <= 0) break;
    bytes.append(buffer, static_cast<size_t>(count));
  }
  reply.bytes = std::move(bytes);
  return reply;
}

std::u16string StreamedReply::text() const { return chunked_text::AnsiToWide(bytes); }

std::optional<std::u16string> ReadLink(WebClient& client) {
  char buffer[kReplyBufferBytes];
  int count = client.read(buffer, sizeof buffer);
  if (count <= 0) return std::nullopt;
  std::string_view bytes(buffer, static_cast<size_t>(count));
  size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  return codepage::Utf8ToWide(bytes);
}
