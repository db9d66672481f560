// The three ways a reply body is read from a web client.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class WebClient;

// Size of the single buffer (firstkey, login) and of one link read (readdist, writedist).
constexpr size_t kReplyBufferBytes = 1024;

// Single buffer: at most 1024 bytes, read until the end, a failure or a full buffer; bytes
// beyond 1024 are not read. The bytes are taken in the ANSI code page.
std::u16string ReadSingleBuffer(WebClient& client);

struct StreamedReply {
  enum class Status { kComplete, kFailed, kStopped };
  Status status = Status::kComplete;
  std::string bytes;  // what arrived, also when the transfer failed part way

  // The bytes taken in the ANSI code page.
  std::u16string text() const;
};

// Streamed: the whole body in reads of up to 1024 bytes while `running` holds, taken in the
// ANSI code page. kStopped when `running` turned false before the end; kFailed when the
// transfer broke off, so that a cut reply is never taken for a whole one.
StreamedReply ReadStreamed(WebClient& client, const std::function<bool()>& running);

// The same, each read handed to `consume` as it arrives instead of being kept.
StreamedReply::Status ReadStreamedInto(WebClient& client, const std::function<bool()>& running,
                                       const std::function<void(std::string_view)>& consume);

// Link: one read of up to 1024 bytes, taken as UTF-8 up to the first zero byte. No value when
// the read failed or delivered nothing.
std::optional<std::u16string> ReadLink(WebClient& client);
