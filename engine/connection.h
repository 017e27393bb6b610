#pragma once

#include <cstdint>
#include <string>

#include "protocol/device_types.h"

namespace veltr {

class UpgradeEngine;

// What the search hands to one attempt.
struct ConnectRequest {
  DeviceType expectedType = 0;
  std::string portName;  // "COM1" to "COM4", "USB" or "Ethernet"
  std::string chosenUsbDevice;
  std::string chosenEthernetDevice;
  int32_t coldBoot = 0;
};

// The connection search every job starts with. True when connected (also when it was already);
// on failure the job result is 9 (nothing answered) or 10 (a device must be chosen).
bool Search(UpgradeEngine& engine);

// One port: open it, bring the device into program mode, identify it and read its EEPROM. 0 on
// success; otherwise a connection result or ResultCode, and the port is closed again.
int32_t Attempt(UpgradeEngine& engine, const ConnectRequest& request);

// Serial only: waits about ten tries of one read for the carriage return a freshly powered device
// sends, then sends the program-mode request right behind it.
bool ColdBootWait(UpgradeEngine& engine, const std::string& portName);

// Takes the device out of program mode and closes the port; 0 when not connected.
int32_t Disconnect(UpgradeEngine& engine);

}  // namespace veltr
