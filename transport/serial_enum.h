#pragma once

#include <string>
#include <vector>

namespace veltr {

// One serial device of this machine, as `veltr ports` lists it.
struct SerialDeviceInfo {
  std::string path;        // "/dev/ttyUSB0"
  std::string byIdPath;    // its stable "/dev/serial/by-id/..." name, empty when it has none
  std::string driver;      // "ftdi_sio", "cdc_acm", "serial", ...; empty when unknown
  bool available = false;  // could be opened for reading and writing just now
  std::string problem;     // why not, in words ("permission denied on ..."); empty when available
};

// The ttys the kernel has bound to a device, sorted by path ("ttyS2" before "ttyS10"). Port
// nodes of an 8250 driver without a UART behind them are left out.
std::vector<SerialDeviceInfo> ListSerialDevices();

}  // namespace veltr
