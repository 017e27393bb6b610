#include "transport/port_ethernet.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "transport/device_identity.h"

namespace veltr {

namespace {

// The discovery request, framed as any command: count, code 8F, FF FF, one payload byte, sum8.
constexpr uint8_t kDiscoveryRequest[6] = {0x05, 0x8F, 0xFF, 0xFF, 0x01, 0x93};
constexpr uint32_t kLongestDiscoveryAnswer = 31;
// A discovery listens until the network has been quiet this long.
constexpr uint32_t kDiscoveryQuietTime = 500;
constexpr int kAttempts = 3;
// The reachability probe connects exactly as a connecting Open would.
constexpr uint32_t kProbeReceiveTimeout = 500;

// Where the fields sit in the two discovery answer layouts; the longer one comes from newer
// devices, which put a padding byte before the address and their identity further back.
struct DiscoveryLayout {
  uint8_t length;  // F[0]: the byte count after it
  uint8_t ip;
  uint8_t code;
  uint8_t variant;
  uint8_t serial;  // letter, number, high, low
  uint8_t mode;
};
constexpr DiscoveryLayout kDiscoveryLayouts[] = {
    {19, 5, 9, 10, 12, 18},
    {30, 6, 20, 21, 23, 29},
};

// The answers to the identify and mode requests come in datagrams of fixed sizes.
struct IdentifyLayout {
  uint32_t size;
  uint8_t code;
  uint8_t variant;
  uint8_t serial;
};
constexpr IdentifyLayout kIdentifyAddressedAnswer = {16, 4, 5, 11};
constexpr IdentifyLayout kIdentifyShortAnswer = {14, 2, 3, 9};
constexpr uint32_t kModeAddressedAnswerSize = 21;
constexpr uint8_t kModeAddressedByte = 16;
constexpr uint32_t kModeShortAnswerSize = 4;
constexpr uint8_t kModeShortByte = 2;

uint8_t Sum8(const uint8_t* data, uint32_t count) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  return sum;
}

std::optional<uint32_t> ParseDotted(const std::string& text) {
  unsigned octets[4];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &octets[0], &octets[1], &octets[2], &octets[3],
                  &tail) != 4) {
    return std::nullopt;
  }
  for (unsigned octet : octets) {
    if (octet > 255) {
      return std::nullopt;
    }
  }
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') {
      return std::nullopt;
    }
  }
  return IpFromOctets(static_cast<uint8_t>(octets[0]), static_cast<uint8_t>(octets[1]),
                      static_cast<uint8_t>(octets[2]), static_cast<uint8_t>(octets[3]));
}

}  // namespace

std::optional<DiscoveryAnswer> DecodeDiscoveryAnswer(const uint8_t* f, long length) {
  if (length < 1) {
    return std::nullopt;
  }
  for (const DiscoveryLayout& layout : kDiscoveryLayouts) {
    if (f[0] != layout.length) {
      continue;
    }
    // A datagram cut short would leave the sum and the fields behind it undefined.
    if (length < layout.length + 1 || f[1] != 0x8F || f[2] != 0xFF || f[3] != 0xFF ||
        f[4] != 0x01 || Sum8(f, layout.length) != f[layout.length]) {
      return std::nullopt;
    }
    DiscoveryAnswer answer;
    const uint8_t* ip = f + layout.ip;
    answer.ip = IpFromOctets(ip[0], ip[1], ip[2], ip[3]);
    const uint8_t* serial = f + layout.serial;
    answer.type = DecodeDeviceType(f[layout.code], f[layout.variant], serial[1]);
    answer.serialNumber = SerialNumberText(serial[0], serial[1], serial[2], serial[3]);
    answer.mode = ModeIndex(f[layout.mode]);
    return answer;
  }
  return std::nullopt;
}

UdpAddress CVeltrPortEthernet::AddressFromText(const std::string& text, uint16_t udpPort) {
  UdpAddress address{kIpNone, udpPort};
  if (!text.empty() && std::isalpha(static_cast<unsigned char>(text[0]))) {
    if (std::optional<uint32_t> ip = network_.LookUpHost(text)) {
      address.ip = *ip;
    }
  } else if (std::optional<uint32_t> ip = ParseDotted(text)) {
    address.ip = *ip;
  }
  return address;
}

ConnectResult CVeltrPortEthernet::Open(const PortSettings& settings) {
  lastError_.clear();
  if (settings.address.empty()) {
    return Discover(settings.udpPort);
  }
  return Connect(settings);
}

ConnectResult CVeltrPortEthernet::Connect(const PortSettings& settings) {
  if (!IsSocketOpen() && !MakeSocket(false)) {
    SetSystemError("cannot make a UDP socket", errno);
    CloseSocket();
    return ConnectResult::PortNotAvailable;
  }
  const UdpAddress address = AddressFromText(settings.address, settings.udpPort);
  if (!CVeltrSocketUDP::Connect(address)) {
    // An address text that resolved to nothing ends here too: a connected socket without
    // broadcast permission refuses 255.255.255.255.
    if (address.ip == kIpNone && settings.address != IpText(kIpNone)) {
      lastError_ = std::isalpha(static_cast<unsigned char>(settings.address[0]))
                       ? "the host name \"" + settings.address + "\" is not known"
                       : "\"" + settings.address + "\" is not a dotted IPv4 address";
    } else {
      SetSystemError("cannot reach " + settings.address, socket_->LastErrno());
    }
    CloseSocket();
    return ConnectResult::PortNotAvailable;
  }
  if (!Identify(true) && !Identify(false)) {
    CloseSocket();
    return ConnectResult::BrokenConnection;
  }
  return ConnectResult::Connected;
}

// The addressed form first; devices that do not know it answer only the short form. Type and
// serial number are taken from each identify answer as it comes, so a short identify after a
// failed addressed mode request replaces them.
bool CVeltrPortEthernet::Identify(bool addressed) {
  const IdentifyLayout& layout = addressed ? kIdentifyAddressedAnswer : kIdentifyShortAnswer;
  CVeltrBuffer identify;
  if (!identify.Resize(layout.size) ||
      !Transaction(addressed ? kIdentifyAddressed : kIdentifyShort, addressed ? 5 : 3, identify)) {
    return false;
  }
  const uint8_t* f = identify.At(0);
  const uint8_t* serial = f + layout.serial;
  deviceType_ = DecodeDeviceType(f[layout.code], f[layout.variant], serial[1]);
  serialNumber_ = SerialNumberText(serial[0], serial[1], serial[2], serial[3]);

  CVeltrBuffer mode;
  if (!mode.Resize(addressed ? kModeAddressedAnswerSize : kModeShortAnswerSize) ||
      !Transaction(addressed ? kModeAddressed : kModeShort, addressed ? 5 : 3, mode)) {
    return false;
  }
  mode_ = ModeIndex(*mode.At(addressed ? kModeAddressedByte : kModeShortByte));
  return true;
}

bool CVeltrPortEthernet::Transaction(const uint8_t* request, uint32_t requestSize,
                                     CVeltrBuffer& answer) {
  CVeltrBuffer frame;
  if (!frame.Resize(requestSize)) {
    return false;
  }
  std::memcpy(frame.At(0), request, requestSize);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (Write(frame) && Read(answer) && *answer.At(0) != 0) {
      return true;
    }
  }
  return false;
}

ConnectResult CVeltrPortEthernet::Discover(uint16_t udpPort) {
  found_.clear();
  foundIps_.clear();
  // A socket left connected to one device has no broadcast permission: start afresh.
  CloseSocket();
  if (!MakeSocket(true)) {
    SetSystemError("cannot make a broadcast UDP socket", errno);
    CloseSocket();
    return ConnectResult::PortNotAvailable;
  }
  // Devices answer to the port they were asked from, so the request must leave from udpPort.
  if (!socket_->Bind(udpPort)) {
    const int error = socket_->LastErrno();
    if (error == EADDRINUSE) {
      lastError_ = "UDP port " + std::to_string(udpPort) + " is in use by another program";
    } else {
      SetSystemError("cannot listen on UDP port " + std::to_string(udpPort), error);
    }
    CloseSocket();
    return ConnectResult::PortNotAvailable;
  }
  if (!socket_->SetReceiveTimeout(kDiscoveryQuietTime)) {
    SetSystemError("cannot set the receive time-out", socket_->LastErrno());
    CloseSocket();
    return ConnectResult::PortNotAvailable;
  }
  CVeltrBuffer request;
  if (!request.Resize(sizeof kDiscoveryRequest)) {
    CloseSocket();
    return ConnectResult::NoDeviceFound;
  }
  std::memcpy(request.At(0), kDiscoveryRequest, sizeof kDiscoveryRequest);
  if (!SendTo(request, DiscoveryDestination(udpPort))) {
    SetSystemError("cannot send the discovery request", socket_->LastErrno());
    CloseSocket();
    return ConnectResult::NoDeviceFound;
  }
  ReceiveAnswers();
  CloseSocket();
  CheckReachability(udpPort);
  return found_.empty() ? ConnectResult::NoDeviceFound : ConnectResult::SelectionRequired;
}

// Anything that is not a whole answer is skipped, the copy of our own request that the bound
// socket may hear included; listening ends when the network stays quiet.
void CVeltrPortEthernet::ReceiveAnswers() {
  for (;;) {
    uint8_t datagram[kLongestDiscoveryAnswer] = {};
    const long length = socket_->Receive(datagram, sizeof datagram);
    if (length <= 0) {
      return;
    }
    // Both layouts fit the buffer, so a longer datagram still has all its fields in it.
    const std::optional<DiscoveryAnswer> answer = DecodeDiscoveryAnswer(datagram, length);
    if (!answer) {
      continue;
    }
    FoundDevice device;
    device.type = answer->type;
    device.mode = answer->mode;
    device.status = kDeviceOk;
    device.serialNumber = answer->serialNumber;
    device.address = IpText(answer->ip);
    found_.push_back(device);
    foundIps_.push_back(answer->ip);
  }
}

// A device may answer a broadcast from a subnet this machine cannot talk to directly (a
// misconfigured address); it is listed, but cannot be chosen.
void CVeltrPortEthernet::CheckReachability(uint16_t udpPort) {
  for (size_t i = 0; i < found_.size(); ++i) {
    std::unique_ptr<IVeltrUdpSocket> probe = network_.MakeSocket();
    if (!probe) {
      continue;
    }
    if (!probe->Connect({foundIps_[i], udpPort}) ||
        !probe->SetReceiveTimeout(kProbeReceiveTimeout)) {
      found_[i].status = kDeviceNotReachable;
      continue;
    }
    found_[i].status = SubnetStatus(*probe, foundIps_[i]);
  }
}

int32_t CVeltrPortEthernet::SubnetStatus(IVeltrUdpSocket& socket, uint32_t deviceIp) {
  const std::optional<uint32_t> local = socket.LocalAddress();
  if (!local) {
    return kDeviceOk;
  }
  const std::optional<std::vector<NetInterface>> interfaces = network_.LocalInterfaces();
  if (!interfaces) {
    return kDeviceOk;
  }
  for (const NetInterface& item : *interfaces) {
    if (item.up && !item.loopback && item.address == *local &&
        (item.netmask & deviceIp) == (item.netmask & *local)) {
      return kDeviceOk;
    }
  }
  return kDeviceNotReachable;
}

bool CVeltrPortEthernet::SetTimeout(uint32_t milliseconds) {
  return IsSocketOpen() && socket_->SetReceiveTimeout(milliseconds);
}

bool CVeltrPortEthernet::Write(const CVeltrBuffer& buffer) {
  if (buffer.GetSize() == 0) {
    return true;
  }
  if (!IsSocketOpen()) {
    lastError_ = "the Ethernet port is not open";
    return false;
  }
  // Datagrams that came in since the last exchange, a late or duplicated answer above all, are
  // thrown away as the serial port's purge throws away bytes: read as the answer to this
  // request, each answer after it would be one behind.
  socket_->DiscardPending();
  const long sent = socket_->Send(buffer.At(0), buffer.GetSize());
  if (sent < 0) {
    SetSystemError("cannot send to the device", socket_->LastErrno());
  }
  return sent == static_cast<long>(buffer.GetSize());
}

bool CVeltrPortEthernet::Read(CVeltrBuffer& buffer) {
  if (buffer.GetSize() == 0) {
    return true;
  }
  if (!IsSocketOpen()) {
    lastError_ = "the Ethernet port is not open";
    return false;
  }
  const long received = socket_->Receive(buffer.At(0), buffer.GetSize());
  return received == static_cast<long>(buffer.GetSize());
}

void CVeltrPortEthernet::SetSystemError(const std::string& what, int error) {
  lastError_ = what + ": " + std::strerror(error);
}

}  // namespace veltr
