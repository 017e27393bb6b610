#include "protocol/sums.h"

namespace veltr {

uint8_t Sum8(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  return sum;
}

uint16_t Sum16(const uint8_t* bytes, size_t count) {
  uint16_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    sum = static_cast<uint16_t>(sum + bytes[i]);
  }
  return sum;
}

}  // namespace veltr
