#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/device_type.h"

namespace veltr {

// Every lookup below treats a type outside 0 to 32 as its default row.

enum DeviceTypeValue : DeviceType {
  KL1A = 0,
  KL1A_96k = 1,
  KL1AP = 2,
  KL1B = 3,
  KL1B_96k = 4,
  MT10 = 5,
  MT10E = 6,
  MT20E = 7,
  MT40E = 8,
  MT50P = 9,
  RIFEngine = 10,
  RIFRack = 11,
  LNK40E = 12,
  PX16In = 13,
  PX16Out = 14,
  PX8_8 = 15,
  PXP16In = 16,
  PXP8_8 = 17,
  HM1 = 18,
  HS1 = 19,
  HBA210USB = 20,
  HBA310USB = 21,
  MT30E = 22,
  RIFSX7 = 23,
  PXR = 24,
  PXRFX = 25,
  PXRSeries = 26,
  MT10RFX = 27,
  MT20RFX = 28,
  MT30RFX = 29,
  VR2TP = 30,
  VR8RFX = 31,
  PL1TP = 32,
};

// The hardware version bytes as the device sends them, high byte first.
struct HardwareVersion {
  uint8_t high = 0;
  uint8_t low = 0;
  uint16_t Word() const { return static_cast<uint16_t>(high * 256 + low); }
};

inline bool IsKnownDeviceType(DeviceType type) {
  return type >= 0 && type < kDeviceTypeCount;
}

const char* GetShortName(DeviceType type);  // "KL1A", ... ; "Unknown" outside 0 to 32
const char* GetLongName(DeviceType type);   // "KL1A (Stage Box device)", ... ; "Unknown device"
std::optional<std::string> GetFileCode(DeviceType type);  // "k1a", ... ; none for 26 and others
int32_t BaudRateForType(DeviceType type);                 // 19200, 57600 or 115200
int32_t DefaultPackageVersion(DeviceType type);           // 211, ... ; 0 outside 0 to 32
std::optional<std::string> GetRevisionDigit(DeviceType type, HardwareVersion hw);
uint32_t GetLogicImageSize(DeviceType type, HardwareVersion hw);  // 0: no logic image
bool IsHardwareSupported(DeviceType type, HardwareVersion hw);
// 256-byte pages the processor flash takes: 56, 993 (RIFSX7) or 1009 (PXR and the FX generation).
uint32_t GetProcessorPageCount(DeviceType type);
// Page size of the upgrade code a USB or Ethernet device is given; 0 for a type without one.
uint32_t GetUpgradeCodePageSize(DeviceType type);
// The RIF Engine and RIF Rack are never given an upgrade code.
bool IsUpgradeCodeRefused(DeviceType type);
// False for a type whose firmware upgrade writes no logic image (MT50P).
bool HasLogicImage(DeviceType type);
// True where the package description lays down the processor image's length (LNK40E).
bool HasPackageProcessorLength(DeviceType type);
// The BIOS version a processor upgrade needs first; 0 where none is needed.
uint16_t GetMinimumBiosVersion(DeviceType type);
// Length and byte sum of the type's processor BIOS image; both 0 for a type without a writable
// BIOS.
uint32_t GetBiosImageLength(DeviceType type);
uint32_t GetBiosImageSum(DeviceType type);
// Bytes of the settings area that a settings erase overwrites: 896 or 384.
uint32_t GetSettingsAreaSize(DeviceType type, HardwareVersion hw);
// Exact 8-byte comparison in the table's matching order; -1 when nothing matches.
DeviceType TypeFromIdentifier(const uint8_t identifier[8], HardwareVersion hw);
// Type from its short name, compared exactly ("PXR(-TP)"); -1 when none has it.
DeviceType TypeFromShortName(const std::string& shortName);

// The serial number from the first 64 bytes of the EEPROM info area ("B-07-1234"); none when the
// coded letter is not 'A' to 'Z'.
std::optional<std::string> DecodeSerialNumber(const uint8_t serialArea[64]);

}  // namespace veltr
