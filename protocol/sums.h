#pragma once

#include <cstddef>
#include <cstdint>

namespace veltr {

// Plain byte sums; the devices use no polynomial code anywhere.
uint8_t Sum8(const uint8_t* bytes, size_t count);
uint16_t Sum16(const uint8_t* bytes, size_t count);

}  // namespace veltr
