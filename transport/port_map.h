#pragma once

#include <array>
#include <optional>
#include <string>

#include "base/port.h"

namespace veltr {

// Maps the names "COM1" to "COM4" to device paths. Filled by the front ends from settings and
// options before the first job; read by the serial port on every Open.
class CVeltrPortMap {
 public:
  static constexpr int kSerialPorts = kSerialPortCount;

  CVeltrPortMap();  // /dev/ttyS0 to /dev/ttyS3

  // index 0 to 3; false for any other index.
  bool Set(int index, const std::string& path);
  // "COM1" to "COM4" (case as written); false for any other name.
  bool Set(const std::string& comName, const std::string& path);
  std::optional<std::string> PathFor(const std::string& comName) const;
  const std::string& PathAt(int index) const { return paths_.at(index); }

  // 0 to 3 for "COM1" to "COM4", -1 otherwise.
  static int IndexOf(const std::string& comName);
  static std::string ComName(int index);  // "COM1" ...

 private:
  std::array<std::string, kSerialPorts> paths_;
};

}  // namespace veltr
