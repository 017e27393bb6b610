#include "devsim/udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace devsim {
namespace {

int BoundSocket(std::uint32_t networkOrderIp, std::uint16_t port, std::string* error,
                const std::string& what) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    *error = "socket: " + std::string(std::strerror(errno));
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = networkOrderIp;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = "cannot bind to " + what + ":" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool OpenUdpEndpoint(const std::string& address, std::uint16_t port, UdpEndpoint& endpoint,
                     std::string* error) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
    *error = "\"" + address + "\" is not a dotted IPv4 address";
    return false;
  }
  std::memcpy(endpoint.ip, &parsed.s_addr, 4);
  endpoint.unicast = BoundSocket(parsed.s_addr, port, error, address);
  if (endpoint.unicast < 0) {
    return false;
  }
  endpoint.broadcast = BoundSocket(htonl(INADDR_BROADCAST), port, error, "255.255.255.255");
  if (endpoint.broadcast < 0) {
    CloseUdpEndpoint(endpoint);
    return false;
  }
  return true;
}

void CloseUdpEndpoint(UdpEndpoint& endpoint) {
  for (int* fd : {&endpoint.unicast, &endpoint.broadcast}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
}

}  // namespace devsim
