#pragma once

#include <chrono>
#include <string>

#include "base/port.h"
#include "transport/port_map.h"

namespace veltr {

// A COM port on a Linux tty: raw 8N1, no flow control, DTR and RTS off, with the read time-outs of
// the platform the devices were first served from (an interval between bytes and a total of
// constant + n x multiplier).
class CVeltrPortRS232 final : public IVeltrPort {
 public:
  // map: where "COM1" to "COM4" live; must outlive the port. Null uses the default paths.
  explicit CVeltrPortRS232(const CVeltrPortMap* map = nullptr);
  ~CVeltrPortRS232() override;

  ConnectResult Open(const PortSettings& settings) override;
  int32_t GetMode() const override { return kModeUpgradeCode; }
  DeviceType GetDeviceType() const override { return kNoDeviceType; }
  bool Close() override;
  bool SetTimeout(uint32_t milliseconds) override;
  bool Write(const CVeltrBuffer& buffer) override;
  bool Read(CVeltrBuffer& buffer) override;
  bool SetBaudRate(uint32_t rate) override;
  uint32_t GetBaudRate() const override;
  const char* GetName() const override { return "RS232"; }
  PortId GetPortId() const override { return kPortSerialObject; }
  std::vector<FoundDevice> FoundDevices() const override { return {}; }
  std::string LastError() const override { return lastError_; }

  bool IsOpen() const { return fd_ >= 0; }
  // The device path opened by the last Open ("/dev/ttyS2").
  const std::string& DevicePath() const { return path_; }

 private:
  // The five COM time-outs, in milliseconds; 0 means that time-out is not used.
  struct Timeouts {
    uint32_t readInterval;
    uint32_t readTotalMultiplier;
    uint32_t readTotalConstant;
    uint32_t writeTotalMultiplier;
    uint32_t writeTotalConstant;
  };

  bool ResolvePath(const std::string& name);
  bool OpenDevice();
  bool ApplyLineSettings(uint32_t baudRate);
  bool DropModemLines();
  bool CloseDevice();
  bool NotOpen();
  void SetSystemError(const char* what);

  const CVeltrPortMap* map_;
  int fd_ = -1;
  std::string path_;
  Timeouts timeouts_{};
  std::string lastError_;
};

}  // namespace veltr
