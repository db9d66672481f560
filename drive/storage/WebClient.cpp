#include "drive/storage/WebClient.h"

#include <curl/curl.h>
#include <idn2.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/codepage/CodePage.h"

namespace {

// Body bytes buffered ahead of the reader before the transfer is paused.
constexpr size_t kBufferAhead = 64 * 1024;
constexpr long kConnectTimeoutSeconds = 20;
// A reply that delivers nothing for this long is abandoned.
constexpr long kStallSeconds = 60;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool SendableTarget(const std::string& target) {
  if (target.empty()) return false;
  for (unsigned char c : target) {
    if (c <= 0x20 || c == 0x7f) return false;
  }
  return true;
}

// A host name or an IPv4 or IPv6 address, nothing that could change the URL around it. Any
// name a resolver may know passes, underscores included.
bool UsableHost(const std::u16string& host) {
  if (host.empty()) return false;
  for (char16_t c : host) {
    bool changesUrl =
        c <= u' ' || c == 0x7f || c == u'/' || c == u'\\' || c == u'?' || c == u'#' || c == u'@';
    if (changesUrl) return false;
  }
  return true;
}

// The host as it goes into the URL: a name beyond ASCII in its ASCII (IDNA) form, an IPv6
// literal in brackets. Empty when the name has no ASCII form. The conversion reads UTF-8
// itself, so it does not depend on the process locale.
std::string UrlHost(const std::u16string& host) {
  std::string text = codepage::WideToUtf8(host);
  bool ascii = std::all_of(text.begin(), text.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) {
    char* converted = nullptr;
    if (idn2_to_ascii_8z(text.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) !=
            IDN2_OK &&
        idn2_to_ascii_8z(text.c_str(), &converted, IDN2_NFC_INPUT | IDN2_TRANSITIONAL) != IDN2_OK) {
      return std::string();
    }
    text = converted;
    idn2_free(converted);
  }
  if (text.find(':') != std::string::npos && text.front() != '[') text = "[" + text + "]";
  return text;
}

}  // namespace

WebClient::~WebClient() { close(); }

int WebClient::open(const std::u16string& host, uint16_t port, const std::u16string& path,
                    const std::u16string& verb) {
  close();
  InitCurlOnce();
  session_ = curl_multi_init();
  if (!session_) return kNoSession;

  connection_ = curl_easy_init();
  if (!connection_) return kNoConnection;
  std::string urlHost = UsableHost(host) ? UrlHost(host) : std::string();
  std::string url = "http://" + urlHost + ":" + std::to_string(port) + "/";
  if (urlHost.empty() || curl_easy_setopt(connection_, CURLOPT_URL, url.c_str()) != CURLE_OK) {
    return kNoConnection;
  }

  std::string target = codepage::WideToAnsi(path);
  std::string method = codepage::WideToAnsi(verb);
  if (!SendableTarget(target) || !SendableTarget(method)) return kNoRequest;
  requestHeaders_ = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
  // curl adds "Accept: */*" on its own; the request carries no header beyond the one above
  // and the Host line HTTP needs.
  if (requestHeaders_) requestHeaders_ = curl_slist_append(requestHeaders_, "Accept:");
  if (!requestHeaders_) return kNoRequest;

  bool ok =
      curl_easy_setopt(connection_, CURLOPT_REQUEST_TARGET, target.c_str()) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_CUSTOMREQUEST, method.c_str()) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_HTTPHEADER, requestHeaders_) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_LOW_SPEED_TIME, kStallSeconds) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_WRITEFUNCTION, &WebClient::onBody) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_WRITEDATA, this) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_HEADERFUNCTION, &WebClient::onHeader) == CURLE_OK &&
      curl_easy_setopt(connection_, CURLOPT_HEADERDATA, this) == CURLE_OK;
  return ok ? kOk : kNoRequest;
}

int WebClient::send() {
  if (!connection_ || !session_ || added_) return kSendFailed;
  if (curl_multi_add_handle(session_, connection_) != CURLM_OK) return kSendFailed;
  added_ = true;
  pump([this] { return headersDone_; });
  if (!headersDone_) return kSendFailed;
  connected_ = true;
  return kOk;
}

int WebClient::read(void* buffer, size_t size) {
  if (!added_) {
    connected_ = false;
    return -1;
  }
  if (size == 0) return 0;
  pump([this] { return unread() > 0; });
  if (unread() == 0) {
    connected_ = false;
    return finished_ && transferResult_ == CURLE_OK ? 0 : -1;
  }
  size_t count = std::min(size, unread());
  std::memcpy(buffer, body_.data() + bodyRead_, count);
  bodyRead_ += count;
  return static_cast<int>(count);
}

void WebClient::close() {
  if (session_ && connection_ && added_) curl_multi_remove_handle(session_, connection_);
  if (connection_) curl_easy_cleanup(connection_);
  if (session_) curl_multi_cleanup(session_);
  if (requestHeaders_) curl_slist_free_all(requestHeaders_);
  connection_ = nullptr;
  session_ = nullptr;
  requestHeaders_ = nullptr;
  added_ = paused_ = headersDone_ = finished_ = false;
  transferResult_ = 0;
  body_.clear();
  bodyRead_ = 0;
}

void WebClient::pump(const std::function<bool()>& ready) {
  while (!ready() && !finished_) {
    if (unread() == 0) {
      body_.clear();
      bodyRead_ = 0;
    }
    if (paused_) {
      paused_ = false;
      curl_easy_pause(connection_, CURLPAUSE_CONT);  // may deliver held data at once
      if (ready()) break;
    }
    int running = 0;
    if (curl_multi_perform(session_, &running) != CURLM_OK) {
      finished_ = true;
      transferResult_ = CURLE_RECV_ERROR;
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(session_, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        finished_ = true;
        transferResult_ = message->data.result;
      }
    }
    if (ready() || finished_) break;
    if (abortCheck_ && abortCheck_()) {
      finished_ = true;
      transferResult_ = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    curl_multi_poll(session_, nullptr, 0, 1000, nullptr);
  }
}

size_t WebClient::onBody(char* data, size_t size, size_t count, void* self) {
  auto* client = static_cast<WebClient*>(self);
  if (client->unread() >= kBufferAhead) {
    client->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  client->body_.append(data, size * count);
  return size * count;
}

size_t WebClient::onHeader(char* data, size_t size, size_t count, void* self) {
  auto* client = static_cast<WebClient*>(self);
  size_t length = size * count;
  // The empty line after the headers of a final (non-1xx) status ends the header block.
  if (length <= 2 && (length == 0 || data[0] == '\r' || data[0] == '\n')) {
    long status = 0;
    curl_easy_getinfo(client->connection_, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200 || status == 0) client->headersDone_ = true;
  }
  return length;
}
