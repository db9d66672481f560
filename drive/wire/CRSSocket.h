// One TCP connection to a stream server, carrying framed requests and replies.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "drive/wire/ReplyFrame.h"
#include "platform/sync/Mutex.h"

class CRSSocket {
 public:
  CRSSocket();
  virtual ~CRSSocket();
  CRSSocket(const CRSSocket&) = delete;
  CRSSocket& operator=(const CRSSocket&) = delete;

  static constexpr int kConnectLimitMs = 10000;

  // Connects to host:port; the host is a name or a dotted IPv4 address. A connect that is not
  // answered within `limitMs` fails, as does one under way when `stop` becomes set (checked
  // every 500 ms). 0 on success, -1 on failure (no socket is kept then).
  int connect(const std::string& host, int port, int limitMs = kConnectLimitMs,
              const std::atomic<bool>* stop = nullptr);
  int connect(const std::string& host, const std::string& port);

  // Takes over an already connected descriptor (closing any previous one).
  void attach(int fd);
  // Gives up the descriptor without closing it (-1 when there is none).
  int detach();

  // Sends the framed request in one piece under `sendLock`. Returns the bytes sent (compare
  // with text length + 8), or -1 without a socket or for a text too long for one frame.
  int sendRequest(std::string_view text, Mutex& sendLock);
  // Sends raw bytes that follow a request frame. Returns the bytes sent or -1.
  int sendRaw(const uint8_t* bytes, int32_t n);

  // Waits for a reply (in 500 ms steps up to `timeoutMs`) and reads its header and text.
  // Returns the reply's fields, or one client status word. With `stop` given, the flag is
  // checked before and between the steps and a set flag returns an empty list.
  streamwire::Fields receiveReply(int timeoutMs = 10000, const std::atomic<bool>* stop = nullptr);

  // Reads exactly n bytes: returns n, 0 when the peer closed, -1 on a socket error, without a
  // socket, or when the peer sent nothing for `idleLimitMs` (negative: no limit) or `stop`
  // became set.
  int receiveExact(uint8_t* buffer, int32_t n, int idleLimitMs = -1,
                   const std::atomic<bool>* stop = nullptr);

  void close();
  bool isOpen() const { return fd_.load() >= 0; }
  // Wakes a thread waiting for a reply on this connection (its receive then sees the stop
  // flag, or the end of the connection); sending stays possible.
  void interrupt();

  // The reply text of the latest receiveReply() (logged by the data replies).
  const std::string& lastText() const { return lastText_; }

 private:
  // Connects the non-blocking descriptor `fd`: true when connected in time.
  bool connectWithin(int fd, int limitMs, const std::atomic<bool>* stop);
  // 1 readable, 0 nothing within the step, -1 wait failed.
  int waitReadable(int stepMs);
  // Whether bytes wait to be read, taking what is waiting into the staging area; false when
  // nothing waits or the receive failed (the wait that follows tells which).
  bool bytesWaiting();
  // Moves up to n staged bytes to `buffer`; the count moved.
  int32_t takeStaged(uint8_t* buffer, int32_t n);
  void dropStaged() { stagedStart_ = stagedEnd_ = 0; }

  // Held while the descriptor is set, closed or interrupted, so that interrupt() never reaches
  // a descriptor number that was closed and given to another connection.
  Mutex fdLock_;
  std::atomic<int> fd_{-1};
  sockaddr_in localAddress_{};
  sockaddr_in remoteAddress_{};
  std::string lastText_;  // used by the one thread that reads replies
  // Small pieces (a reply's header and text) are received a frame's worth at a time: one
  // receive then takes the header, the text and the first data bytes, which wait here for
  // the next read. Used by the one thread that reads replies, like lastText_.
  uint8_t staged_[streamwire::kFrameArea];
  int32_t stagedStart_ = 0;
  int32_t stagedEnd_ = 0;
};
