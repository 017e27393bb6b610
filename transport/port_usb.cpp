#include "transport/port_usb.h"

namespace veltr {

int32_t CVeltrPortUSB::Open(const PortSettings&) {
  return kNoDeviceFound;
}

}  // namespace veltr
