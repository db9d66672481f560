// Benchmark client: opens one file on the stream server and reads it whole with t1_read on
// a single connection, then prints the byte count and the elapsed seconds.
// Usage: stream_read_client HOST PORT TOKEN1 TOKEN2
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Reads the connection through a large buffer, as an efficient client would.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd), buffer_(4 << 20) {}

  bool take(char* out, size_t size) {
    while (size > 0) {
      if (start_ == end_ && !fill()) return false;
      size_t piece = std::min(size, end_ - start_);
      if (out) std::memcpy(out, buffer_.data() + start_, piece), out += piece;
      start_ += piece;
      size -= piece;
    }
    return true;
  }

  bool replyText(std::string* text) {
    unsigned char header[8];
    if (!take(reinterpret_cast<char*>(header), 8)) return false;
    uint32_t length = (uint32_t{header[4]} << 24) | (uint32_t{header[5]} << 16) |
                      (uint32_t{header[6]} << 8) | header[7];
    if (length == 0 || length > 1015) return false;
    text->resize(length);
    return take(text->data(), length);
  }

 private:
  bool fill() {
    ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
    if (n <= 0) return false;
    start_ = 0;
    end_ = static_cast<size_t>(n);
    return true;
  }

  int fd_;
  std::vector<char> buffer_;
  size_t start_ = 0, end_ = 0;
};

bool Send(int fd, const std::string& text) {
  std::string frame = "file";
  uint32_t length = htonl(static_cast<uint32_t>(text.size()));
  frame.append(reinterpret_cast<const char*>(&length), 4);
  frame += text;
  return ::send(fd, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
}

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    out.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: stream_read_client HOST PORT TOKEN1 TOKEN2\n");
    return 2;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
  ::inet_pton(AF_INET, argv[1], &address.sin_addr);
  auto start = std::chrono::steady_clock::now();
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  Reader reader(fd);
  std::string text;
  if (!Send(fd, std::string("t1_open,") + argv[3] + "," + argv[4]) || !reader.replyText(&text)) {
    return 1;
  }
  auto open = Fields(text);
  if (open.size() != 5 || open[0] != "ok") {
    std::fprintf(stderr, "open failed: %s\n", text.c_str());
    return 1;
  }
  long long length = std::stoll(open[2]);
  long long head = std::stoll(open[4]);
  if (!reader.take(nullptr, static_cast<size_t>(head))) return 1;
  long long received = head;
  if (length > head && !Send(fd, "t1_read," + open[1] + "," + std::to_string(head) + "," +
                                     std::to_string(length - head))) {
    return 1;
  }
  while (received < length) {
    if (!reader.replyText(&text)) return 1;
    auto reply = Fields(text);
    if (reply.size() != 3 || reply[0] != "ok" || std::stoll(reply[1]) != received) return 1;
    long long size = std::stoll(reply[2]);
    if (size <= 0 || !reader.take(nullptr, static_cast<size_t>(size))) return 1;
    received += size;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%lld %.6f\n", received, seconds);
  ::close(fd);
  return 0;
}
