#pragma once

#include <cstdint>

namespace veltr {

// Device type number 0 to 32; -1 for a device whose identifier matched no row. The per-type
// tables live with the protocol; the ports only pass the number on.
using DeviceType = int32_t;

inline constexpr DeviceType kNoDeviceType = -1;
inline constexpr int kDeviceTypeCount = 33;

}  // namespace veltr
