#pragma once

#include "protocol/device_types.h"
#include "protocol/result_code.h"

namespace veltr {

class UpgradeEngine;

// The procedures that write into a connected device over the engine's current port. Each reports
// on page 1 of the display and returns the ResultCode of its first failing step; the device stays
// in program mode and the port stays open.

// Loads the upgrade code into a USB or Ethernet device that does not run it yet, then starts it.
ResultCode UploadUpgradeCode(UpgradeEngine& engine, DeviceType reportedType);
ResultCode UploadLogicDsp(UpgradeEngine& engine);
// The processor image, or the BIOS image with the BIOS flag; a placeholder goes to page 0 first
// and the real page 0 last, so an interrupted upload never leaves a half image that starts.
ResultCode UploadProcessor(UpgradeEngine& engine);
// The build text and the package version into the EEPROM.
ResultCode RecordUpgrade(UpgradeEngine& engine);
// The uploads of a firmware upgrade, as its flags and the device type ask: logic, processor (or
// BIOS), then the record. Every image is read and checked before the first page goes out, so a
// missing or damaged file leaves the device with the firmware it had.
ResultCode UploadFirmware(UpgradeEngine& engine);
ResultCode UploadUserText(UpgradeEngine& engine);
ResultCode EraseDeviceSettings(UpgradeEngine& engine);

}  // namespace veltr
