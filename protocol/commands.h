#pragma once

// The eleven commands the upgrade console sends to a device.

#include <cstdint>
#include <string>

#include "protocol/command.h"
#include "protocol/device_types.h"

namespace veltr {

class IVeltrPort;

// The upgrade-code page index travels in one byte; a later page would overwrite an earlier one.
inline constexpr uint32_t kMaxUpgradeCodePages = 256;

// Argument of the page writes.
struct PageRecord {
  const uint8_t* data = nullptr;
  uint32_t byteCount = 0;
  uint32_t pageIndex = 0;
  DeviceType deviceType = kNoDeviceType;  // read only by the processor page write
};

// Out record of program-mode entry.
struct DeviceIdentity {
  DeviceType type = kNoDeviceType;
  uint8_t versions[4] = {};  // hardware version, uploader version; each high byte first
};

// In and out record of the EEPROM commands.
struct EepromInfoRecord {
  std::string userText1;  // narrow 8-bit texts, at most 30 bytes on the device
  std::string userText2;
  std::string serialNumber;  // filled by the read only
  uint8_t versions[4] = {};  // logic version, processor version; each high byte first
};

// Layout of the 128-byte EEPROM info area.
inline constexpr uint32_t kEepromInfoSize = 128;
inline constexpr uint32_t kSerialAreaSize = 64;
inline constexpr uint32_t kUserTextOffset1 = 64;
inline constexpr uint32_t kUserTextOffset2 = 94;
inline constexpr uint32_t kUserTextSize = 30;
inline constexpr uint32_t kVersionOffset = 124;

// Fills the record from an info area as the EEPROM read delivers it.
void DecodeEepromInfo(const uint8_t area[kEepromInfoSize], EepromInfoRecord& out);

class CVeltrCommandProgramModeEnter final : public CVeltrCommand {
 public:
  CVeltrCommandProgramModeEnter();
  // alreadySent non-zero: the access sequence went out already (behind an exit, a warm boot or a
  // cold boot), so only the answer is read. Missing flag or out record: InvalidParameter.
  ResultCode Execute(IVeltrPort& port, const uint32_t* alreadySent, DeviceIdentity* out);
};

class CVeltrCommandProgramModeExit final : public CVeltrCommand {
 public:
  CVeltrCommandProgramModeExit();
  // followUp, when given, is written right behind the device's answer, without reading.
  ResultCode Execute(IVeltrPort& port, const CVeltrCommand* followUp);
};

class CVeltrCommandWarmBoot final : public CVeltrCommand {
 public:
  CVeltrCommandWarmBoot();
  // Sends at 57600 baud and restores the port's rate on every path.
  ResultCode Execute(IVeltrPort& port, const CVeltrCommand* followUp);
};

class CVeltrCommandJumpToUpgradeCode final : public CVeltrCommand {
 public:
  CVeltrCommandJumpToUpgradeCode();
  // Sets no time-out: runs with the one the commands before it left.
  ResultCode Execute(IVeltrPort& port);
};

class CVeltrCommandUpgradeCodePageWrite final : public CVeltrCommand {
 public:
  CVeltrCommandUpgradeCodePageWrite();
  bool Prepare(const PageRecord* record);  // 256 or 512 bytes only
  ResultCode Execute(IVeltrPort& port, const PageRecord* record);
  uint8_t PartCount() const { return partCount_; }

 private:
  uint8_t partCount_ = 0;
};

class CVeltrCommandPageWrite : public CVeltrCommand {
 public:
  CVeltrCommandPageWrite();  // 261 bytes of FF, 4-byte answer
  virtual bool Prepare(const PageRecord* record);
  ResultCode Execute(IVeltrPort& port, const PageRecord* record);
};

class CVeltrCommandPROMPageWrite final : public CVeltrCommandPageWrite {
 public:
  CVeltrCommandPROMPageWrite();
  bool Prepare(const PageRecord* record) override;  // address = index x 2, high byte first
};

class CVeltrCommandUPPageWrite final : public CVeltrCommandPageWrite {
 public:
  CVeltrCommandUPPageWrite();
  bool Prepare(const PageRecord* record) override;  // address = index, low byte first
};

class CVeltrCommandEEPROMRead final : public CVeltrCommand {
 public:
  CVeltrCommandEEPROMRead();
  ResultCode Execute(IVeltrPort& port, EepromInfoRecord* out);
};

class CVeltrCommandEEPROMWrite final : public CVeltrCommand {
 public:
  CVeltrCommandEEPROMWrite();
  bool Prepare(const EepromInfoRecord* record);
  ResultCode Execute(IVeltrPort& port, const EepromInfoRecord* record);
};

class CVeltrCommandEEPROMErase final : public CVeltrCommand {
 public:
  CVeltrCommandEEPROMErase();
  ResultCode Execute(IVeltrPort& port, const uint32_t* byteCount);
};

}  // namespace veltr
