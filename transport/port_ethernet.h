#pragma once

#include "base/port.h"

namespace veltr {

// Ethernet (UDP) port. Until the network transport is in, it finds no device.
class CVeltrPortEthernet final : public IVeltrPort {
 public:
  ConnectResult Open(const PortSettings& settings) override;
  int32_t GetMode() const override { return -1; }
  DeviceType GetDeviceType() const override { return kNoDeviceType; }
  bool Close() override { return true; }
  bool SetTimeout(uint32_t) override { return false; }
  bool Write(const CVeltrBuffer&) override { return false; }
  bool Read(CVeltrBuffer&) override { return false; }
  bool SetBaudRate(uint32_t) override { return true; }
  uint32_t GetBaudRate() const override { return 0; }
  const char* GetName() const override { return "Ethernet"; }
  PortId GetPortId() const override { return kPortEthernet; }
  std::vector<FoundDevice> FoundDevices() const override { return {}; }
};

}  // namespace veltr
