#include "tests/support/LoopbackClients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>

namespace testclients {

int ConnectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  timeval limit{20, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

namespace {

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string Md5(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  char hex[3];
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    snprintf(hex, sizeof hex, "%02x", digest[i]);
    out += hex;
  }
  return out;
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Unbase64(const std::string& text) {
  if (text.empty()) return {};
  std::string out(text.size() / 4 * 3 + 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return {};
  size_t size = static_cast<size_t>(n);
  if (text.size() >= 1 && text.back() == '=') --size;
  if (text.size() >= 2 && text[text.size() - 2] == '=') --size;
  out.resize(size);
  return out;
}

std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields;
  std::stringstream in(text);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!text.empty() && text.back() == ',') fields.push_back("");
  return fields;
}

HttpReply HttpGet(int port, const std::string& target, const std::vector<std::string>& headers) {
  HttpReply reply;
  int fd = ConnectLoopback(port);
  if (fd < 0) return reply;
  std::string request = "GET " + target + " HTTP/1.0\r\n";
  for (const auto& header : headers) request += header + "\r\n";
  request += "\r\n";
  SendAll(fd, request);
  std::string all;
  char buffer[65536];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) all.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  auto split = all.find("\r\n\r\n");
  if (split == std::string::npos) return reply;
  reply.headers = all.substr(0, split);
  reply.body = all.substr(split + 4);
  if (reply.headers.size() > 12) reply.status = std::stoi(reply.headers.substr(9, 3));
  return reply;
}

std::vector<Entry> ParseEntries(const std::string& body) {
  std::vector<Entry> entries;
  std::stringstream in(body);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    auto fields = SplitFields(line);
    fields.resize(6);
    Entry entry{fields[0], fields[1], fields[2], fields[4]};
    entry.size = fields[3].empty() ? -1 : std::stoll(fields[3]);
    entry.time = fields[5].empty() ? -1 : std::stoll(fields[5]);
    entries.push_back(entry);
  }
  return entries;
}

std::string WebSession::login(const std::string& user, const std::string& password) {
  std::string first = HttpGet(port_, "/quellan?action=firstkey&t=20260101000000").body;
  if (first.rfind("ok,", 0) != 0) return first;
  auto fields = SplitFields(first.substr(3));
  if (fields.size() != 2) return first;
  sessionId = fields[0];
  sessionKey = fields[1];
  std::string reply =
      call("login", {{"username", Base64(user)}, {"password", Md5(Md5(password) + sessionKey)}});
  if (reply.rfind("ok,", 0) == 0) {
    fields = SplitFields(reply.substr(3));
    if (fields.size() == 2) {
      sessionId = fields[0];
      sessionKey = fields[1];
    }
  }
  return reply;
}

std::string WebSession::call(const std::string& action,
                             const std::vector<std::pair<std::string, std::string>>& params,
                             bool leadingSlash) {
  std::string hashInput = action;
  std::string target = std::string(leadingSlash ? "/" : "") + "quellan?action=" + action;
  for (const auto& [name, value] : params) {
    hashInput += value;
    target += "&" + name + "=" + value;
  }
  hashInput += sessionId + sessionKey;
  target += "&sessionid=" + sessionId + "&hash=" + Md5(hashInput) + "&t=20260101000000";
  return HttpGet(port_, target).body;
}

std::optional<Entry> WebSession::Listing::byName(const std::string& name) const {
  for (const auto& entry : entries) {
    if (entry.name == name) return entry;
  }
  return std::nullopt;
}

std::optional<WebSession::Listing> WebSession::list() {
  std::string reply = call("list3", {});
  if (reply.rfind("ok,", 0) != 0) return std::nullopt;
  auto fields = SplitFields(reply.substr(3));
  if (fields.size() != 4) return std::nullopt;
  Listing listing;
  listing.writable = fields[0];
  listing.quota = std::stoll(fields[1]);
  listing.usedMiB = std::stoll(fields[2]);
  listing.entries = ParseEntries(Unbase64(fields[3]));
  return listing;
}

StreamClient::~StreamClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool StreamClient::connect(int port) {
  fd_ = ConnectLoopback(port);
  return fd_ >= 0;
}

bool StreamClient::send(const std::string& requestText) {
  uint32_t length = htonl(static_cast<uint32_t>(requestText.size()));
  std::string frame = "file";
  frame.append(reinterpret_cast<const char*>(&length), 4);
  return SendAll(fd_, frame + requestText);
}

bool StreamClient::sendRaw(const std::string& bytes) { return SendAll(fd_, bytes); }

std::optional<std::string> StreamClient::bytes(size_t count) {
  std::string out(count, '\0');
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::recv(fd_, out.data() + done, count - done, 0);
    if (n <= 0) return std::nullopt;
    done += static_cast<size_t>(n);
  }
  return out;
}

std::optional<std::string> StreamClient::reply() {
  auto header = bytes(8);
  if (!header) return std::nullopt;
  uint32_t length = 0;
  memcpy(&length, header->data() + 4, 4);
  length = ntohl(length);
  if (length == 0 || length > 1015) return std::nullopt;
  return bytes(length);
}

bool StreamClient::closedWithin(int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd wait{fd_, POLLIN, 0};
    if (::poll(&wait, 1, 50) <= 0) continue;
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
  return false;
}

long long StreamClient::drain(int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  char buffer[65536];
  long long total = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd wait{fd_, POLLIN, 0};
    if (::poll(&wait, 1, 50) <= 0) continue;
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return total;
    total += n;
  }
  return -1;
}

bool StreamClient::silentFor(int milliseconds) {
  pollfd wait{fd_, POLLIN, 0};
  return ::poll(&wait, 1, milliseconds) == 0;
}

std::vector<std::string> StreamClient::open(const std::string& token1, const std::string& token2,
                                            std::string* head) {
  if (!send("t1_open," + token1 + "," + token2)) return {};
  auto text = reply();
  if (!text) return {};
  auto fields = SplitFields(*text);
  if (fields.size() == 5 && fields[0] == "ok") {
    auto data = bytes(std::stoul(fields[4]));
    if (!data) return {};
    *head = *data;
  }
  return fields;
}

std::optional<std::string> StreamClient::read(const std::string& stream, long long offset,
                                              long long size) {
  if (!send("t_read," + stream + "," + std::to_string(offset) + "," + std::to_string(size))) {
    return std::nullopt;
  }
  auto text = reply();
  if (!text) return std::nullopt;
  auto fields = SplitFields(*text);
  if (fields.size() != 3 || fields[0] != "ok" || std::stoll(fields[1]) != offset) {
    return std::nullopt;
  }
  return bytes(std::stoul(fields[2]));
}

std::optional<std::string> StreamClient::fetch(const std::string& stream, long long offset,
                                               long long size, long long fileLength,
                                               std::vector<long long>* pieces) {
  if (!send("t1_read," + stream + "," + std::to_string(offset) + "," + std::to_string(size))) {
    return std::nullopt;
  }
  std::string data;
  long long expected = offset;
  long long total = std::max(0LL, std::min(size, fileLength - offset));
  do {
    auto text = reply();
    if (!text) return std::nullopt;
    auto fields = SplitFields(*text);
    if (fields.size() != 3 || fields[0] != "ok" || std::stoll(fields[1]) != expected) {
      return std::nullopt;
    }
    long long piece = std::stoll(fields[2]);
    if (pieces) pieces->push_back(piece);
    auto chunk = bytes(static_cast<size_t>(piece));
    if (!chunk) return std::nullopt;
    data += *chunk;
    expected += piece;
    if (piece == 0) break;
  } while (static_cast<long long>(data.size()) < total);
  return data;
}

}  // namespace testclients
