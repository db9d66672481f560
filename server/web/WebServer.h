// The HTTP side of the service: the web interface actions, the desktop page's login and
// signed downloads, and the update description with its program file.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "server/faults/FaultControl.h"
#include "server/state/Storage.h"
#include "server/web/WebActions.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace qserver {

struct ReleaseInfo {
  std::string file;  // path of the program file; empty when none is offered
  std::string version;
  std::string md5;
  long long length = 0;
};

class WebServer {
 public:
  WebServer(Storage& storage, FaultControl& faults, int streamPort, ReleaseInfo release);
  ~WebServer();

  // Binds (port 0 picks a free one) and serves on a thread of its own; false on failure.
  bool start(const std::string& host, int port);
  void stop();
  int port() const { return port_; }
  void announceStreamAddress(const std::string& host, int port) {
    actions_.announceStreamAddress(host, port);
  }

 private:
  void route(const httplib::Request& request, httplib::Response& response);
  void pageLogin(const RawQuery& query, httplib::Response& response);
  void download(const RawQuery& query, httplib::Response& response);
  void releaseDescription(const httplib::Request& request, httplib::Response& response);
  static bool ServeFile(const std::string& path, httplib::Response& response);

  Storage& storage_;
  WebActions actions_;
  ReleaseInfo release_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace qserver
