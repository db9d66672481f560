// One upload connection to a stream server: create, write pieces at offsets, close.
#pragma once

#include <cstdint>
#include <string>

#include "drive/stream/CRSSocket.h"

class CRSWriter {
 public:
  void setServer(const std::string& host, const std::string& port);

  // "ok" or an error word. A writer that is already created answers "ok" at once.
  std::string create(const std::string& field1, const std::string& field2);

  // 0 on success; -1 not created; -2 request or data not sent whole; -3 error reply (its
  // word is kept as lastError()).
  int write(int64_t offset, int32_t size, const uint8_t* data);

  // The stored size from the server; 0 when not created or the reply carried none. The
  // connection is closed in every case; closeStatus() then tells "ok" (the server took the
  // upload) from an error word.
  int64_t close();
  const std::string& closeStatus() const { return closeStatus_; }

  // Closes the connection without "tw_close": the server drops the unfinished upload and
  // keeps what it held before.
  void abandon();

  bool created() const { return created_; }
  const std::string& lastError() const { return lastError_; }
  const std::string& writeId() const { return writeId_; }

 private:
  CRSSocket socket_;
  Mutex sendLock_;
  std::string host_;
  std::string port_;
  std::string createField1_;
  std::string createField2_;
  std::string writeId_;
  std::string lastError_;
  std::string closeStatus_;
  bool created_ = false;
};
