#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/port.h"
#include "transport/socket_udp.h"

namespace veltr {

// What one discovery answer says about the device that sent it.
struct DiscoveryAnswer {
  uint32_t ip = 0;  // first octet first in memory
  DeviceType type = kNoDeviceType;
  std::string serialNumber;
  int32_t mode = -1;
};

// Decodes a datagram of length bytes (its whole length, even when longer than the bytes at
// datagram) when it is a whole discovery answer of either layout with a correct sum.
std::optional<DiscoveryAnswer> DecodeDiscoveryAnswer(const uint8_t* datagram, long length);

// Ethernet (UDP) port: one protocol frame per datagram. Without an address Open broadcasts a
// discovery request and lists whoever answers; with one it connects to that device alone.
class CVeltrPortEthernet final : public IVeltrPort, public CVeltrSocketUDP {
 public:
  explicit CVeltrPortEthernet(IVeltrNetwork& network = SystemNetwork())
      : CVeltrSocketUDP(network) {}

  ConnectResult Open(const PortSettings& settings) override;
  int32_t GetMode() const override { return mode_; }
  DeviceType GetDeviceType() const override { return deviceType_; }
  bool Close() override { return CloseSocket(); }
  bool SetTimeout(uint32_t milliseconds) override;
  bool Write(const CVeltrBuffer& buffer) override;
  bool Read(CVeltrBuffer& buffer) override;
  bool SetBaudRate(uint32_t) override { return true; }
  uint32_t GetBaudRate() const override { return 0; }
  const char* GetName() const override { return "Ethernet"; }
  PortId GetPortId() const override { return kPortEthernet; }
  std::vector<FoundDevice> FoundDevices() const override { return found_; }
  std::string LastError() const override { return lastError_; }

  // Serial number text of the device the last connecting Open identified.
  const std::string& GetSerialNumber() const { return serialNumber_; }
  // Where a discovery on udpPort sends its request: every host of the local link.
  static UdpAddress DiscoveryDestination(uint16_t udpPort) { return {kIpNone, udpPort}; }
  // The address text resolves as a dotted address when it starts with anything but a letter,
  // so a mistyped address never turns into a name look-up; 255.255.255.255 when neither works.
  UdpAddress AddressFromText(const std::string& text, uint16_t udpPort);

 private:
  struct Identity {
    bool ok = false;
    DeviceType type = kNoDeviceType;
    std::string serialNumber;
  };

  ConnectResult Connect(const PortSettings& settings);
  ConnectResult Discover(uint16_t udpPort);
  void ReceiveAnswers();
  void CheckReachability(uint16_t udpPort);
  int32_t SubnetStatus(IVeltrUdpSocket& socket, uint32_t deviceIp);
  bool Identify(bool addressed);
  bool Transaction(const uint8_t* request, uint32_t requestSize, CVeltrBuffer& answer);
  void SetSystemError(const std::string& what, int error);

  int32_t mode_ = -1;
  DeviceType deviceType_ = kNoDeviceType;
  std::string serialNumber_;
  std::vector<FoundDevice> found_;
  std::vector<uint32_t> foundIps_;  // beside found_, the address as it travels
  std::string lastError_;
};

}  // namespace veltr
