// The HTTP side of the service: the web interface actions, the desktop page's login and
// signed downloads, and the update description with its program file.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "server/faults/FaultControl.h"
#include "server/state/Storage.h"
#include "server/util/TcpAcceptor.h"
#include "server/web/WebActions.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace qserver {

class HttpRouter;

struct ReleaseInfo {
  std::string file;  // path of the program file; empty when none is offered
  std::string version;
  std::string md5;
  long long length = 0;
};

class WebServer {
 public:
  // Each request must arrive whole within `requestTime` of its first byte (of connecting,
  // for a connection's first request).
  WebServer(Storage& storage, FaultControl& faults, int streamPort, ReleaseInfo release,
            ConnectionLimits limits, std::chrono::milliseconds requestTime);
  ~WebServer();

  // Binds (port 0 picks a free one) and starts accepting; false with a reason on failure.
  bool start(const std::string& host, int port, std::string* error);
  void stop();
  int port() const { return acceptor_.port(); }
  void announceStreamAddress(const std::string& host, int port) {
    actions_.announceStreamAddress(host, port);
  }
  // The address ("http://host:port") that the update description names; by default the
  // address listened on. Set before serving.
  void announcePublicUrl(const std::string& url) { publicUrl_ = url; }

 private:
  void serveConnection(int socket);
  void route(const httplib::Request& request, httplib::Response& response);
  void pageLogin(const RawQuery& query, httplib::Response& response);
  void download(const RawQuery& query, httplib::Response& response);
  void releaseDescription(const httplib::Request& request, httplib::Response& response);
  std::string publicUrlFor(const httplib::Request& request) const;
  static bool ServeFile(const std::string& path, httplib::Response& response);

  Storage& storage_;
  WebActions actions_;
  ReleaseInfo release_;
  const std::chrono::milliseconds requestTime_;
  std::string publicUrl_;  // empty: the address the client reached (listening on any address)
  std::unique_ptr<HttpRouter> router_;
  std::atomic<bool> stopping_{false};
  TcpAcceptor acceptor_;
};

}  // namespace qserver
