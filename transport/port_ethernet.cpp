#include "transport/port_ethernet.h"

namespace veltr {

ConnectResult CVeltrPortEthernet::Open(const PortSettings&) {
  return ConnectResult::NoDeviceFound;
}

}  // namespace veltr
