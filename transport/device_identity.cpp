#include "transport/device_identity.h"

#include <cstdio>

#include "protocol/device_types.h"

namespace veltr {

namespace {

// The number byte that marks a VR2-TP among the devices sending code 0x91.
constexpr uint8_t kVr2TpNumber = 47;

}  // namespace

DeviceType DecodeDeviceType(uint8_t code, uint8_t variant, uint8_t number) {
  if (code < 0x10 || code > 0x94) {
    return kNoDeviceType;
  }
  if ((code >= 0x31 && code <= 0x39) || (code >= 0x41 && code <= 0x43)) {
    return RIFEngine;
  }
  switch (code) {
    case 0x10:
      return PL1TP;
    case 0x20:
      return MT10RFX;
    case 0x22:
      return MT30RFX;
    case 0x24:
      return MT20RFX;
    case 0x28:
      return VR8RFX;
    case 0x44:
      return HM1;
    case 0x45:
      return HS1;
    case 0x47:
      return VR2TP;
    case 0x50:
      return MT10;
    case 0x51:
      return MT10E;
    case 0x52:
      return MT30E;
    case 0x54:
      return MT20E;
    case 0x56:
      return MT40E;
    case 0x60:
      return KL1A;
    case 0x61:
      return KL1A_96k;
    case 0x62:
      return KL1AP;
    case 0x70:
      return KL1B;
    case 0x71:
      return KL1B_96k;
    case 0x80:
      return PX16In;
    case 0x81:
      return PXP16In;
    case 0x83:
      return PX8_8;
    case 0x84:
      return PXP8_8;
    case 0x86:
      return PX16Out;
    case 0x90:
      return PXR;
    case 0x91:
      return number == kVr2TpNumber ? VR2TP : PXR;
    case 0x94:
      // The FX racks share one code and tell their model by the variant byte; older answers
      // have no variant byte (0xFF) and come from the first of them.
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
    default:
      return kNoDeviceType;
  }
}

std::string SerialNumberText(uint8_t letter, uint8_t number, uint8_t high, uint8_t low) {
  // The running number has a minimum width and no maximum: 200 x 255 + 255 needs five digits.
  char text[32];
  std::snprintf(text, sizeof text, "%c%02d-%04d", static_cast<char>(letter), number,
                200 * high + low);
  return text;
}

int32_t ModeIndex(uint8_t modeByte) {
  if (modeByte == 254) {
    return 5;
  }
  if (modeByte == 0) {
    return 0;
  }
  if (modeByte <= 12) {
    return (modeByte + 2) / 3;
  }
  return -1;
}

const char* ModeText(int32_t modeIndex) {
  switch (modeIndex) {
    case 0:
      return "Veltrano";
    case 1:
      return "Halvik";
    case 2:
      return "Quillon/Brask";
    case 3:
      return "Tavo";
    case 4:
      return "QSL";
    case 5:
      return "Upgrade";
    default:
      return "Unknown";
  }
}

const char* DeviceStatusText(int32_t status) {
  switch (status) {
    case kDeviceOk:
      return "Ok";
    case kDeviceNotResponding:
      return "Not responding";
    case kDeviceNotAvailable:
      return "Not available";
    case kDeviceNotReachable:
      return "Not reachable";
    default:
      return "Undefined";
  }
}

}  // namespace veltr
