// Clients that connect and then send nothing, or drip their requests: none of them can keep
// the service from other clients, on either port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>

#include "tests/server/ServerTestBase.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A TCP connection from `source` (a loopback address) to 127.0.0.1:port.
class RawConnection {
 public:
  RawConnection(const char* source, int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &address.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    connectedAt_ = Clock::now();
    timeval limit{3, 0};  // a reply that does not come fails the test instead of hanging it
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Everything the server sends until it closes the connection (or 3 s pass).
  std::string receiveAll() {
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) all.append(buffer, n);
    return all;
  }
  // Exactly `count` bytes; "" when they do not all come.
  std::string receive(size_t count) {
    std::string bytes(count, '\0');
    for (size_t done = 0; done < count;) {
      ssize_t n = ::recv(fd_, bytes.data() + done, count - done, 0);
      if (n <= 0) return {};
      done += static_cast<size_t>(n);
    }
    return bytes;
  }
  // One stream reply's text; "" when none comes.
  std::string streamReply() {
    std::string header = receive(8);
    if (header.size() != 8) return {};
    auto byte = [&](int i) { return static_cast<size_t>(static_cast<unsigned char>(header[i])); };
    return receive(byte(4) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7));
  }
  // Sends one byte of `drip` a second (then nothing) until the server ends the connection;
  // how long after connecting that was, or nullopt when it was still open `limit` after.
  std::optional<milliseconds> openFor(const std::string& drip, milliseconds limit) {
    for (size_t sent = 0;; ++sent) {
      if (sent < drip.size() && !send(drip.substr(sent, 1))) return age();
      auto second = Clock::now() + milliseconds(1000);
      do {
        pollfd wait{fd_, POLLIN, 0};
        char buffer[4096];
        if (::poll(&wait, 1, 50) > 0 && ::recv(fd_, buffer, sizeof buffer, 0) <= 0) return age();
      } while (Clock::now() < second && age() < limit);
      if (age() >= limit) return std::nullopt;
    }
  }

 private:
  milliseconds age() const {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - connectedAt_);
  }

  int fd_;
  bool connected_ = false;
  Clock::time_point connectedAt_;
};

std::string Frame(const std::string& text) {
  uint32_t length = htonl(static_cast<uint32_t>(text.size()));
  return "file" + std::string(reinterpret_cast<const char*>(&length), 4) + text;
}

const std::string kFirstKey = "GET /quellan?action=firstkey HTTP/1.0\r\n\r\n";

}  // namespace

class HostileClientTest : public ServerTestBase {
 protected:
  void SetUp() override {}

  void start(std::vector<std::string> args) {
    startServer(std::move(args));
    writeFile(std::string(kMySpace) + "/f.bin", PatternBytes(1000));
    auto fields = testclients::SplitFields(web_->call("readdist", {{"id", idOf("f.bin")}}, false));
    ASSERT_EQ(fields.size(), 5u);
    openRequest_ = "t1_open," + fields[4] + "," + fields[3];
  }

  int port(bool stream) const { return stream ? server_->streamPort() : server_->webPort(); }

  // True when a client from `source` gets a proper answer on the port.
  bool served(bool stream, const char* source) {
    RawConnection client(source, port(stream));
    if (!client.connected()) return false;
    if (stream)
      return client.send(Frame(openRequest_)) && client.streamReply().rfind("ok,", 0) == 0;
    if (!client.send(kFirstKey)) return false;
    std::string reply = client.receiveAll();
    auto body = reply.find("\r\n\r\n");
    return body != std::string::npos && reply.compare(body + 4, 3, "ok,") == 0;
  }

  std::string openRequest_;
};

TEST_F(HostileClientTest, SilentConnectionsFromOneAddressLeaveOtherClientsServed) {
  constexpr int kLimit = 4, kSilent = 20;
  // A long request deadline keeps the silent connections open for the whole test.
  start(
      {"--max-connections-per-address", std::to_string(kLimit), "--request-deadline-ms", "60000"});
  for (bool stream : {true, false}) {
    SCOPED_TRACE(stream ? "stream port" : "web port");
    std::vector<std::unique_ptr<RawConnection>> silent;
    for (int i = 0; i < kSilent; ++i) {
      silent.push_back(std::make_unique<RawConnection>("127.0.0.1", port(stream)));
    }
    // The address's first connections are held; the server ends the others at once.
    for (int i = 0; i < kSilent; ++i) {
      bool closed = silent[i]->openFor("", milliseconds(i < kLimit ? 200 : 2000)).has_value();
      EXPECT_EQ(closed, i >= kLimit) << "connection " << i;
    }
    auto asked = Clock::now();
    EXPECT_TRUE(served(stream, "127.0.0.2"));
    EXPECT_LT(Clock::now() - asked, milliseconds(2000));

    // Once they are gone, the address has its places back.
    silent.clear();
    auto deadline = Clock::now() + milliseconds(5000);
    bool again = false;
    while (!again && Clock::now() < deadline) again = served(stream, "127.0.0.1");
    EXPECT_TRUE(again);
  }
}

TEST_F(HostileClientTest, RequestsMustArriveWholeWithinTheDeadline) {
  constexpr int kDeadlineMs = 1500;
  start({"--request-deadline-ms", std::to_string(kDeadlineMs)});
  struct Case {
    const char* what;
    bool stream;
    std::string drip;  // sent one byte a second
    bool closed;
  } cases[] = {
      {"silent web connection", false, "", true},
      {"web request one byte a second", false, kFirstKey, true},
      {"silent stream connection", true, "", true},
      {"stream request one byte a second", true, Frame(openRequest_), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawConnection hostile("127.0.0.1", port(c.stream));
    ASSERT_TRUE(hostile.connected());
    // Meanwhile everyone else is served at once.
    auto asked = Clock::now();
    EXPECT_TRUE(served(false, "127.0.0.1"));
    EXPECT_TRUE(served(true, "127.0.0.1"));
    EXPECT_LT(Clock::now() - asked, milliseconds(1000));
    auto open = hostile.openFor(c.drip, milliseconds(kDeadlineMs + 3000));
    ASSERT_TRUE(open.has_value()) << "still open";
    EXPECT_GE(open->count(), kDeadlineMs - 300);
    EXPECT_LE(open->count(), kDeadlineMs + 1500);
  }

  // A stream connection that has made its request may idle past the deadline.
  RawConnection reader("127.0.0.1", server_->streamPort());
  ASSERT_TRUE(reader.send(Frame(openRequest_)));
  auto fields = testclients::SplitFields(reader.streamReply());
  ASSERT_EQ(fields.size(), 5u);
  ASSERT_EQ(reader.receive(1000).size(), 1000u);
  EXPECT_FALSE(reader.openFor("", milliseconds(kDeadlineMs + 1000)).has_value());
  ASSERT_TRUE(reader.send(Frame("t_read," + fields[1] + ",0,10")));
  EXPECT_EQ(reader.streamReply(), "ok,0,10");
}
