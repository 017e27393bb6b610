#pragma once

#include <cstdint>

namespace veltr {

// The user's choices. The first four are kept between runs by the front ends; the three upload
// flags come only from the command line of a run.
struct AppSettings {
  int32_t deviceType = 0;  // expected device type: decides the line speed of the search
  int32_t autoselect = 1;  // try every serial port
  int32_t selectDialog = 1;
  int32_t port = 0;  // port id: 0 to 3 COM1 to COM4, 32 USB, 33 Ethernet
  int32_t uploadLogic = 1;
  int32_t uploadProcessor = 1;
  int32_t uploadBios = 0;
};

// Stores portId when it is 0 to 3, 32 or 33; any other value changes nothing and gives false.
bool SetPort(int32_t portId, AppSettings& settings);

// "COM1" to "COM4", "USB", "Ethernet", or "Undefined" for any other value.
const char* PortNameOf(int32_t portId);

}  // namespace veltr
