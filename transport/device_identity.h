#pragma once

#include <cstdint>
#include <string>

#include "base/device_type.h"

namespace veltr {

// The four identification requests, framed: count, code, (FF FF), sum8.
inline constexpr uint8_t kIdentifyAddressed[5] = {0x04, 0xF0, 0xFF, 0xFF, 0xF2};
inline constexpr uint8_t kIdentifyShort[3] = {0x02, 0xF0, 0xF2};
inline constexpr uint8_t kModeAddressed[5] = {0x04, 0x8A, 0xFF, 0xFF, 0x8C};
inline constexpr uint8_t kModeShort[3] = {0x02, 0x81, 0x83};

// Status of a found device (FoundDevice::status).
inline constexpr int32_t kDeviceOk = 0;
inline constexpr int32_t kDeviceNotResponding = 1;
inline constexpr int32_t kDeviceNotAvailable = 2;
inline constexpr int32_t kDeviceNotReachable = 3;

// Device type from the answer's device code, variant byte and number byte (0xFF where the
// layout has none); -1 for a code outside the table.
DeviceType DecodeDeviceType(uint8_t code, uint8_t variant, uint8_t number);
// "%c%02d-%04d" of letter, number and 200 x high + low: 0x41, 7, 3, 25 give "A07-0625".
std::string SerialNumberText(uint8_t letter, uint8_t number, uint8_t high, uint8_t low);
// Mode index from the mode byte: 0 to 4 a console family, 5 the upgrade code (254), -1 unknown.
int32_t ModeIndex(uint8_t modeByte);
// "Veltrano", "Halvik", "Quillon/Brask", "Tavo", "QSL", "Upgrade", "Unknown".
const char* ModeText(int32_t modeIndex);
// "Ok", "Not responding", "Not available", "Not reachable", "Undefined".
const char* DeviceStatusText(int32_t status);

}  // namespace veltr
