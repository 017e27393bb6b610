#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/device_type.h"

namespace veltr {

// The number that names a port everywhere (settings, dialogs, GetPortId).
enum PortId : int32_t {
  kPortCom1 = 0,
  kPortCom2 = 1,
  kPortCom3 = 2,
  kPortCom4 = 3,
  kPortUsb = 32,
  kPortEthernet = 33,
  kPortSerialObject = 34,  // what the serial port object itself answers; never stored
};

inline constexpr int kSerialPortCount = 4;

// COM1 to COM4.
constexpr bool IsComPort(int32_t id) {
  return id >= kPortCom1 && id <= kPortCom4;
}
// The ports a setting may name: COM1 to COM4, USB and Ethernet.
constexpr bool IsSelectablePort(int32_t id) {
  return IsComPort(id) || id == kPortUsb || id == kPortEthernet;
}
inline constexpr PortId kSelectablePorts[] = {kPortCom1, kPortCom2, kPortCom3,
                                              kPortCom4, kPortUsb,  kPortEthernet};

// Codes of one connection attempt; Open gives Connected, PortNotAvailable, BrokenConnection,
// NoDeviceFound or SelectionRequired. The numbers are those of the ResultCode set where both
// define one, which is what the status lines have always shown for a failed command.
enum class [[nodiscard]] ConnectResult : int32_t{
    Connected = 0,
    PortNotAvailable = 1,
    NoDeviceConnected = 2,
    BrokenConnection = 3,
    UpgradeCodeFailed = 5,
    NoDeviceFound = 9,
    SelectionRequired = 10,
    // A step of the attempt failed in a way that no connection text names.
    OtherFailure = -1,
};

// "Connection established", ...; OtherFailure and any unnamed value give "Unknown error".
const char* ConnectResultText(ConnectResult result);

inline constexpr int32_t kModeUpgradeCode = 5;
inline constexpr uint16_t kDeviceUdpPort = 7890;

struct PortSettings {
  std::string name = "COM1";  // "COM1" to "COM4", "USB" or "Ethernet"
  int32_t baudRate = 19200;   // serial only
  std::string serialNumber;   // USB only; empty asks for a list
  std::string address;        // Ethernet only; empty asks for a list
  uint16_t udpPort = 0;       // Ethernet only
};

// One device that a listing Open found on USB or Ethernet. Only a device with status 0 can be
// chosen; the others carry no meaningful type, mode or serial number.
struct FoundDevice {
  DeviceType type = kNoDeviceType;
  int32_t mode = -1;    // 0 to 4 the console family served, 5 its upgrade code, -1 unknown
  int32_t status = -1;  // 0 ok, 1 not responding, 2 not available, 3 not reachable
  std::string serialNumber;
  std::string address;  // Ethernet only: the dotted address
};

// One transport. Ports never print or show anything: every failure is a return value, and
// LastError() keeps the system's reason for the last failure in words for the front ends.
class IVeltrPort {
 public:
  virtual ~IVeltrPort() = default;

  [[nodiscard]] virtual ConnectResult Open(const PortSettings& settings) = 0;
  virtual int32_t GetMode() const = 0;
  virtual DeviceType GetDeviceType() const = 0;
  [[nodiscard]] virtual bool Close() = 0;
  [[nodiscard]] virtual bool SetTimeout(uint32_t milliseconds) = 0;
  // True when all GetSize() bytes of the buffer were sent.
  [[nodiscard]] virtual bool Write(const CVeltrBuffer& buffer) = 0;
  // True only when exactly GetSize() bytes arrived; never resizes the buffer.
  [[nodiscard]] virtual bool Read(CVeltrBuffer& buffer) = 0;
  [[nodiscard]] virtual bool SetBaudRate(uint32_t rate) = 0;
  virtual uint32_t GetBaudRate() const = 0;
  virtual const char* GetName() const = 0;  // "RS232", "USB" or "Ethernet"
  virtual PortId GetPortId() const = 0;
  // What the last listing Open found, in the order it found them; kept until the next listing
  // Open, so that the device choice can read it after the job. Empty for the serial port.
  virtual std::vector<FoundDevice> FoundDevices() const = 0;

  // The system's reason for the last failed operation ("permission denied on /dev/ttyS0"), or
  // empty when the last failure was not the system's.
  virtual std::string LastError() const { return {}; }
};

// Leaves a port closed after a step has already failed: that failure is what the caller
// reports, and a close that fails as well changes nothing the user could act on.
inline void CloseAfterFailure(IVeltrPort& port) {
  static_cast<void>(port.Close());
}

}  // namespace veltr
