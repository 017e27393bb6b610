#include "transport/device_identity.h"

#include <cstdio>

#include "base/port.h"
#include "protocol/device_types.h"

namespace veltr {

namespace {

struct CodeRow {
  uint8_t code;
  DeviceType type;
};

// Codes with one type each; 145 and 148 need a second byte and are handled apart.
constexpr CodeRow kCodes[] = {
    {0x10, PL1TP}, {0x20, MT10RFX}, {0x22, MT30RFX},  {0x24, MT20RFX}, {0x28, VR8RFX},
    {0x44, HM1},   {0x45, HS1},     {0x47, VR2TP},    {0x50, MT10},    {0x51, MT10E},
    {0x52, MT30E}, {0x54, MT20E},   {0x56, MT40E},    {0x60, KL1A},    {0x61, KL1A_96k},
    {0x62, KL1AP}, {0x70, KL1B},    {0x71, KL1B_96k}, {0x80, PX16In},  {0x81, PXP16In},
    {0x83, PX8_8}, {0x84, PXP8_8},  {0x86, PX16Out},  {0x90, PXR},
};

// The FX racks share one code and tell their model by the variant byte; older answers carry no
// variant (0xFF) and were all the plain PXR-FX.
DeviceType FxRackType(uint8_t variant) {
  switch (variant) {
    case 5:
      return MT10RFX;
    case 6:
      return MT20RFX;
    case 7:
      return MT30RFX;
    case 10:
      return VR8RFX;
    default:
      return PXRFX;
  }
}

}  // namespace

DeviceType DecodeDeviceType(uint8_t code, uint8_t variant, uint8_t number) {
  if (code < 16 || code > 148) {
    return kNoDeviceType;
  }
  if ((code >= 0x31 && code <= 0x39) || (code >= 0x41 && code <= 0x43)) {
    return RIFEngine;
  }
  if (code == 0x91) {
    return number == 0x2F ? VR2TP : PXR;
  }
  if (code == 0x94) {
    return FxRackType(variant);
  }
  for (const CodeRow& row : kCodes) {
    if (row.code == code) {
      return row.type;
    }
  }
  return kNoDeviceType;
}

std::string SerialNumberText(uint8_t letter, uint8_t number, uint8_t high, uint8_t low) {
  char text[32];
  std::snprintf(text, sizeof text, "%c%02d-%04d", static_cast<char>(letter), number,
                200 * high + low);
  return text;
}

int32_t ModeIndex(uint8_t modeByte) {
  if (modeByte == 0) {
    return 0;
  }
  if (modeByte <= 12) {
    return (modeByte - 1) / 3 + 1;
  }
  return modeByte == 254 ? kModeUpgradeCode : -1;
}

const char* ModeText(int32_t modeIndex) {
  static const char* const kTexts[] = {"Veltrano", "Halvik", "Quillon/Brask",
                                       "Tavo",     "QSL",    "Upgrade"};
  if (modeIndex < 0 || modeIndex > 5) {
    return "Unknown";
  }
  return kTexts[modeIndex];
}

const char* DeviceStatusText(int32_t status) {
  static const char* const kTexts[] = {"Ok", "Not responding", "Not available", "Not reachable"};
  if (status < 0 || status > 3) {
    return "Undefined";
  }
  return kTexts[status];
}

}  // namespace veltr
