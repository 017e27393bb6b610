#pragma once

// Image contents for tests: bytes from a small xorshift generator, different for every seed and
// with no run a loader could take for padding.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltr::test {

inline std::vector<uint8_t> ImageBytes(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t x = 0x2545F491u * (seed + 1u);
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<uint8_t>(x);
  }
  return bytes;
}

}  // namespace veltr::test
