#include "transport/port_map.h"

#include <cctype>

namespace veltr {

CVeltrPortMap::CVeltrPortMap() {
  for (int i = 0; i < kSerialPorts; ++i) {
    paths_[i] = "/dev/ttyS" + std::to_string(i);
  }
}

bool CVeltrPortMap::Set(int index, const std::string& path) {
  if (index < 0 || index >= kSerialPorts || path.empty()) {
    return false;
  }
  paths_[index] = path;
  return true;
}

bool CVeltrPortMap::Set(const std::string& comName, const std::string& path) {
  return Set(IndexOf(comName), path);
}

std::optional<std::string> CVeltrPortMap::PathFor(const std::string& comName) const {
  const int index = IndexOf(comName);
  if (index < 0) {
    return std::nullopt;
  }
  return paths_[index];
}

int CVeltrPortMap::IndexOf(const std::string& comName) {
  // Settings files and command lines write "com2" as often as "COM2".
  if (comName.size() != 4) {
    return -1;
  }
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(comName[i])) != "COM"[i]) {
      return -1;
    }
  }
  const char digit = comName[3];
  if (digit < '1' || digit > '0' + kSerialPorts) {
    return -1;
  }
  return digit - '1';
}

std::string CVeltrPortMap::ComName(int index) {
  if (index < 0 || index >= kSerialPorts) {
    return {};
  }
  return "COM" + std::to_string(index + 1);
}

}  // namespace veltr
