// A HID report descriptor as the kernel hands it over for a device of our vendor and product.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transport/hid_hidraw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> descriptor(data, data + size);
  static_cast<void>(
      veltr::ParseReportDescriptor(descriptor.data(), static_cast<uint32_t>(descriptor.size())));
  return 0;
}
