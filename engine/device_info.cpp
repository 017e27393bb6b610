#include "engine/device_info.h"

#include <cstdio>

#include "engine/display.h"
#include "engine/text_codec.h"
#include "protocol/commands.h"

namespace veltr {

void DeviceInfo::TakeIdentity(const DeviceIdentity& identity) {
  type = identity.type;
  hardwareVersion = {identity.versions[0], identity.versions[1]};
  uploaderVersion = {identity.versions[2], identity.versions[3]};
}

void DeviceInfo::TakeEeprom(const EepromInfoRecord& record) {
  logicVersion = {record.versions[0], record.versions[1]};
  processorVersion = {record.versions[2], record.versions[3]};
  userText[0] = record.userText1;
  userText[1] = record.userText2;
  serialNumber = record.serialNumber;
}

std::string FormatVersion(uint32_t word) {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%02d", static_cast<int>(word / 100),
                static_cast<int>(word % 100));
  return text;
}

void WriteDeviceInfoLines(IVeltrDisplay* display, const DeviceInfo& info) {
  if (display == nullptr) {
    return;
  }
  display->SetLine(0, 6, std::string("You are connected to ") + GetLongName(info.type));
  display->SetLine(0, 7, "   Hardware Version: V" + FormatVersion(info.hardwareVersion.Word()));
  display->SetLine(0, 8, "   Uploader Version: V" + FormatVersion(info.uploaderVersion.Word()));
  display->SetLine(0, 9, "   Serial Number: " + AnsiToUtf8(info.serialNumber));
  display->SetLine(
      0, 10,
      "   Current Logic and DSP Firmware Version: V" + FormatVersion(info.logicVersion.Word()));
  display->SetLine(0, 11,
                   "   Current Processor and HI Firmware Version: V" +
                       FormatVersion(info.processorVersion.Word()));
  for (int i = 0; i < 2; ++i) {
    display->SetLine(0, 12 + i,
                     "   Current User Text " + std::to_string(i + 1) + ": \"" +
                         AnsiToUtf8(info.userText[i]) + "\"");
  }
  display->SetTitle(GetLongName(info.type));
}

}  // namespace veltr
