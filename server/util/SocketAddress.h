// The addresses at both ends of a connected or bound socket, as numeric texts.
#pragma once

#include <string>

namespace qserver {

struct Endpoint {
  std::string ip;  // "127.0.0.1", "::1"; empty when unknown
  int port = 0;
};

Endpoint PeerEndpoint(int socket);
Endpoint LocalEndpoint(int socket);

}  // namespace qserver
