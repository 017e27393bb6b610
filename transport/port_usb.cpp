#include "transport/port_usb.h"

namespace veltr {

ConnectResult CVeltrPortUSB::Open(const PortSettings&) {
  return ConnectResult::NoDeviceFound;
}

}  // namespace veltr
