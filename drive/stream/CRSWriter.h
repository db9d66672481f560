// One upload connection to a stream server: create, write pieces at offsets, close.
#pragma once

#include <cstdint>
#include <string>

#include "drive/wire/CRSSocket.h"

class CRSWriter {
 public:
  void setServer(const std::string& host, const std::string& port);

  // "ok" or an error word. A writer that is already created answers "ok" at once.
  std::string create(const std::string& field1, const std::string& field2);

  // How many writes may be on their way before the oldest reply is awaited (the server
  // answers in order). 1, the default, awaits each write's reply before returning.
  void setWindow(int window) { window_ = window < 1 ? 1 : window; }

  // 0 on success; -1 not created; -2 request or data not sent whole; -3 error reply (its
  // word is kept as lastError()). With a window above 1 a refused write is reported by a
  // later write or by close; after any failure every write fails.
  int write(int64_t offset, int32_t size, const uint8_t* data);

  // Awaits the replies of the writes still on their way, then "tw_close": the stored size
  // from the server; 0 when not created, when a write failed (nothing is closed then, so the
  // server drops the upload) or the reply carried none. The connection is closed in every
  // case; closeStatus() then tells "ok" (the server took the upload) from an error word.
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
  bool failed_ = false;  // a write failed: the upload must not be closed
  int window_ = 1;
  int outstanding_ = 0;  // writes sent whose replies are not read yet

  // Reads the oldest outstanding write reply: 0, or -3 with lastError_ set.
  int awaitReply();
};
