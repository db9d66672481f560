// One HTTP/1.0 request at a time to the storage service's web interface: open, send, read the
// reply body in pieces, close. The request target is sent exactly as formed (no leading "/" is
// added), with the single header "Content-Type: application/x-www-form-urlencoded" and no
// body. Proxies come from curl's standard environment variables.
//
// Not safe for concurrent use: one thread at a time per client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct curl_slist;

class WebClient {
 public:
  // Results of open and send.
  static constexpr int kOk = 0;
  static constexpr int kNoSession = -1;     // the session (root) handle could not be made
  static constexpr int kNoConnection = -2;  // the connection handle could not be made
  static constexpr int kNoRequest = -3;     // the request could not be formed
  static constexpr int kSendFailed = -4;

  WebClient() = default;
  ~WebClient();
  WebClient(const WebClient&) = delete;
  WebClient& operator=(const WebClient&) = delete;

  // Prepares a request; closes whatever the previous request left open first. A host that is
  // not a plain name or address gives kNoConnection; a path with a space or a control
  // character cannot be sent as one request line and gives kNoRequest.
  int open(const std::u16string& host, uint16_t port, const std::u16string& path,
           const std::u16string& verb);

  // Sends the request and waits for the reply's headers. 0, or kSendFailed when no reply
  // came (connection refused, timeout, not HTTP). Sets the connected flag on success.
  int send();

  // Delivers up to `size` bytes of the reply body: the count, 0 at the end of the body, -1
  // when the transfer failed. A result of 0 or -1 clears the connected flag.
  int read(void* buffer, size_t size);

  // Releases the handles of the current request.
  void close();

  bool connected() const { return connected_; }

  // Optional: while a transfer waits for data, this is asked about once a second; returning
  // true abandons the transfer (send and read then fail).
  void setAbortCheck(std::function<bool()> check) { abortCheck_ = std::move(check); }

 private:
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  // Runs the transfer until `ready` holds or it has ended.
  void pump(const std::function<bool()>& ready);
  size_t unread() const { return body_.size() - bodyRead_; }

  bool connected_ = false;
  void* session_ = nullptr;     // the root handle: a curl transfer set
  void* connection_ = nullptr;  // the request's transfer (a curl easy handle)
  curl_slist* requestHeaders_ = nullptr;
  bool added_ = false;   // connection_ is part of session_
  bool paused_ = false;  // the body callback asked curl to hold data
  bool headersDone_ = false;
  bool finished_ = false;
  int transferResult_ = 0;  // CURLcode once finished_
  std::string body_;        // received, not yet delivered from bodyRead_ on
  size_t bodyRead_ = 0;
  std::function<bool()> abortCheck_;
};
