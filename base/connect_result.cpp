#include "base/port.h"

namespace veltr {

const char* ConnectResultText(int32_t code) {
  switch (code) {
    case kConnected:
      return "Connection established";
    case kPortNotAvailable:
      return "Port not available or used by other program";
    case kNoDeviceConnected:
      return "No device connected to port";
    case kBrokenConnection:
      return "Broken connection";
    case kUpgradeCodeFailed:
      return "Failed to load upgrade code file";
    case kNoDeviceFound:
      return "Cannot detect Veltrano";
    case kSelectionRequired:
      return "Device selection required";
    default:
      return "Unknown error";
  }
}

}  // namespace veltr
