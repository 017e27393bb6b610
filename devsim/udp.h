// The simulator's sockets on the network: one bound to the device's own address for everything a
// host sends to it, and one bound to the limited broadcast address for discovery requests, which
// a socket bound to a unicast address never sees on Linux.
#pragma once

#include <cstdint>
#include <string>

namespace devsim {

constexpr std::uint16_t kDeviceUdpPort = 7890;

struct UdpEndpoint {
  int unicast = -1;
  int broadcast = -1;
  std::uint8_t ip[4] = {0, 0, 0, 0};  // first octet first
};

// address: a dotted IPv4 address of this host. Both sockets allow other devices on the same port.
bool OpenUdpEndpoint(const std::string& address, std::uint16_t port, UdpEndpoint& endpoint,
                     std::string* error);
void CloseUdpEndpoint(UdpEndpoint& endpoint);

}  // namespace devsim
