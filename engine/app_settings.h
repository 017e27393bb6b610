#pragma once

#include <cstdint>

#include "base/port.h"

namespace veltr {

// The user's choices. The first four are kept between runs by the front ends; the three upload
// flags come only from the command line of a run. A job never reads them while it runs: it works
// on the copy taken when it started (JobRequest).
struct AppSettings {
  int32_t deviceType = 0;  // expected device type: decides the line speed of the search
  int32_t autoselect = 1;  // try every serial port
  int32_t selectDialog = 1;
  int32_t port = kPortCom1;  // a PortId, kept as the 32-bit value the settings store
  int32_t uploadLogic = 1;
  int32_t uploadProcessor = 1;
  int32_t uploadBios = 0;
};

// Stores the port when it is COM1 to COM4, USB or Ethernet; any other value changes nothing and
// gives false.
bool SetPort(PortId port, AppSettings& settings);

// "COM1" to "COM4", "USB", "Ethernet", or "Undefined" for any other value.
const char* PortNameOf(PortId port);

}  // namespace veltr
