// A datagram that answers the Ethernet discovery broadcast: anyone on the network can send one.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transport/port_ethernet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the datagram's length, so that a read past it is seen.
  const std::vector<uint8_t> datagram(data, data + size);
  static_cast<void>(veltr::DecodeDiscoveryAnswer(datagram.data(), static_cast<long>(size)));
  return 0;
}
