// Small independent clients that talk to quellan-server over loopback in tests:
// raw HTTP/1.0 GETs, a signing web session, and a stream protocol connection.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testclients {

// A connection to 127.0.0.1:port whose reads give up after 20 s; -1 when refused.
int ConnectLoopback(int port);

std::string Md5(const std::string& text);
std::string Base64(const std::string& bytes);
std::string Unbase64(const std::string& text);

struct HttpReply {
  int status = 0;
  std::string headers;  // raw header block
  std::string body;
};

// Sends "GET <target> HTTP/1.0" exactly as given, plus extra header lines.
HttpReply HttpGet(int port, const std::string& target,
                  const std::vector<std::string>& headers = {});

// One entry line of a list3 body or file_info reply.
struct Entry {
  std::string id, name, type, pid;
  long long size = 0, time = 0;
};

class WebSession {
 public:
  explicit WebSession(int port) : port_(port) {}

  // firstkey + login; returns the login reply.
  std::string login(const std::string& user, const std::string& password);
  // A signed request; params in the action's order. `target` prefix "/quellan?action=".
  std::string call(const std::string& action,
                   const std::vector<std::pair<std::string, std::string>>& params,
                   bool leadingSlash = true);

  // list3, decoded. Empty optional when the reply is not "ok,".
  struct Listing {
    std::string writable;
    long long quota = 0, usedMiB = 0;
    std::vector<Entry> entries;
    std::optional<Entry> byName(const std::string& name) const;
  };
  std::optional<Listing> list();

  std::string sessionId, sessionKey;

 private:
  int port_;
};

std::vector<Entry> ParseEntries(const std::string& body);

class StreamClient {
 public:
  StreamClient() = default;
  ~StreamClient();
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;

  bool connect(int port);
  bool send(const std::string& requestText);
  bool sendRaw(const std::string& bytes);
  // One reply's text (header read and checked), nullopt when the connection ends.
  std::optional<std::string> reply();
  std::optional<std::string> bytes(size_t count);
  // True when the server closes the connection within the time limit.
  bool closedWithin(int milliseconds);
  // Reads until the server closes; the byte count, or -1 when it stays open past the limit.
  long long drain(int milliseconds);
  // True when nothing arrives within the time limit (and the connection stays open).
  bool silentFor(int milliseconds);

  // t1_open + head; returns the reply fields, head in *head.
  std::vector<std::string> open(const std::string& token1, const std::string& token2,
                                std::string* head);
  // t_read; the data, or nullopt on a failed reply.
  std::optional<std::string> read(const std::string& stream, long long offset, long long size);
  // t1_read of a file of `fileLength` bytes; all replies' data joined, or nullopt.
  std::optional<std::string> fetch(const std::string& stream, long long offset, long long size,
                                   long long fileLength,
                                   std::vector<long long>* pieceSizes = nullptr);

 private:
  int fd_ = -1;
};

std::vector<std::string> SplitFields(const std::string& text);

}  // namespace testclients
