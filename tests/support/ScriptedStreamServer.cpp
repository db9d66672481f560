#include "tests/support/ScriptedStreamServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "drive/wire/ReplyFrame.h"

namespace {

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool ReadAll(int fd, char* data, size_t size) {
  while (size > 0) {
    ssize_t got = ::recv(fd, data, size, 0);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

std::string Header(uint32_t length) {
  std::string header = "rply";
  header.push_back(static_cast<char>(length >> 24));
  header.push_back(static_cast<char>(length >> 16));
  header.push_back(static_cast<char>(length >> 8));
  header.push_back(static_cast<char>(length));
  return header;
}

}  // namespace

bool ScriptedConnection::replyRaw(uint32_t length, const std::string& bytes) {
  return sendBytes(Header(length) + bytes);
}

std::string ScriptedConnection::Frame(const std::string& text, const std::string& data) {
  return Header(static_cast<uint32_t>(text.size())) + text + data;
}

bool ScriptedConnection::reply(const std::string& text, const std::string& data) {
  return sendBytes(Frame(text, data));
}

bool ScriptedConnection::sendBytes(const std::string& bytes) {
  bytesSent_ += bytes.size();
  return SendAll(fd_, bytes.data(), bytes.size());
}

bool ScriptedConnection::readBytes(std::string* out, size_t n) {
  out->assign(n, '\0');
  return ReadAll(fd_, out->data(), n);
}

ScriptedStreamServer::ScriptedStreamServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listenFd_, 64);
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread(&ScriptedStreamServer::acceptLoop, this);
}

ScriptedStreamServer::~ScriptedStreamServer() { stop(); }

void ScriptedStreamServer::stop() {
  if (stopping_.exchange(true)) return;
  acceptThread_.join();
  ::close(listenFd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(connectionThreads_);
  }
  for (std::thread& thread : threads) thread.join();
}

void ScriptedStreamServer::acceptLoop() {
  while (!stopping_) {
    pollfd entry{listenFd_, POLLIN, 0};
    if (::poll(&entry, 1, 50) <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard<std::mutex> guard(lock_);
    openFds_.push_back(fd);
    connectionThreads_.emplace_back(&ScriptedStreamServer::serve, this, fd);
  }
}

void ScriptedStreamServer::serve(int fd) {
  ScriptedConnection connection(fd);
  for (;;) {
    char header[8];
    if (!ReadAll(fd, header, sizeof header)) break;
    uint32_t length = (uint32_t{static_cast<uint8_t>(header[4])} << 24) |
                      (uint32_t{static_cast<uint8_t>(header[5])} << 16) |
                      (uint32_t{static_cast<uint8_t>(header[6])} << 8) |
                      uint32_t{static_cast<uint8_t>(header[7])};
    if (std::memcmp(header, "file", 4) != 0 || length > 1016) break;
    std::string text(length, '\0');
    if (!ReadAll(fd, text.data(), length)) break;
    {
      std::lock_guard<std::mutex> guard(lock_);
      requests_.push_back(text);
      frameLengths_.push_back(length);
    }
    handler_(connection, text);
    if (connection.hungUp()) break;
  }
  std::lock_guard<std::mutex> guard(lock_);
  // The descriptor is closed here, by its own thread, and forgotten before any reuse.
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  ::close(fd);
}

std::vector<std::string> ScriptedStreamServer::requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

int ScriptedStreamServer::count(const std::string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::string prefix = name + ",";
  return static_cast<int>(std::count_if(requests_.begin(), requests_.end(), [&](const auto& r) {
    return r.compare(0, prefix.size(), prefix) == 0;
  }));
}

std::vector<uint32_t> ScriptedStreamServer::frameLengths() const {
  std::lock_guard<std::mutex> guard(lock_);
  return frameLengths_;
}

FileStreamService::FileStreamService(std::string content, std::string token1, std::string token2,
                                     std::string ext)
    : content_(std::move(content)),
      token1_(std::move(token1)),
      token2_(std::move(token2)),
      ext_(std::move(ext)) {}

void FileStreamService::operator()(ScriptedConnection& connection, const std::string& request) {
  while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a stalled link
  if (refuseAll) return connection.hangUp();
  std::vector<std::string> fields = streamwire::SplitFields(request);
  if (fields.empty()) return connection.hangUp();
  const std::string& name = fields[0];
  if (name == "t1_open" && hangUpOpens > 0) {
    --hangUpOpens;
    return connection.hangUp();
  }
  if (name == "t1_open" || name == "t_open") return open(connection, fields);
  if (name == "t_close") return;
  if ((name == "t_read" || name == "t1_read") && fields.size() == 4) {
    if (name == "t1_read" && silentFetch) return;
    int64_t offset = std::atoll(fields[2].c_str());
    int64_t size = std::atoll(fields[3].c_str());
    if (name == "t_read") {
      size = std::max<int64_t>(0, std::min<int64_t>(size, content_.size() - offset));
      return sendData(connection, offset, size, static_cast<int>(std::max<int64_t>(size, 1)));
    }
    size = std::max<int64_t>(0, std::min<int64_t>(size, content_.size() - offset));
    return sendData(connection, offset, size, fetchChunk);
  }
  connection.reply("err,request");
}

void FileStreamService::open(ScriptedConnection& connection,
                             const std::vector<std::string>& fields) {
  bool master = fields[0] == "t1_open";
  if (!master && silentSlaveOpen) return;
  if (!master && failSlaveOpen) return (void)connection.reply("err,token");
  if (fields.size() != 3 || fields[1] != token1_ || fields[2] != token2_) {
    connection.reply("err,token");
    return;
  }
  std::string id = std::to_string(nextStream_++);
  if (!master) return (void)connection.reply("ok," + id);
  size_t head = std::min<size_t>(65536, content_.size());
  connection.reply(
      "ok," + id + "," + std::to_string(content_.size()) + "," + ext_ + "," + std::to_string(head),
      content_.substr(0, head));
}

void FileStreamService::sendData(ScriptedConnection& connection, int64_t offset, int64_t size,
                                 int chunk) {
  do {
    int64_t piece = std::min<int64_t>(size, chunk);
    std::string text = "ok," + std::to_string(offset) + "," + std::to_string(piece);
    std::string bytes = content_.substr(offset, piece);
    uint64_t limit = dropAfterBytes;
    uint64_t frameSize = 8 + text.size() + bytes.size();
    if (limit > 0 && connection.bytesSent() + frameSize > limit) {
      // Send what fits under the limit, then drop the connection mid-reply.
      std::string whole = "rply";
      uint32_t length = static_cast<uint32_t>(text.size());
      for (int shift = 24; shift >= 0; shift -= 8)
        whole.push_back(static_cast<char>(length >> shift));
      whole += text + bytes;
      uint64_t sent = connection.bytesSent();
      if (sent < limit) connection.sendBytes(whole.substr(0, limit - sent));
      connection.hangUp();
      return;
    }
    connection.reply(text, bytes);
    offset += piece;
    size -= piece;
  } while (size > 0);
}
