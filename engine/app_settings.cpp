#include "engine/app_settings.h"

namespace veltr {

bool SetPort(int32_t portId, AppSettings& settings) {
  const bool valid = (portId >= 0 && portId <= 3) || portId == 32 || portId == 33;
  if (valid) {
    settings.port = portId;
  }
  return valid;
}

const char* PortNameOf(int32_t portId) {
  switch (portId) {
    case 0:
      return "COM1";
    case 1:
      return "COM2";
    case 2:
      return "COM3";
    case 3:
      return "COM4";
    case 32:
      return "USB";
    case 33:
      return "Ethernet";
    default:
      return "Undefined";
  }
}

}  // namespace veltr
