// Framing and field rules of the stream protocol, free of any socket so that they can be
// checked on their own.
//
// Request frame: "file", the text length (big-endian 32 bits), the text; at most 1024 bytes.
// Reply frame: 4 ignored bytes, the text length H (big-endian), H bytes of comma-separated
// text, then raw data for the replies that carry it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace streamwire {

using Fields = std::vector<std::string>;

constexpr int32_t kFrameArea = 1024;
constexpr int32_t kHeaderSize = 8;
constexpr int32_t kMaxRequestText = kFrameArea - kHeaderSize;    // 1016
constexpr int32_t kMaxReplyText = kFrameArea - kHeaderSize - 1;  // 1015, text stays terminated
constexpr int32_t kMaxChunk = 65536;  // data of one "t1_read" reply, and the head

// Client status words that take the place of a server reply.
inline constexpr const char* kArgumentNotCorrect = "argument_not_correct";
inline constexpr const char* kConnectFailed = "connect_failed";
inline constexpr const char* kSocketError = "socket_error";
inline constexpr const char* kTimeout = "timeout";
inline constexpr const char* kSocketClose = "socket_close";
inline constexpr const char* kDataError = "data_error";
inline constexpr const char* kDataIsNull = "data is null";

// True for the words above, which the client reports in place of a server reply.
bool IsClientWord(const std::string& word);

// The whole frame for `text`, or an empty string when the text does not fit one frame.
std::string BuildRequestFrame(std::string_view text);

// The reply text length from an 8-byte header, or -1 when it is 0 or over kMaxReplyText.
int32_t ReplyTextLength(const uint8_t* header);

// Splits at commas the way the C tokenizer does: runs of commas are one separator and empty
// fields disappear ("ok,,5" gives "ok" and "5").
Fields SplitFields(std::string_view text);

bool IsOk(const Fields& fields);

// The word a failed reply reports: the second field when there are two or more, else the
// first; an empty list gives "data is null".
std::string ErrorWord(const Fields& fields);

// A 64-bit value read as a floating number (leading number, else 0). Values that are not
// finite or do not fit 64 bits give false.
bool ParseWide(const std::string& field, int64_t* value);
// A 32-bit value read as an integer (leading digits, else 0); out of range gives false.
bool ParseNarrow(const std::string& field, int32_t* value);

struct OpenReply {
  std::string streamId;
  int64_t fileLength = 0;
  std::string ext;
  int32_t headSize = 0;
};
// A successful "t1_open" reply: "ok", stream id, file length, ext, head size, with a head
// of 0..kMaxChunk bytes.
bool ParseOpenReply(const Fields& fields, OpenReply* reply);

struct DataReply {
  int64_t offset = 0;
  int32_t size = 0;
};
// A successful "t_read"/"t1_read" reply: exactly "ok", offset, dsize, with offset >= 0 and
// dsize in 0..capacity.
bool ParseDataReply(const Fields& fields, int32_t capacity, DataReply* reply);

}  // namespace streamwire
