#include <gtest/gtest.h>

#include "base/port.h"

namespace veltr {
namespace {

TEST(ConnectResultTextTest, EveryCodeHasItsText) {
  const struct {
    int32_t code;
    const char* text;
  } cases[] = {
      {kConnected, "Connection established"},
      {kPortNotAvailable, "Port not available or used by other program"},
      {kNoDeviceConnected, "No device connected to port"},
      {kBrokenConnection, "Broken connection"},
      {kUpgradeCodeFailed, "Failed to load upgrade code file"},
      {kNoDeviceFound, "Cannot detect Veltrano"},
      {kSelectionRequired, "Device selection required"},
      {4, "Unknown error"},
      {6, "Unknown error"},
      {8, "Unknown error"},
      {11, "Unknown error"},
      {-1, "Unknown error"},
      {INT32_MAX, "Unknown error"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(ConnectResultText(c.code), c.text) << c.code;
  }
}

}  // namespace
}  // namespace veltr
