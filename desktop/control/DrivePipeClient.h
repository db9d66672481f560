// The desktop program's side of the control pipe: asks the drive program for its state and
// drive letter, requests refreshes and stops, and performs folder operations on remote
// entries. Each party (the drive watcher, the page, each upload worker) has a connection of
// its own, so a transfer that fails or waits too long closes only that party's connection.
// A mutex still makes each open, close and transfer whole. The pipe is opened on first use
// and dropped at the first failed transfer; the next operation opens it again.
//
// Texts are UTF-8 here and travel in the local 8-bit code page. A request whose texts do not
// fit one record is not sent: such an operation answers -1 (or an empty text).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/pipe/PipeMessage.h"
#include "platform/sync/Mutex.h"

class DrivePipeClient {
 public:
  // Result of an operation whose transfer failed (the pipe is closed again).
  static constexpr int kBroken = pipe_result::kBroken;
  // Result of openPipe when no drive program listens.
  static constexpr int kUnreachable = pipe_result::kUnreachable;

  // Longest wait for a reply. Commands that reach the storage service (folder operations)
  // take one or a few web requests; a drive program that does not answer within this time
  // is treated as a broken pipe.
  static constexpr std::chrono::milliseconds kReplyLimit{30000};

  // Receives, once per new reason, why a pipe found at the path was not talked to.
  using RefusalNote = std::function<void(const std::string&)>;

  // At the default pipe path, or at `path` with its own reply limit.
  DrivePipeClient();
  explicit DrivePipeClient(std::string path, std::chrono::milliseconds replyLimit = kReplyLimit);
  ~DrivePipeClient();
  DrivePipeClient(const DrivePipeClient&) = delete;
  DrivePipeClient& operator=(const DrivePipeClient&) = delete;

  void setRefusalNote(RefusalNote note) EXCLUDES(lock_);

  const std::string& path() const { return path_; }

  // 0 when a pipe is open afterwards, -1 when it could not be opened or cannot be trusted
  // (its folder is not this user's private folder, or another user serves it).
  int openPipe() EXCLUDES(lock_);
  int closePipe() EXCLUDES(lock_);
  // True while a pipe is open (the drive program may have dropped it since).
  bool connected() EXCLUDES(lock_);
  // The process id of the drive program serving the pipe (opening it when needed); -1 when
  // none can be reached.
  int serverProcess() EXCLUDES(lock_);

  // 0, or -9 when the send failed.
  int requestRefresh();
  // The run drive letter; empty on failure.
  std::string runDriveLetter();
  // The drive program's state code; -9 on failure.
  int driveState();
  // Drive letter, colon and path of the entry; empty on failure or for an unknown key.
  std::string localPathOfKey(const std::string& key);
  // Number of children of the folder at `path`; -1 for an unknown path, -9 on failure.
  int childCount(const std::string& path);
  // Creates the folders of `path` below the entry `parentKey` ("" for the root). The new
  // folder's key is set only when the result is 0, else emptied.
  int makeFolders(const std::string& parentKey, const std::string& path, std::string* newKey);
  // Deletes the entry; its path is set only when the result is 0, else emptied.
  int deleteByKey(const std::string& key, std::string* path);
  int rename(const std::string& key, const std::string& newName);
  int deleteAtPath(const std::string& path);
  // Asks the drive program to unmount; no reply is awaited. 0, or -9 when the send failed.
  int stopDrive();

  // Writes `message` and, when `awaitReply`, reads the reply into it; opens the pipe first
  // when none is open, and again when the drive program dropped the open one while it was
  // idle. The reply's length, or -100 when there is no pipe or a transfer failed, including a
  // request not taken or a reply that did not come within the reply limit (the pipe is then
  // closed).
  int32_t transfer(PipeMessage& message, bool awaitReply) EXCLUDES(lock_);

 private:
  int openLocked() REQUIRES(lock_);
  void closeLocked() REQUIRES(lock_);
  // Exchanges a request and reads the reply's number; -9 on failure.
  int numberReply(PipeMessage& request);
  // The reply's text decoded; empty on failure.
  std::string textReply(PipeMessage& request);
  // For two-part replies: the number, and the second part when the number is 0.
  int twoPartReply(PipeMessage& request, std::string* second);

  const std::string path_;
  const std::chrono::milliseconds replyLimit_;
  Mutex lock_;
  int handle_ GUARDED_BY(lock_) = -1;
  RefusalNote refusalNote_ GUARDED_BY(lock_);
  std::string lastRefusal_ GUARDED_BY(lock_);
};
