#include "transport/socket_udp.h"

#include <cstdio>
#include <cstring>

namespace veltr {

namespace {

// Every connected socket, whether for the device exchange or for the reachability check, waits
// half a second for an answer before a transaction counts the attempt as lost.
constexpr uint32_t kConnectReceiveTimeout = 500;

}  // namespace

uint32_t IpFromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t octets[4] = {a, b, c, d};
  uint32_t ip = 0;
  std::memcpy(&ip, octets, sizeof ip);
  return ip;
}

std::string IpText(uint32_t ip) {
  uint8_t octets[4];
  std::memcpy(octets, &ip, sizeof octets);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
  return text;
}

bool CVeltrSocketUDP::CloseSocket() {
  socket_.reset();
  return true;
}

bool CVeltrSocketUDP::MakeSocket(bool broadcast) {
  socket_ = network_.MakeSocket();
  if (!socket_) {
    return false;
  }
  if (broadcast && !socket_->EnableBroadcast()) {
    return false;
  }
  return true;
}

bool CVeltrSocketUDP::Connect(const UdpAddress& address) {
  if (!socket_) {
    return false;
  }
  return socket_->Connect(address) && socket_->SetReceiveTimeout(kConnectReceiveTimeout);
}

bool CVeltrSocketUDP::SendTo(const CVeltrBuffer& buffer, const UdpAddress& address) {
  if (buffer.GetSize() == 0) {
    return true;
  }
  if (!socket_) {
    return false;
  }
  const long sent = socket_->SendTo(buffer.At(0), buffer.GetSize(), address);
  return sent == static_cast<long>(buffer.GetSize());
}

bool StartNetwork() {
  return true;
}

}  // namespace veltr
