#include "drive/stream/CRSWriter.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

using namespace streamwire;

namespace {
constexpr int kReplyLimitMs = 10000;
}

void CRSWriter::setServer(const std::string& host, const std::string& port) {
  host_ = host;
  port_ = port;
}

std::string CRSWriter::create(const std::string& field1, const std::string& field2) {
  createField1_ = field1;
  createField2_ = field2;
  if (created_) return "ok";
  if (host_.empty() || port_.empty() || field1.empty() || field2.empty()) {
    return kArgumentNotCorrect;
  }
  std::string request = "tw_create," + field1 + "," + field2;
  if (request.size() > static_cast<size_t>(kMaxRequestText)) return kArgumentNotCorrect;
  if (socket_.connect(host_, port_) != 0) return kConnectFailed;
  if (socket_.sendRequest(request, sendLock_) != static_cast<int>(request.size()) + kHeaderSize) {
    return kSocketError;
  }
  Fields reply = socket_.receiveReply(kReplyLimitMs);
  if (!IsOk(reply)) return ErrorWord(reply);
  if (reply.size() < 3) return kDataError;  // "ok" without the write id and number
  writeId_ = reply[1];
  created_ = true;
  return "ok";
}

int CRSWriter::write(int64_t offset, int32_t size, const uint8_t* data) {
  if (!created_) return -1;
  if (failed_) return -3;
  if (size < 0) return -2;
  char request[128];
  int length = std::snprintf(request, sizeof request, "tw_write,%s,%" PRId64 ",%ld",
                             writeId_.c_str(), offset, static_cast<long>(size));
  if (length < 0 || length >= static_cast<int>(sizeof request)) return -2;  // id too long
  if (socket_.sendRequest(request, sendLock_) != length + kHeaderSize ||
      (size > 0 && socket_.sendRaw(data, size) != size)) {
    failed_ = true;
    lastError_ = kSocketError;
    return -2;
  }
  ++outstanding_;
  while (outstanding_ >= window_) {
    if (awaitReply() != 0) return -3;
  }
  return 0;
}

int CRSWriter::awaitReply() {
  --outstanding_;
  Fields reply = socket_.receiveReply(kReplyLimitMs);
  if (IsOk(reply)) return 0;
  lastError_ = ErrorWord(reply);
  failed_ = true;
  return -3;
}

int64_t CRSWriter::close() {
  int64_t stored = 0;
  closeStatus_ = "not_created";
  while (created_ && !failed_ && outstanding_ > 0) awaitReply();
  if (created_ && failed_) {
    closeStatus_ = lastError_;
    created_ = false;
  } else if (created_) {
    closeStatus_ = kSocketError;
    char request[100];
    int length = std::snprintf(request, sizeof request, "tw_close,%s", writeId_.c_str());
    if (length > 0 && length < static_cast<int>(sizeof request) &&
        socket_.sendRequest(request, sendLock_) == length + kHeaderSize) {
      Fields reply = socket_.receiveReply(kReplyLimitMs);
      closeStatus_ = IsOk(reply) ? std::string(kDataError) : ErrorWord(reply);
      if (IsOk(reply) && reply.size() >= 3) {
        errno = 0;
        long long value = std::strtoll(reply[2].c_str(), nullptr, 10);
        if (errno != ERANGE) {
          stored = value;
          closeStatus_ = "ok";
        }
      }
    }
    created_ = false;
  }
  failed_ = false;
  outstanding_ = 0;
  socket_.close();
  return stored;
}

void CRSWriter::abandon() {
  created_ = false;
  failed_ = false;
  outstanding_ = 0;
  socket_.close();
}
