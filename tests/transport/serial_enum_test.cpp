#include "transport/serial_enum.h"

#include <gtest/gtest.h>

#include <set>

namespace veltr {
namespace {

// What this machine has is not known here; what is listed must still make sense.
TEST(SerialEnumTest, ListsSaneDevicePaths) {
  const std::vector<SerialDeviceInfo> devices = ListSerialDevices();
  std::set<std::string> seen;
  for (const SerialDeviceInfo& device : devices) {
    SCOPED_TRACE(device.path);
    EXPECT_EQ(device.path.rfind("/dev/", 0), 0u);
    EXPECT_EQ(device.path.find('!'), std::string::npos);
    EXPECT_TRUE(seen.insert(device.path).second) << "listed twice";
    if (!device.byIdPath.empty()) {
      EXPECT_EQ(device.byIdPath.rfind("/dev/serial/by-id/", 0), 0u);
    }
    EXPECT_EQ(device.available, device.problem.empty()) << device.problem;
  }
}

}  // namespace
}  // namespace veltr
