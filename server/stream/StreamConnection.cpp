#include "server/stream/StreamConnection.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "server/util/Digest.h"
#include "server/util/Log.h"
#include "server/util/SocketWait.h"

namespace qserver {
namespace {

constexpr long long kHeadSize = 65536;
constexpr long long kMaxReplyData = 65536;  // t1_read answers in pieces of this size at most
constexpr long long kMaxWritePayload = 64LL << 20;
constexpr size_t kCopyChunk = 256 * 1024;
// A connection that sends nothing between requests for this long is dropped, and so is a
// write payload that stalls for this long.
constexpr auto kIdleTime = std::chrono::seconds(900);

std::string ExtensionOf(const std::string& path) {
  auto slash = path.rfind('/');
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return "none";
  std::string ext = name.substr(dot + 1, 64);
  for (char& c : ext) {
    if (c == ',' || c == '\n' || c == '\r' || c == '\0') c = '_';
  }
  return ext;
}

long long FileLength(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

}  // namespace

StreamConnection::StreamConnection(int socket, StreamContext context)
    : socket_(socket), context_(context) {}

StreamConnection::~StreamConnection() {
  for (auto& [id, upload] : uploads_) dropUpload(upload);
}

void StreamConnection::serve() {
  timeval stall{kIdleTime.count(), 0};  // bounds each receive of a write payload
  ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall);
  std::vector<char> text(kMaxRequestText);
  // A new connection must send its first request quickly; a connection between requests
  // may idle for long, but each request must then arrive as quickly once it begins.
  auto deadline = SteadyClock::now() + context_.requestTime;
  for (bool first = true; !context_.stopping; first = false) {
    if (!first) {
      if (!WaitReadable(socket_, SteadyClock::now() + kIdleTime)) return;
      deadline = SteadyClock::now() + context_.requestTime;
    }
    auto body = receiveFrame(text, deadline);
    if (!body) return;
    auto request = ParseStreamRequest(*body);
    if (!request) {
      LogLine("stream: unknown request, closing the connection");
      return;
    }
    LogLine("stream " + std::string(body->substr(0, 120)));
    faults_ = context_.faults.current();
    if (!handle(*request)) return;
  }
}

std::optional<std::string_view> StreamConnection::receiveFrame(std::vector<char>& text,
                                                               SteadyClock::time_point deadline) {
  unsigned char header[kFrameHeaderSize];
  if (!receiveBefore(header, sizeof header, deadline)) return std::nullopt;
  auto length = ParseFrameHeader(header);
  if (!length) {
    LogLine("stream: malformed frame, closing the connection");
    return std::nullopt;
  }
  if (!receiveBefore(text.data(), *length, deadline)) return std::nullopt;
  return std::string_view(text.data(), *length);
}

bool StreamConnection::handle(const StreamRequest& request) {
  if (request.kind == RequestKind::kTwWrite && !request.error.empty()) {
    // The payload's length is unknown, so the connection cannot continue.
    reply("err," + request.error);
    return false;
  }
  bool silent = faults_.silent.count(request.name) > 0;
  auto injected = faults_.streamErrors.find(request.name);
  if (silent || injected != faults_.streamErrors.end()) {
    if (request.kind == RequestKind::kTwWrite && !discard(request.size)) return false;
    if (silent) return true;
    return reply("err," + injected->second);
  }
  if (!request.error.empty()) return reply("err," + request.error);
  switch (request.kind) {
    case RequestKind::kT1Open:
    case RequestKind::kTOpen:
      return openStream(request);
    case RequestKind::kTRead:
    case RequestKind::kT1Read:
      return readStream(request);
    case RequestKind::kTClose:
      held_.erase(request.first);  // no reply
      return true;
    case RequestKind::kTwCreate:
      return createUpload(request);
    case RequestKind::kTwWrite:
      return writeUpload(request);
    case RequestKind::kTwClose:
      return closeUpload(request);
  }
  return false;
}

bool StreamConnection::openStream(const StreamRequest& request) {
  auto target = context_.storage.checkTicket(request.first);
  auto tree = target ? context_.storage.tree(target->account.name) : nullptr;
  auto path = tree ? tree->readablePath(target->fileId) : std::nullopt;
  int fd = path ? ::open(path->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
  if (fd < 0) return reply("err,token");
  auto file = std::make_shared<OpenFile>(fd);
  std::string streamId = context_.streams.add(file);
  held_[streamId] = file;
  if (request.kind == RequestKind::kTOpen) return reply("ok," + streamId);
  long long length = FileLength(fd);
  long long head = std::min(length, kHeadSize);
  return reply("ok," + streamId + "," + std::to_string(length) + "," + ExtensionOf(*path) + "," +
                   std::to_string(head),
               fd, 0, head);
}

bool StreamConnection::readStream(const StreamRequest& request) {
  auto file = context_.streams.find(request.first);
  if (!file) return reply("err,stream");
  held_[request.first] = file;
  long long length = FileLength(file->fd());
  long long end = std::min(length, request.offset + request.size);
  if (request.kind == RequestKind::kTRead || request.offset >= end) {
    long long size = std::max(0LL, end - request.offset);
    return reply("ok," + std::to_string(request.offset) + "," + std::to_string(size), file->fd(),
                 request.offset, size);
  }
  for (long long offset = request.offset; offset < end; offset += kMaxReplyData) {
    long long size = std::min(kMaxReplyData, end - offset);
    if (!reply("ok," + std::to_string(offset) + "," + std::to_string(size), file->fd(), offset,
               size)) {
      return false;
    }
  }
  return true;
}

bool StreamConnection::createUpload(const StreamRequest& request) {
  auto session = context_.storage.sessions().find(request.first, SessionKind::kWeb);
  auto tree = session ? context_.storage.tree(session->user) : nullptr;
  auto account = session ? context_.storage.accounts().byName(session->user) : std::nullopt;
  if (!tree || !account || !tree->isUploadTarget(request.second)) return reply("err,token");
  Upload upload;
  upload.tree = tree;
  upload.fileId = request.second;
  upload.quotaBytes = account->quotaGiB * (1LL << 30);
  upload.usedOthers = tree->usedBytes();
  if (auto current = tree->readablePath(request.second)) {
    struct stat st {};
    if (::stat(current->c_str(), &st) == 0) upload.usedOthers -= st.st_size;
  }
  std::string writeId = RandomHex(8);
  upload.tempPath = context_.storage.uploadFolder() + "/" + writeId + ".part";
  upload.fd = ::open(upload.tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (upload.fd < 0) return reply("err,quota");
  uploads_[writeId] = upload;
  return reply("ok," + writeId + ",0");
}

bool StreamConnection::writeUpload(const StreamRequest& request) {
  if (request.size > kMaxWritePayload) {
    reply("err,range");
    return false;
  }
  auto found = uploads_.find(request.first);
  if (found == uploads_.end()) return discard(request.size) && reply("err,stream");
  Upload& upload = found->second;
  long long extent = std::max(upload.extent, request.offset + request.size);
  if (upload.usedOthers + extent > upload.quotaBytes) {
    return discard(request.size) && reply("err,quota");
  }
  std::vector<char> buffer(std::min<long long>(request.size, kCopyChunk));
  long long done = 0;
  bool written = true;
  while (done < request.size) {
    size_t piece = static_cast<size_t>(std::min<long long>(request.size - done, kCopyChunk));
    if (!receiveExact(buffer.data(), piece)) return false;
    if (written &&
        ::pwrite(upload.fd, buffer.data(), piece, static_cast<off_t>(request.offset + done)) !=
            static_cast<ssize_t>(piece)) {
      written = false;
    }
    done += static_cast<long long>(piece);
  }
  if (!written) return reply("err,quota");
  upload.extent = extent;
  return reply("ok");
}

bool StreamConnection::closeUpload(const StreamRequest& request) {
  auto found = uploads_.find(request.first);
  if (found == uploads_.end()) return reply("err,stream");
  Upload upload = found->second;
  uploads_.erase(found);
  bool synced = ::fsync(upload.fd) == 0;
  ::close(upload.fd);
  upload.fd = -1;
  long long size = synced ? upload.tree->commitUpload(upload.fileId, upload.tempPath) : -1;
  if (size < 0) {
    dropUpload(upload);
    return reply("err,token");
  }
  return reply("ok," + request.first + "," + std::to_string(size));
}

void StreamConnection::dropUpload(Upload& upload) {
  if (upload.fd >= 0) ::close(upload.fd);
  upload.fd = -1;
  ::unlink(upload.tempPath.c_str());
}

bool StreamConnection::reply(const std::string& text, int file, long long offset,
                             long long length) {
  if (faults_.delayMs > 0) pause(faults_.delayMs);
  std::string frame = "file";
  uint32_t size = static_cast<uint32_t>(text.size());
  frame.push_back(static_cast<char>(size >> 24));
  frame.push_back(static_cast<char>(size >> 16));
  frame.push_back(static_cast<char>(size >> 8));
  frame.push_back(static_cast<char>(size));
  frame += text;
  long long total = static_cast<long long>(frame.size()) + length;
  if (faults_.dropAfterBytes >= 0 && replyBytes_ + total > faults_.dropAfterBytes) {
    // Send what the budget allows, then drop the connection.
    long long budget = std::max(0LL, faults_.dropAfterBytes - replyBytes_);
    long long framePart = std::min<long long>(budget, static_cast<long long>(frame.size()));
    sendAll(frame.data(), static_cast<size_t>(framePart), 0);
    if (budget > framePart && file >= 0) sendFileRange(file, offset, budget - framePart);
    replyBytes_ += budget;
    LogLine("stream: dropping the connection after " + std::to_string(replyBytes_) + " bytes");
    return false;
  }
  replyBytes_ += total;
  if (!sendAll(frame.data(), frame.size(), length > 0 ? MSG_MORE : 0)) return false;
  return length <= 0 || sendFileRange(file, offset, length);
}

bool StreamConnection::sendAll(const char* data, size_t size, int flags) {
  while (size > 0) {
    ssize_t n = ::send(socket_, data, size, flags | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool StreamConnection::sendFileRange(int file, long long offset, long long length) {
  off_t position = static_cast<off_t>(offset);
  while (length > 0) {
    ssize_t n = ::sendfile(socket_, file, &position, static_cast<size_t>(length));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The file shrank under us: the announced length must still arrive, so end the
      // connection rather than send a short reply the client would misread.
      return false;
    }
    length -= n;
  }
  return true;
}

bool StreamConnection::receiveExact(void* buffer, size_t size) {
  char* out = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t n = ::recv(socket_, out, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool StreamConnection::receiveBefore(void* buffer, size_t size, SteadyClock::time_point deadline) {
  char* out = static_cast<char*>(buffer);
  while (size > 0) {
    if (!WaitReadable(socket_, deadline)) {
      LogLine("stream: no whole request in time, closing the connection");
      return false;
    }
    ssize_t n = ::recv(socket_, out, size, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool StreamConnection::discard(long long size) {
  std::vector<char> buffer(static_cast<size_t>(std::min<long long>(size, kCopyChunk)));
  while (size > 0) {
    size_t piece = static_cast<size_t>(std::min<long long>(size, kCopyChunk));
    if (!receiveExact(buffer.data(), piece)) return false;
    size -= static_cast<long long>(piece);
  }
  return true;
}

void StreamConnection::pause(int milliseconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!context_.stopping && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace qserver
