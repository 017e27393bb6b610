#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltr {

inline constexpr uint16_t kVeltrUsbVendorId = 0x0925;
inline constexpr uint16_t kVeltrUsbProductId = 0x0050;

// The HID access under the USB port: finds the devices, opens one node at a time per handle
// and moves whole reports. Every report that crosses this seam starts with its report id byte
// (always 0), so a length counts that byte too: 64 data bytes make a 65-byte report.
class IVeltrHidBackend {
 public:
  virtual ~IVeltrHidBackend() = default;

  // The nodes of the present HID devices with vendor 0x0925 and product 0x0050, in the order
  // the system lists them. Other devices are left untouched.
  virtual std::vector<std::string> Enumerate() = 0;
  // A handle for the node, or -1 (LastError() says why).
  virtual int Open(const std::string& node) = 0;
  // Input and output report lengths, report id byte included; false when unknown.
  virtual bool ReportLengths(int handle, uint32_t& input, uint32_t& output) = 0;
  // Writes one output report of length bytes; true when all of it went out.
  virtual bool WriteReport(int handle, const uint8_t* report, uint32_t length) = 0;
  // Reads one input report of length bytes into report, waiting at most timeoutMs for it; true
  // only when a whole report arrived. A device that went away fails here like a time-out.
  virtual bool ReadReport(int handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) = 0;
  // Throws away the input reports waiting on the handle, without waiting for more.
  virtual void DiscardInput(int handle) = 0;
  virtual bool Close(int handle) = 0;
  // Why the last Open or transfer failed, in words naming the node; empty when not known.
  virtual std::string LastError() const = 0;
};

}  // namespace veltr
