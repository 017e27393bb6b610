#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "base/port.h"
#include "transport/hid_backend.h"

namespace veltr {

// USB HID port: protocol frames travel in the payload of HID output and input reports.
class CVeltrPortUSB final : public IVeltrPort {
 public:
  explicit CVeltrPortUSB(std::unique_ptr<IVeltrHidBackend> backend);
  ~CVeltrPortUSB() override;
  CVeltrPortUSB(const CVeltrPortUSB&) = delete;
  CVeltrPortUSB& operator=(const CVeltrPortUSB&) = delete;

  // A serial number connects to that device; an empty one lists every device and leaves the
  // port closed (SelectionRequired, or NoDeviceFound when the list is empty).
  ConnectResult Open(const PortSettings& settings) override;
  int32_t GetMode() const override { return mode_; }
  DeviceType GetDeviceType() const override { return deviceType_; }
  bool Close() override;
  bool SetTimeout(uint32_t milliseconds) override;
  bool Write(const CVeltrBuffer& buffer) override;
  bool Read(CVeltrBuffer& buffer) override;
  bool SetBaudRate(uint32_t) override { return true; }
  uint32_t GetBaudRate() const override { return 0; }
  const char* GetName() const override { return "USB"; }
  PortId GetPortId() const override { return kPortUsb; }
  std::vector<FoundDevice> FoundDevices() const override { return found_; }
  std::string LastError() const override { return lastError_; }

  // The serial number text of the connected device.
  const std::string& SerialNumber() const { return serialNumber_; }

  static constexpr uint32_t kAreaSize = 512;

 private:
  // Reports lie back to back in the block; the first byte of each is the report id, always 0.
  struct ReportArea {
    std::array<uint8_t, kAreaSize> block{};
    uint32_t reportLength = 0;  // report id byte included
    uint32_t reportCount = 0;
  };

  // What an identify answer says, when its layout is one the port knows.
  struct Identity {
    DeviceType type = kNoDeviceType;
    std::string serialNumber;
  };
  enum class Form { Addressed, Short };
  enum class Identified { NoAnswer, Undecodable, Decoded };

  bool OpenNode(const std::string& node);
  bool ReadReportLengths();
  void CloseHandle();
  bool WriteArea();
  bool ReadReports(uint32_t count);
  bool Transaction(const uint8_t* request, uint32_t size);
  Identified Identify(Form& form, Identity& identity);
  bool AskMode(Form form, int32_t& mode);
  ConnectResult Connect(const std::string& serialNumber);
  ConnectResult List();

  std::unique_ptr<IVeltrHidBackend> backend_;
  int handle_ = -1;
  ReportArea output_;
  ReportArea input_;
  DeviceType deviceType_ = kNoDeviceType;
  int32_t mode_ = -1;
  std::string serialNumber_;
  std::vector<FoundDevice> found_;
  uint32_t readTimeoutMs_ = 1000;
  std::string lastError_;
  std::string openError_;  // why the last node that would not open did not
};

}  // namespace veltr
