// Placeholder until the per-type tables land.
#include "protocol/device_types.h"

namespace veltr {

const char* GetShortName(DeviceType) { return "Unknown"; }
const char* GetLongName(DeviceType) { return "Unknown device"; }
std::optional<std::string> GetFileCode(DeviceType) { return std::nullopt; }
int32_t BaudRateForType(DeviceType) { return 19200; }
int32_t DefaultPackageVersion(DeviceType) { return 0; }
std::optional<std::string> GetRevisionDigit(DeviceType, HardwareVersion) { return std::nullopt; }
uint32_t GetLogicImageSize(DeviceType, HardwareVersion) { return 0; }
bool IsHardwareSupported(DeviceType, HardwareVersion) { return true; }
DeviceType TypeFromIdentifier(const uint8_t*, HardwareVersion) { return kNoDeviceType; }
DeviceType TypeFromShortName(const std::string&) { return kNoDeviceType; }
std::optional<std::string> DecodeSerialNumber(const uint8_t*) { return std::nullopt; }

}  // namespace veltr
