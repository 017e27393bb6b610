#pragma once

#include <cstdint>
#include <string>

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

// Codes of one connection attempt; Open returns 0, 1, 3, 9 or 10.
enum ConnectResult : int32_t {
  kConnected = 0,
  kPortNotAvailable = 1,
  kNoDeviceConnected = 2,
  kBrokenConnection = 3,
  kUpgradeCodeFailed = 5,
  kNoDeviceFound = 9,
  kSelectionRequired = 10,
};

// "Connection established", ...; any other value gives "Unknown error".
const char* ConnectResultText(int32_t code);

inline constexpr int32_t kModeUpgradeCode = 5;
inline constexpr uint16_t kDeviceUdpPort = 7890;

struct PortSettings {
  std::string name = "COM1";  // "COM1" to "COM4", "USB" or "Ethernet"
  int32_t baudRate = 19200;   // serial only
  std::string serialNumber;   // USB only; empty asks for a list
  std::string address;        // Ethernet only; empty asks for a list
  uint16_t udpPort = 0;       // Ethernet only
};

// One transport. Ports never print or show anything: every failure is a return value, and
// LastError() keeps the system's reason for the last failure in words for the front ends.
class IVeltrPort {
 public:
  virtual ~IVeltrPort() = default;

  virtual int32_t Open(const PortSettings& settings) = 0;
  virtual int32_t GetMode() const = 0;
  virtual DeviceType GetDeviceType() const = 0;
  virtual bool Close() = 0;
  virtual bool SetTimeout(uint32_t milliseconds) = 0;
  // True when all GetSize() bytes of the buffer were sent.
  virtual bool Write(const CVeltrBuffer& buffer) = 0;
  // True only when exactly GetSize() bytes arrived; never resizes the buffer.
  virtual bool Read(CVeltrBuffer& buffer) = 0;
  virtual bool SetBaudRate(uint32_t rate) = 0;
  virtual uint32_t GetBaudRate() const = 0;
  virtual const char* GetName() const = 0;  // "RS232", "USB" or "Ethernet"
  virtual int32_t GetPortId() const = 0;

  // The system's reason for the last failed operation ("permission denied on /dev/ttyS0"), or
  // empty when the last failure was not the system's.
  virtual std::string LastError() const { return {}; }
};

}  // namespace veltr
