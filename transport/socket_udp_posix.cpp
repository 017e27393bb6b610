#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "transport/socket_udp.h"

namespace veltr {

namespace {

sockaddr_in ToSockaddr(const UdpAddress& address) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(address.port);
  out.sin_addr.s_addr = address.ip;  // already in network order
  return out;
}

uint32_t IpOf(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) {
    return 0;
  }
  return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
}

class CPosixUdpSocket final : public IVeltrUdpSocket {
 public:
  explicit CPosixUdpSocket(int fd) : fd_(fd) {}
  ~CPosixUdpSocket() override { ::close(fd_); }
  CPosixUdpSocket(const CPosixUdpSocket&) = delete;
  CPosixUdpSocket& operator=(const CPosixUdpSocket&) = delete;

  bool EnableBroadcast() override {
    const int on = 1;
    return Check(::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on));
  }
  bool Bind(uint16_t port) override {
    sockaddr_in local = ToSockaddr({htonl(INADDR_ANY), port});
    return Check(::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local));
  }
  bool Connect(const UdpAddress& to) override {
    sockaddr_in remote = ToSockaddr(to);
    return Check(::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote));
  }
  bool SetReceiveTimeout(uint32_t milliseconds) override {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
    tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return Check(::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv));
  }
  long Send(const uint8_t* data, uint32_t size) override {
    return Count(::send(fd_, data, size, MSG_NOSIGNAL));
  }
  long SendTo(const uint8_t* data, uint32_t size, const UdpAddress& to) override {
    sockaddr_in remote = ToSockaddr(to);
    return Count(::sendto(fd_, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&remote),
                          sizeof remote));
  }
  long Receive(uint8_t* data, uint32_t size) override {
    // MSG_TRUNC gives the datagram's whole length, so a longer one is not taken for a fit.
    for (;;) {
      const ssize_t n = ::recv(fd_, data, size, MSG_TRUNC);
      if (n >= 0 || errno != EINTR) {
        return Count(n);
      }
    }
  }
  void DiscardPending() override {
    // One byte is enough: a datagram is taken whole however little of it is kept. The cap
    // only guards against a sender that never stops.
    uint8_t byte = 0;
    for (int i = 0; i < 1024; ++i) {
      if (::recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_TRUNC) < 0 && errno != EINTR) {
        return;
      }
    }
  }
  std::optional<uint32_t> LocalAddress() override {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (!Check(::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length))) {
      return std::nullopt;
    }
    return local.sin_addr.s_addr;
  }
  int LastErrno() const override { return errno_; }

 private:
  bool Check(int result) {
    if (result != 0) {
      errno_ = errno;
    }
    return result == 0;
  }
  long Count(ssize_t result) {
    if (result < 0) {
      errno_ = errno;
    }
    return static_cast<long>(result);
  }

  int fd_;
  int errno_ = 0;
};

class CPosixNetwork final : public IVeltrNetwork {
 public:
  std::unique_ptr<IVeltrUdpSocket> MakeSocket() override {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
      return nullptr;
    }
    return std::make_unique<CPosixUdpSocket>(fd);
  }

  std::optional<std::vector<NetInterface>> LocalInterfaces() override {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
      return std::nullopt;
    }
    std::vector<NetInterface> interfaces;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
        continue;
      }
      NetInterface item;
      item.name = entry->ifa_name;
      item.up = (entry->ifa_flags & IFF_UP) != 0;
      item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
      item.address = IpOf(entry->ifa_addr);
      item.netmask = IpOf(entry->ifa_netmask);
      if ((entry->ifa_flags & IFF_BROADCAST) != 0) {
        item.broadcast = IpOf(entry->ifa_broadaddr);
      }
      interfaces.push_back(item);
    }
    ::freeifaddrs(list);
    return interfaces;
  }

  std::optional<uint32_t> LookUpHost(const std::string& name) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
      return std::nullopt;
    }
    const uint32_t ip = IpOf(found->ai_addr);
    ::freeaddrinfo(found);
    return ip;
  }
};

}  // namespace

IVeltrNetwork& SystemNetwork() {
  static CPosixNetwork network;
  return network;
}

}  // namespace veltr
