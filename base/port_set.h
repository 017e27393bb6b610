#pragma once

#include <memory>
#include <utility>

#include "base/port.h"

namespace veltr {

// The ports of one program run, one per transport, owned for the whole run. Whoever builds the
// engine makes the set: the system's ports for the programs, doubles for the tests.
class CVeltrPortSet {
 public:
  CVeltrPortSet(std::unique_ptr<IVeltrPort> serial, std::unique_ptr<IVeltrPort> usb,
                std::unique_ptr<IVeltrPort> ethernet)
      : serial_(std::move(serial)), usb_(std::move(usb)), ethernet_(std::move(ethernet)) {}

  // The port that serves a PortId: USB and Ethernet their own, every other id (COM1 to COM4
  // and the ids that name no port) the serial port.
  IVeltrPort& For(PortId id) const {
    switch (id) {
      case kPortUsb:
        return *usb_;
      case kPortEthernet:
        return *ethernet_;
      default:
        return *serial_;
    }
  }

 private:
  std::unique_ptr<IVeltrPort> serial_;
  std::unique_ptr<IVeltrPort> usb_;
  std::unique_ptr<IVeltrPort> ethernet_;
};

}  // namespace veltr
