// The mirror's own web client and the session that signs its requests. Login ("firstkey",
// then "login") hands out the session; the tree reads and the name operations send on this
// client one request at a time. Reads and uploads take the session and use clients of their
// own.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "drive/replies/WebRequest.h"
#include "drive/storage/ReplyReading.h"
#include "drive/storage/WebClient.h"
#include "platform/sync/Mutex.h"

class MirrorConfig;
class MirrorLog;
struct MirrorOptions;
struct StorageProcess;

class MirrorWebSession {
 public:
  MirrorWebSession(StorageProcess& shared, const MirrorOptions& options,
                   const std::atomic<MirrorConfig*>& config);
  MirrorWebSession(const MirrorWebSession&) = delete;
  MirrorWebSession& operator=(const MirrorWebSession&) = delete;

  // The lock that serialises the requests on the client (the web lock).
  Mutex& lock() RETURN_CAPABILITY(webLock_) { return webLock_; }

  // "firstkey" and "login" for the user: 0 with the session in place, else the failed step's
  // code (-2 to -6) after its log line.
  int logIn(const std::u16string& userName, const std::u16string& password, MirrorLog& log)
      EXCLUDES(webLock_, sessionLock_);

  // Sends `request` to the configured server: WebClient::kOk or the client's failure.
  int send(const FormedRequest& request) REQUIRES(webLock_);
  StreamedReply readStreamedReply() REQUIRES(webLock_);
  StreamedReply::Status readStreamedReplyInto(const std::function<void(std::string_view)>& consume)
      REQUIRES(webLock_);

  WebSession session() EXCLUDES(sessionLock_);
  void close() EXCLUDES(webLock_);

 private:
  StorageProcess& shared_;
  const MirrorOptions& options_;
  const std::atomic<MirrorConfig*>& config_;

  Mutex webLock_;
  WebClient web_ GUARDED_BY(webLock_);
  // A lock of its own, so that opening a file does not wait for a tree read, which holds the
  // web lock for its whole transfer. Taken after the web lock when both are held.
  Mutex sessionLock_ ACQUIRED_AFTER(webLock_);
  WebSession session_ GUARDED_BY(sessionLock_);
};
