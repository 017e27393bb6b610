#include "transport/serial_enum.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "transport/port_holders.h"

namespace veltr {

namespace {

namespace fs = std::filesystem;

const fs::path kSysTty = "/sys/class/tty";
const fs::path kById = "/dev/serial/by-id";

std::string LinkName(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

// Since Linux 6.5 a UART's tty hangs below two "serial-base" devices (port, controller) whose
// drivers say nothing; the driver that matters sits on the first device above them.
std::string DriverOf(const fs::path& ttyEntry) {
  std::error_code ec;
  fs::path device = fs::canonical(ttyEntry / "device", ec);
  while (!ec && !device.empty() && device != device.root_path()) {
    if (LinkName(device / "subsystem") != "serial-base") {
      return LinkName(device / "driver");
    }
    device = device.parent_path();
  }
  return {};
}

// An 8250 driver makes a node for every port it might have; "type" 0 is a port without a UART.
bool IsGhostUart(const fs::path& ttyEntry) {
  std::ifstream type(ttyEntry / "type");
  int value = -1;
  return (type >> value) && value == 0;
}

std::string OpenProblem(const std::string& path) {
  // O_NONBLOCK: do not wait for carrier. Opening raises DTR on a real UART for a moment; a
  // device that resets on DTR is not one this system talks to.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    switch (err) {
      case EACCES:
      case EPERM:
        return "permission denied on " + path + " (is the user in the dialout group?)";
      case EBUSY:
        return InUseText(path);
      default:
        return path + ": " + std::generic_category().message(err);
    }
  }
  std::string problem;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    problem = InUseText(path);
  }
  ::close(fd);
  return problem;
}

// "ttyS10" after "ttyS9": compare the trailing numbers as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) {
      --digits;
    }
    return std::make_pair(s.substr(0, digits), s.substr(digits));
  };
  const auto [aStem, aNumber] = split(a);
  const auto [bStem, bNumber] = split(b);
  if (aStem != bStem) {
    return aStem < bStem;
  }
  if (aNumber.size() != bNumber.size()) {
    return aNumber.size() < bNumber.size();
  }
  return aNumber < bNumber;
}

void AddByIdNames(std::vector<SerialDeviceInfo>& devices) {
  std::error_code ec;
  for (fs::directory_iterator it(kById, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code resolved;
    const fs::path target = fs::canonical(it->path(), resolved);
    if (resolved) {
      continue;
    }
    for (SerialDeviceInfo& device : devices) {
      if (device.path == target.string() && device.byIdPath.empty()) {
        device.byIdPath = it->path().string();
      }
    }
  }
}

}  // namespace

std::vector<SerialDeviceInfo> ListSerialDevices() {
  std::vector<SerialDeviceInfo> devices;
  std::error_code ec;
  for (fs::directory_iterator it(kSysTty, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    std::error_code linkError;
    if (!fs::is_symlink(entry / "device", linkError) || IsGhostUart(entry)) {
      continue;
    }
    // Sysfs writes a '/' in a device name as '!'.
    std::string name = entry.filename().string();
    std::replace(name.begin(), name.end(), '!', '/');
    SerialDeviceInfo device;
    device.path = "/dev/" + name;
    std::error_code existsError;
    if (!fs::exists(device.path, existsError)) {
      continue;
    }
    device.driver = DriverOf(entry);
    device.problem = OpenProblem(device.path);
    device.available = device.problem.empty();
    devices.push_back(std::move(device));
  }
  std::sort(devices.begin(), devices.end(),
            [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
              return NaturalLess(a.path, b.path);
            });
  AddByIdNames(devices);
  return devices;
}

}  // namespace veltr
