#include "transport/port_ethernet.h"

namespace veltr {

int32_t CVeltrPortEthernet::Open(const PortSettings&) {
  return kNoDeviceFound;
}

}  // namespace veltr
