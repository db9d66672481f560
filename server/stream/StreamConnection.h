// One client connection of the stream server: reads request frames, answers them, and
// keeps the streams and uploads that belong to the connection.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/faults/FaultControl.h"
#include "server/state/Storage.h"
#include "server/stream/OpenStreams.h"
#include "server/stream/StreamRequest.h"

namespace qserver {

struct StreamContext {
  Storage& storage;
  FaultControl& faults;
  OpenStreams& streams;
  const std::atomic<bool>& stopping;
  // The time a client has to send a whole request frame: from connecting for the first,
  // from its first byte for later ones.
  std::chrono::milliseconds requestTime;
};

class StreamConnection {
 public:
  StreamConnection(int socket, StreamContext context);
  ~StreamConnection();
  StreamConnection(const StreamConnection&) = delete;
  StreamConnection& operator=(const StreamConnection&) = delete;

  // Serves requests until the client leaves, a frame is malformed, a request does not
  // arrive in time or the server stops.
  void serve();

 private:
  struct Upload {
    std::shared_ptr<UserTree> tree;
    std::string fileId;
    std::string tempPath;
    int fd = -1;
    long long quotaBytes = 0;
    long long usedOthers = 0;  // the user's bytes outside this file when the upload began
    long long extent = 0;      // end of the data written so far
  };

  // The next request frame's text into `text`; nullopt when the connection must close.
  std::optional<std::string_view> receiveFrame(std::vector<char>& text,
                                               std::chrono::steady_clock::time_point deadline);
  // Each returns false when the connection must close.
  bool handle(const StreamRequest& request);
  bool openStream(const StreamRequest& request);
  bool readStream(const StreamRequest& request);
  bool createUpload(const StreamRequest& request);
  bool writeUpload(const StreamRequest& request);
  bool closeUpload(const StreamRequest& request);

  // Sends one reply frame followed by `length` bytes of `file` from `offset`.
  bool reply(const std::string& text, int file = -1, long long offset = 0, long long length = 0);
  bool sendAll(const char* data, size_t size, int flags);
  bool sendFileRange(int file, long long offset, long long length);
  bool receiveExact(void* buffer, size_t size);
  bool receiveBefore(void* buffer, size_t size, std::chrono::steady_clock::time_point deadline);
  bool discard(long long size);
  void pause(int milliseconds);
  void dropUpload(Upload& upload);

  int socket_;
  StreamContext context_;
  FaultSettings faults_;      // settings for the request being answered
  long long replyBytes_ = 0;  // reply bytes sent on this connection
  std::map<std::string, std::shared_ptr<OpenFile>> held_;  // streams used on this connection
  std::map<std::string, Upload> uploads_;                  // by write id
};

}  // namespace qserver
