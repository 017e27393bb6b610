#pragma once

#include <memory>

#include "transport/hid_backend.h"

namespace veltr {

// The USB devices of this machine through the kernel's hidraw nodes, found with udev.
std::unique_ptr<IVeltrHidBackend> MakeHidrawBackend();

// Input and output report lengths of a HID report descriptor, each with the report id byte
// counted: the longest report of each direction, in bytes, plus one. Zero for a direction the
// descriptor has no report for.
struct HidReportSizes {
  uint32_t input = 0;
  uint32_t output = 0;
  bool numbered = false;  // the descriptor gives its reports ids of their own
};
HidReportSizes ParseReportDescriptor(const uint8_t* descriptor, uint32_t size);

}  // namespace veltr
