#pragma once

#include "base/port_set.h"
#include "transport/port_map.h"

namespace veltr {

// The ports of this machine: the serial port on the ttys of map (which must outlive the set), the
// USB port and the Ethernet port.
CVeltrPortSet MakeSystemPorts(const CVeltrPortMap& map);

}  // namespace veltr
