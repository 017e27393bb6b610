#include "base/port.h"

namespace veltr {

const char* ConnectResultText(ConnectResult result) {
  switch (result) {
    case ConnectResult::Connected:
      return "Connection established";
    case ConnectResult::PortNotAvailable:
      return "Port not available or used by other program";
    case ConnectResult::NoDeviceConnected:
      return "No device connected to port";
    case ConnectResult::BrokenConnection:
      return "Broken connection";
    case ConnectResult::UpgradeCodeFailed:
      return "Failed to load upgrade code file";
    case ConnectResult::NoDeviceFound:
      return "Cannot detect Veltrano";
    case ConnectResult::SelectionRequired:
      return "Device selection required";
    case ConnectResult::OtherFailure:
      break;
  }
  return "Unknown error";
}

}  // namespace veltr
