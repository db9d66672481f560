#include "desktop/shell/InstanceLock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace instance_lock {

int LockPort() {
  const char* text = std::getenv("QUELLAN_INSTANCE_PORT");
  if (text == nullptr || *text == '\0') return kPort;
  char* end = nullptr;
  long port = std::strtol(text, &end, 10);
  if (*end != '\0' || port < 1 || port > 65535) return kPort;
  return static_cast<int>(port);
}

bool Acquire() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(LockPort()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 1) != 0) {
    ::close(fd);
    return false;
  }
  return true;  // deliberately kept open for the life of the process
}

}  // namespace instance_lock
