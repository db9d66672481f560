#include "tests/support/ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ListenOnLoopback(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = ListenOnLoopback(&port_);
  listen(listener_, 16);
  thread_ = std::thread(&ScriptedHttpServer::serve, this);
}

ScriptedHttpServer::~ScriptedHttpServer() {
  stopping_ = true;
  thread_.join();
  close(listener_);
}

std::vector<std::string> ScriptedHttpServer::requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::vector<std::string> ScriptedHttpServer::targets() const {
  std::lock_guard<std::mutex> guard(lock_);
  return targets_;
}

std::string ScriptedHttpServer::Reply(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void ScriptedHttpServer::serve() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0) continue;
    int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) continue;
    answer(connection);
    close(connection);
  }
}

void ScriptedHttpServer::answer(int connection) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd waiting{connection, POLLIN, 0};
    if (poll(&waiting, 1, 5000) <= 0) return;
    ssize_t count = recv(connection, buffer, sizeof buffer, 0);
    if (count <= 0) return;
    head.append(buffer, static_cast<size_t>(count));
  }
  size_t firstSpace = head.find(' ');
  size_t secondSpace = head.find(' ', firstSpace + 1);
  std::string target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(head);
    targets_.push_back(target);
  }
  std::string reply = handler_(target);
  size_t sent = 0;
  while (sent < reply.size()) {
    ssize_t count = ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

uint16_t ClosedLoopbackPort() {
  uint16_t port = 0;
  int fd = ListenOnLoopback(&port);
  close(fd);
  return port;
}
