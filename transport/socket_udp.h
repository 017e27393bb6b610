#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/buffer.h"

namespace veltr {

// An IPv4 address as it travels on the network: first octet first in memory. The port number
// is kept in host order and turned round only where a system call needs it.
struct UdpAddress {
  uint32_t ip = 0;
  uint16_t port = 0;
};

uint32_t IpFromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// "%u.%u.%u.%u" of the four octets.
std::string IpText(uint32_t ip);
inline constexpr uint32_t kIpNone = 0xFFFFFFFFu;  // 255.255.255.255, also the broadcast address

// One local IPv4 interface, addresses in network order.
struct NetInterface {
  std::string name;
  bool up = false;
  bool loopback = false;
  uint32_t address = 0;
  uint32_t netmask = 0;
  uint32_t broadcast = 0;
};

// One datagram socket of the system. The system calls live behind this so that tests can answer
// a broadcast in-process: no test ever lets a real socket send one.
class IVeltrUdpSocket {
 public:
  virtual ~IVeltrUdpSocket() = default;
  virtual bool EnableBroadcast() = 0;
  // Binds to any local address on port.
  virtual bool Bind(uint16_t port) = 0;
  virtual bool Connect(const UdpAddress& to) = 0;
  virtual bool SetReceiveTimeout(uint32_t milliseconds) = 0;
  // Bytes sent, or -1.
  virtual long Send(const uint8_t* data, uint32_t size) = 0;
  virtual long SendTo(const uint8_t* data, uint32_t size, const UdpAddress& to) = 0;
  // The whole length of the next datagram, even when only size bytes of it fit; -1 on a
  // time-out or an error.
  virtual long Receive(uint8_t* data, uint32_t size) = 0;
  // Throws away the datagrams waiting on the socket, without waiting for more.
  virtual void DiscardPending() = 0;
  // The local address the system chose for a connected socket.
  virtual std::optional<uint32_t> LocalAddress() = 0;
  // errno of the last failed call.
  virtual int LastErrno() const = 0;
};

// What the Ethernet port asks of the system besides single sockets.
class IVeltrNetwork {
 public:
  virtual ~IVeltrNetwork() = default;
  // Null with errno set when the system has no socket to give.
  virtual std::unique_ptr<IVeltrUdpSocket> MakeSocket() = 0;
  // The IPv4 interfaces of this machine; none when the system refuses the list.
  virtual std::optional<std::vector<NetInterface>> LocalInterfaces() = 0;
  // The first IPv4 address of a host name; none when the name is unknown.
  virtual std::optional<uint32_t> LookUpHost(const std::string& name) = 0;
};

// The network of this machine: POSIX sockets, getifaddrs and getaddrinfo.
IVeltrNetwork& SystemNetwork();

// Owner of one UDP socket; the socket closes with its owner.
class CVeltrSocketUDP {
 public:
  explicit CVeltrSocketUDP(IVeltrNetwork& network) : network_(network) {}
  virtual ~CVeltrSocketUDP() = default;
  CVeltrSocketUDP(const CVeltrSocketUDP&) = delete;
  CVeltrSocketUDP& operator=(const CVeltrSocketUDP&) = delete;

  // True when the socket was closed already or is closed now.
  virtual bool CloseSocket();
  // Connects the open socket to address and gives it a 500 ms receive time-out.
  bool Connect(const UdpAddress& address);
  // One datagram with the whole buffer; true at once for an empty buffer.
  bool SendTo(const CVeltrBuffer& buffer, const UdpAddress& address);

 protected:
  bool IsSocketOpen() const { return socket_ != nullptr; }
  bool MakeSocket(bool broadcast);
  IVeltrNetwork& network_;
  std::unique_ptr<IVeltrUdpSocket> socket_;
};

// The network start-up the application runs once. POSIX sockets need none, so it succeeds.
bool StartNetwork();

}  // namespace veltr
