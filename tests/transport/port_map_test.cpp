#include "transport/port_map.h"

#include <gtest/gtest.h>

namespace veltr {
namespace {

TEST(PortMapTest, DefaultsAreTheFirstFourUarts) {
  const CVeltrPortMap map;
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    EXPECT_EQ(map.PathAt(i), "/dev/ttyS" + std::to_string(i));
    EXPECT_EQ(map.PathFor(CVeltrPortMap::ComName(i)), map.PathAt(i));
  }
}

TEST(PortMapTest, IndexOfAndComName) {
  const struct {
    const char* name;
    int index;
  } cases[] = {
      {"COM1", 0},   {"COM4", 3},        {"com2", 1}, {"Com3", 2},      {"COM0", -1},
      {"COM5", -1},  {"COM10", -1},      {"COM", -1}, {"", -1},         {" COM1", -1},
      {"COM1 ", -1}, {"/dev/ttyS0", -1}, {"USB", -1}, {"Ethernet", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CVeltrPortMap::IndexOf(c.name), c.index) << '"' << c.name << '"';
  }
  const struct {
    int index;
    const char* name;
  } names[] = {{0, "COM1"}, {1, "COM2"}, {3, "COM4"}, {-1, ""}, {4, ""}, {32, ""}};
  for (const auto& c : names) {
    EXPECT_EQ(CVeltrPortMap::ComName(c.index), c.name) << c.index;
  }
}

TEST(PortMapTest, SetByIndexOrName) {
  CVeltrPortMap map;
  EXPECT_TRUE(map.Set(0, "/dev/ttyUSB0"));
  EXPECT_TRUE(map.Set("COM3", "/dev/ttyACM1"));
  EXPECT_TRUE(map.Set("com4", "/dev/pts/7"));
  EXPECT_EQ(map.PathFor("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(map.PathAt(1), "/dev/ttyS1");
  EXPECT_EQ(map.PathFor("COM3"), "/dev/ttyACM1");
  EXPECT_EQ(map.PathFor("COM4"), "/dev/pts/7");
}

TEST(PortMapTest, BadIndexNameOrPathChangesNothing) {
  CVeltrPortMap map;
  EXPECT_FALSE(map.Set(-1, "/dev/ttyUSB0"));
  EXPECT_FALSE(map.Set(4, "/dev/ttyUSB0"));
  EXPECT_FALSE(map.Set("COM5", "/dev/ttyUSB0"));
  EXPECT_FALSE(map.Set("USB", "/dev/ttyUSB0"));
  EXPECT_FALSE(map.Set("COM1", ""));
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    EXPECT_EQ(map.PathAt(i), "/dev/ttyS" + std::to_string(i));
  }
  EXPECT_FALSE(map.PathFor("COM5").has_value());
  EXPECT_FALSE(map.PathFor("").has_value());
}

}  // namespace
}  // namespace veltr
