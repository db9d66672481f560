#include "drive/storage/ReplyReading.h"

#include "drive/replies/ChunkedText.h"
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

StreamedReply::Status ReadStreamedInto(WebClient& client, const std::function<bool()>& running,
                                       const std::function<void(std::string_view)>& consume) {
  char buffer[kReplyBufferBytes];
  while (true) {
    if (running && !running()) return StreamedReply::Status::kStopped;
    int count = client.read(buffer, sizeof buffer);
    if (count < 0) return StreamedReply::Status::kFailed;
    if (count == 0) return StreamedReply::Status::kComplete;
    consume(std::string_view(buffer, static_cast<size_t>(count)));
  }
}

StreamedReply ReadStreamed(WebClient& client, const std::function<bool()>& running) {
  // The bytes are kept whole and converted by the caller, so that a character split across
  // two reads is not broken.
  StreamedReply reply;
  reply.status =
      ReadStreamedInto(client, running, [&](std::string_view bytes) { reply.bytes.append(bytes); });
  // A stopped read hands over nothing.
  if (reply.status == StreamedReply::Status::kStopped) reply.bytes.clear();
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
