#include "server/web/WebServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "server/util/Digest.h"
#include "server/util/Log.h"
#include "server/web/HttpConnection.h"

namespace qserver {
namespace {

constexpr long long kDownloadClockSlack = 600;  // seconds a download timestamp may be off
constexpr size_t kFileChunk = 256 * 1024;
constexpr time_t kKeepAliveSeconds = 5;  // an idle connection between requests is closed after
constexpr size_t kRequestsPerConnection = 100;

long long NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string BaseName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The request target for the log, with password values left out.
std::string WithoutSecrets(const std::string& target) {
  static const std::regex kPassword("(password=)[^&]*");
  return std::regex_replace(target, kPassword, "$1...");
}

bool IsAnyAddress(const std::string& host) {
  return host.empty() || host == "0.0.0.0" || host == "::" || host == "[::]";
}

// An address as the host part of a URL: IPv6 addresses go in brackets.
std::string UrlHost(const std::string& host) {
  bool ipv6 = host.find(':') != std::string::npos && host[0] != '[';
  return ipv6 ? "[" + host + "]" : host;
}

void Forbidden(httplib::Response& response) {
  response.status = 403;
  response.set_content("forbidden", "text/plain");
}

void NotFound(httplib::Response& response) {
  response.status = 404;
  response.set_content("not found", "text/plain");
}

}  // namespace

// The HTTP library's request handling, driven by our own connections: it reads one request
// from a connection, routes it and writes the reply.
class HttpRouter : public httplib::Server {
 public:
  // Serves one request; false when the connection cannot go on. `*clientClosed` tells that
  // the client asked for the connection to end.
  bool serveRequest(httplib::Stream& connection, bool last, bool* clientClosed) {
    return process_request(connection, last, *clientClosed, nullptr);
  }
  // The library writes a reply's content only while it believes it is serving, which it
  // reads from its listening socket: ours, or none once stopping.
  void setListener(int socket) { svr_sock_ = socket; }
};

WebServer::WebServer(Storage& storage, FaultControl& faults, int streamPort, ReleaseInfo release,
                     ConnectionLimits limits, std::chrono::milliseconds requestTime)
    : storage_(storage),
      actions_(storage, faults, streamPort),
      release_(std::move(release)),
      requestTime_(requestTime),
      router_(std::make_unique<HttpRouter>()),
      acceptor_("web", limits, [this](int socket) { serveConnection(socket); }) {
  router_->set_keep_alive_timeout(kKeepAliveSeconds);
  router_->set_keep_alive_max_count(kRequestsPerConnection);
  router_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    route(request, response);
  });
  // Logged once the answer is settled but before it is sent, so that a client that has its
  // answer finds the request in the log.
  router_->set_post_routing_handler([](const httplib::Request& request,
                                       httplib::Response& response) {
    std::string body = response.body.substr(0, 60);
    for (char& c : body) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    LogLine("web " + request.remote_addr + " " + request.method + " " +
            WithoutSecrets(request.target) + " -> " + std::to_string(response.status) + " " + body);
  });
}

WebServer::~WebServer() { stop(); }

bool WebServer::start(const std::string& host, int port, std::string* error) {
  if (!acceptor_.listen(host, port, error)) return false;
  if (publicUrl_.empty() && !IsAnyAddress(host)) {
    publicUrl_ = "http://" + UrlHost(host) + ":" + std::to_string(acceptor_.port());
  }
  router_->setListener(acceptor_.listener());
  acceptor_.start();
  return true;
}

void WebServer::stop() {
  stopping_ = true;
  router_->setListener(-1);
  acceptor_.stop();
}

void WebServer::serveConnection(int socket) {
  HttpConnection connection(socket);
  auto deadline = SteadyClock::now() + requestTime_;
  for (size_t served = 0; served < kRequestsPerConnection && !stopping_; ++served) {
    if (served > 0) {
      // Between requests the client may idle for the keep-alive time; once the next request
      // begins, it has the request time to arrive whole.
      auto idleUntil = SteadyClock::now() + std::chrono::seconds(kKeepAliveSeconds);
      if (!connection.awaitRequest(idleUntil)) return;
      deadline = SteadyClock::now() + requestTime_;
    }
    connection.setReadDeadline(deadline);
    bool last = served + 1 == kRequestsPerConnection;
    bool clientClosed = false;
    if (!router_->serveRequest(connection, last, &clientClosed) || clientClosed) return;
  }
}

void WebServer::route(const httplib::Request& request, httplib::Response& response) {
  RawQuery query = RawQuery::Parse(request.target);
  const std::string& path = query.path();
  if (path == "/quellan") {
    // Moved in rather than copied by set_content: a listing runs to tens of megabytes.
    response.set_content("", "text/plain");
    response.body = actions_.handle(query, request.local_addr);
  } else if (path == "/page/login") {
    pageLogin(query, response);
  } else if (path == "/download") {
    download(query, response);
  } else if (path == "/update/release.ini") {
    releaseDescription(request, response);
  } else if (!release_.file.empty() && path == "/update/" + BaseName(release_.file)) {
    if (!ServeFile(release_.file, response)) NotFound(response);
  } else {
    NotFound(response);
  }
}

void WebServer::pageLogin(const RawQuery& query, httplib::Response& response) {
  std::string name = query.value("username").value_or("");
  auto account = storage_.accounts().byName(name);
  if (!account) account = storage_.accounts().byName(PercentDecode(name));
  std::string digest = PercentDecode(query.value("password").value_or(""));
  if (!account || !SameText(account->passwordDigest, digest)) {
    response.set_content("err,Password", "text/plain");
    return;
  }
  response.set_content("ok," + storage_.sessions().createPage(account->name).id, "text/plain");
}

void WebServer::download(const RawQuery& query, httplib::Response& response) {
  std::string timestamp = query.value("timestamp").value_or("");
  long long stamp = 0;
  try {
    size_t used = 0;
    stamp = std::stoll(timestamp, &used);
    if (used != timestamp.size()) return Forbidden(response);
  } catch (...) {
    return Forbidden(response);
  }
  if (std::llabs(NowSeconds() - stamp) > kDownloadClockSlack) return Forbidden(response);
  auto session = storage_.sessions().findPageByHash(timestamp, query.value("hash").value_or(""));
  if (!session) return Forbidden(response);
  auto tree = storage_.tree(session->user);
  auto path = tree ? tree->readablePath(query.value("id").value_or("")) : std::nullopt;
  if (!path || !ServeFile(*path, response)) NotFound(response);
}

// The program file's address is built from the configured address, never from the request's
// Host header: a client must not be able to have the service name a host of its choosing.
std::string WebServer::publicUrlFor(const httplib::Request& request) const {
  if (!publicUrl_.empty()) return publicUrl_;
  return "http://" + UrlHost(request.local_addr) + ":" + std::to_string(request.local_port);
}

void WebServer::releaseDescription(const httplib::Request& request, httplib::Response& response) {
  if (release_.file.empty()) return NotFound(response);
  std::string text = "[Version]\r\nNumber=" + release_.version +
                     "\r\nUrl=" + publicUrlFor(request) + "/update/" + BaseName(release_.file) +
                     "\r\nLength=" + std::to_string(release_.length) + "\r\nMd5=" + release_.md5 +
                     "\r\n";
  response.set_content(text, "text/plain");
}

bool WebServer::ServeFile(const std::string& path, httplib::Response& response) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  auto file = std::shared_ptr<int>(new int(fd), [](int* handle) {
    ::close(*handle);
    delete handle;
  });
  response.set_content_provider(static_cast<size_t>(st.st_size), "application/octet-stream",
                                [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                  std::vector<char> buffer(std::min(length, kFileChunk));
                                  ssize_t n = ::pread(*file, buffer.data(), buffer.size(),
                                                      static_cast<off_t>(offset));
                                  if (n <= 0) return false;
                                  return sink.write(buffer.data(), static_cast<size_t>(n));
                                });
  return true;
}

}  // namespace qserver
