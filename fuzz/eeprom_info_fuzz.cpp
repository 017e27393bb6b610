// The EEPROM info area as a device delivers it: texts, versions and the coded serial number.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/device_info.h"
#include "protocol/commands.h"
#include "protocol/device_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t area[veltr::kEepromInfoSize];
  std::memset(area, 0xFF, sizeof area);
  std::memcpy(area, data, std::min(size, sizeof area));
  veltr::EepromInfoRecord record;
  veltr::DecodeEepromInfo(area, record);
  static_cast<void>(veltr::DecodeSerialNumber(area));
  veltr::DeviceInfo info;
  info.TakeEeprom(record);
  static_cast<void>(veltr::FormatVersion(info.logicVersion.Word()));
  return 0;
}
