#include "engine/app_settings.h"

namespace veltr {

bool SetPort(PortId port, AppSettings& settings) {
  const bool valid = IsSelectablePort(port);
  if (valid) {
    settings.port = port;
  }
  return valid;
}

const char* PortNameOf(PortId port) {
  switch (port) {
    case kPortCom1:
      return "COM1";
    case kPortCom2:
      return "COM2";
    case kPortCom3:
      return "COM3";
    case kPortCom4:
      return "COM4";
    case kPortUsb:
      return "USB";
    case kPortEthernet:
      return "Ethernet";
    default:
      return "Undefined";
  }
}

}  // namespace veltr
