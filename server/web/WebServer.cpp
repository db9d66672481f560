#include "server/web/WebServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "server/util/Digest.h"
#include "server/util/Log.h"

namespace qserver {
namespace {

constexpr long long kDownloadClockSlack = 600;  // seconds a download timestamp may be off
constexpr size_t kFileChunk = 256 * 1024;

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

void Forbidden(httplib::Response& response) {
  response.status = 403;
  response.set_content("forbidden", "text/plain");
}

void NotFound(httplib::Response& response) {
  response.status = 404;
  response.set_content("not found", "text/plain");
}

}  // namespace

WebServer::WebServer(Storage& storage, FaultControl& faults, int streamPort, ReleaseInfo release)
    : storage_(storage), actions_(storage, faults, streamPort), release_(std::move(release)) {}

WebServer::~WebServer() { stop(); }

bool WebServer::start(const std::string& host, int port) {
  server_ = std::make_unique<httplib::Server>();
  server_->new_task_queue = [] { return new httplib::ThreadPool(16); };
  // Address reuse only: the library's default also sets SO_REUSEPORT, which would let a
  // second server bind the same port and share its connections unnoticed.
  server_->set_socket_options([](socket_t socket) {
    int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    route(request, response);
  });
  // Logged once the answer is settled but before it is sent, so that a client that has its
  // answer finds the request in the log.
  server_->set_post_routing_handler([](const httplib::Request& request,
                                       httplib::Response& response) {
    std::string body = response.body.substr(0, 60);
    for (char& c : body) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    LogLine("web " + request.remote_addr + " " + request.method + " " +
            WithoutSecrets(request.target) + " -> " + std::to_string(response.status) + " " + body);
  });
  if (port == 0) {
    port_ = server_->bind_to_any_port(host);
    if (port_ <= 0) return false;
  } else {
    if (!server_->bind_to_port(host, port)) return false;
    port_ = port;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // The library's stop() does nothing until its accept loop runs, so a stop that came
  // earlier would leave the thread serving for ever; wait for the loop here.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return server_->is_running();
}

void WebServer::stop() {
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
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

void WebServer::releaseDescription(const httplib::Request& request, httplib::Response& response) {
  if (release_.file.empty()) return NotFound(response);
  std::string host = request.get_header_value("Host");
  if (host.empty()) host = request.local_addr + ":" + std::to_string(port_);
  std::string text = "[Version]\r\nNumber=" + release_.version + "\r\nUrl=http://" + host +
                     "/update/" + BaseName(release_.file) +
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
