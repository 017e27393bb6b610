#include "transport/system_ports.h"

#include <memory>

#include "transport/hid_hidraw.h"
#include "transport/port_ethernet.h"
#include "transport/port_rs232.h"
#include "transport/port_usb.h"

namespace veltr {

CVeltrPortSet MakeSystemPorts(const CVeltrPortMap& map) {
  return CVeltrPortSet(std::make_unique<CVeltrPortRS232>(&map),
                       std::make_unique<CVeltrPortUSB>(MakeHidrawBackend()),
                       std::make_unique<CVeltrPortEthernet>());
}

}  // namespace veltr
