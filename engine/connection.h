#pragma once

#include <cstdint>
#include <string>

#include "base/port.h"
#include "protocol/device_types.h"
#include "protocol/result_code.h"

namespace veltr {

class UpgradeEngine;

// What the search hands to one attempt.
struct ConnectRequest {
  DeviceType expectedType = 0;
  PortId port = kPortCom1;  // COM1 to COM4, USB or Ethernet
  std::string chosenUsbDevice;
  std::string chosenEthernetDevice;
  bool coldBoot = false;
};

// The connection search every job starts with, on the engine's request. True when connected
// (also when it was already); on failure the job outcome is NoDeviceFound (nothing answered) or
// SelectionRequired (a device must be chosen).
bool Search(UpgradeEngine& engine);

// One port: open it, bring the device into program mode, identify it and read its EEPROM.
// Connected on success; otherwise the port is closed again.
ConnectResult Attempt(UpgradeEngine& engine, const ConnectRequest& request);

// The connection result that a failed step inside an attempt shows: a command's or procedure's
// ResultCode read as the connection code of the same number ("no response" is "No device
// connected to port"); codes without a connection text of their own give OtherFailure.
ConnectResult ConnectResultOf(ResultCode result);

// Serial only: waits about ten tries of one read for the carriage return a freshly powered device
// sends, then sends the program-mode request right behind it.
[[nodiscard]] bool ColdBootWait(UpgradeEngine& engine, PortId port);

// Takes the device out of program mode and closes the port; Ok when not connected.
ResultCode Disconnect(UpgradeEngine& engine);

}  // namespace veltr
