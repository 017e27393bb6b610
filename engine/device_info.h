#pragma once

#include <cstdint>
#include <string>

#include "protocol/device_types.h"

namespace veltr {

class IVeltrDisplay;
struct DeviceIdentity;
struct EepromInfoRecord;

// A version word, high byte first on the wire.
struct VersionWord {
  uint8_t high = 0;
  uint8_t low = 0;
  uint16_t Word() const { return static_cast<uint16_t>(high * 256 + low); }
  static VersionWord Of(uint32_t word) {
    return {static_cast<uint8_t>((word >> 8) & 0xFF), static_cast<uint8_t>(word & 0xFF)};
  }
};

// The engine's record of the connected device. Texts are narrow, as the device keeps them.
struct DeviceInfo {
  DeviceType type = kNoDeviceType;
  VersionWord hardwareVersion;
  VersionWord uploaderVersion;  // the BIOS version on PXR(-TP) and PXR-FX
  VersionWord logicVersion;
  VersionWord processorVersion;
  std::string userText[2];
  std::string serialNumber;

  HardwareVersion Hardware() const { return {hardwareVersion.high, hardwareVersion.low}; }
  void TakeIdentity(const DeviceIdentity& identity);
  void TakeEeprom(const EepromInfoRecord& record);
};

// "%d.%02d" of word / 100 and word % 100: 211 reads "2.11".
std::string FormatVersion(uint32_t word);

// Lines 6 to 13 of page 0 and the title: the connected device's description.
void WriteDeviceInfoLines(IVeltrDisplay* display, const DeviceInfo& info);

}  // namespace veltr
