#include <gtest/gtest.h>

#include "base/port.h"

namespace veltr {
namespace {

TEST(ConnectResultTextTest, EveryCodeHasItsText) {
  const struct {
    ConnectResult result;
    const char* text;
  } cases[] = {
      {ConnectResult::Connected, "Connection established"},
      {ConnectResult::PortNotAvailable, "Port not available or used by other program"},
      {ConnectResult::NoDeviceConnected, "No device connected to port"},
      {ConnectResult::BrokenConnection, "Broken connection"},
      {ConnectResult::UpgradeCodeFailed, "Failed to load upgrade code file"},
      {ConnectResult::NoDeviceFound, "Cannot detect Veltrano"},
      {ConnectResult::SelectionRequired, "Device selection required"},
      {ConnectResult::OtherFailure, "Unknown error"},
      {static_cast<ConnectResult>(4), "Unknown error"},
      {static_cast<ConnectResult>(6), "Unknown error"},
      {static_cast<ConnectResult>(8), "Unknown error"},
      {static_cast<ConnectResult>(11), "Unknown error"},
      {static_cast<ConnectResult>(INT32_MAX), "Unknown error"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(ConnectResultText(c.result), c.text) << static_cast<int32_t>(c.result);
  }
}

}  // namespace
}  // namespace veltr
