// What every command shares: its time-out, its refusal of missing arguments and of a port whose
// time-out cannot be set.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "support/scripted_port.h"

namespace veltr {
namespace {

using test::PortOp;
using test::ScriptedPort;

const std::vector<uint8_t> kPage(256, 0x11);
const PageRecord kRecord{kPage.data(), 256, 0, PXR};

struct CommandCase {
  std::string name;
  std::optional<uint32_t> timeout;  // none: the command sets no time-out
  int timeoutCalls;                 // on a silent port
  std::function<ResultCode(ScriptedPort&)> run;
};

std::vector<CommandCase> AllCommands() {
  return {
      {"ProgramModeEnter", 1000, 1,
       [](ScriptedPort& p) {
         uint32_t flag = 0;
         DeviceIdentity id;
         return CVeltrCommandProgramModeEnter().Execute(p, &flag, &id);
       }},
      {"ProgramModeExit", 250, 1,
       [](ScriptedPort& p) { return CVeltrCommandProgramModeExit().Execute(p, nullptr); }},
      {"WarmBoot", 500, 3,
       [](ScriptedPort& p) { return CVeltrCommandWarmBoot().Execute(p, nullptr); }},
      {"JumpToUpgradeCode", std::nullopt, 0,
       [](ScriptedPort& p) { return CVeltrCommandJumpToUpgradeCode().Execute(p); }},
      {"UpgradeCodePageWrite", 1000, 1,
       [](ScriptedPort& p) { return CVeltrCommandUpgradeCodePageWrite().Execute(p, &kRecord); }},
      {"PROMPageWrite", 1000, 1,
       [](ScriptedPort& p) { return CVeltrCommandPROMPageWrite().Execute(p, &kRecord); }},
      {"UPPageWrite", 1000, 1,
       [](ScriptedPort& p) { return CVeltrCommandUPPageWrite().Execute(p, &kRecord); }},
      {"EEPROMRead", 1000, 1,
       [](ScriptedPort& p) {
         EepromInfoRecord out;
         return CVeltrCommandEEPROMRead().Execute(p, &out);
       }},
      {"EEPROMWrite", 1000, 1,
       [](ScriptedPort& p) {
         EepromInfoRecord in;
         return CVeltrCommandEEPROMWrite().Execute(p, &in);
       }},
      {"EEPROMErase", 1000, 1,
       [](ScriptedPort& p) {
         const uint32_t count = 384;
         return CVeltrCommandEEPROMErase().Execute(p, &count);
       }},
  };
}

TEST(CommandCommonTest, EachCommandSetsItsOwnTimeout) {
  for (const CommandCase& c : AllCommands()) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;               // silent: every attempt fails
    static_cast<void>(c.run(port));  // only the time-outs matter here
    if (c.timeout) {
      // The warm boot sets it in every attempt, the others once before the first.
      EXPECT_EQ(port.Timeouts(), std::vector<uint32_t>(c.timeoutCalls, *c.timeout));
    } else {
      EXPECT_TRUE(port.Timeouts().empty());
    }
  }
}

TEST(CommandCommonTest, AFailedTimeoutIsAnInternalErrorBeforeAnythingIsSent) {
  for (const CommandCase& c : AllCommands()) {
    if (!c.timeout) {
      continue;
    }
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    port.FailCallsFrom(PortOp::kSetTimeout, 1);
    EXPECT_EQ(c.run(port), InternalError);
    EXPECT_EQ(port.CallCount(PortOp::kWrite), 0);
    EXPECT_EQ(port.CallCount(PortOp::kRead), 0);
    EXPECT_EQ(port.GetBaudRate(), 19200u);
  }
}

TEST(CommandCommonTest, AMissingArgumentIsAnInvalidParameterWithoutTouchingThePort) {
  const std::vector<std::pair<std::string, std::function<ResultCode(ScriptedPort&)>>> cases = {
      {"enter without flag",
       [](ScriptedPort& p) {
         DeviceIdentity id;
         return CVeltrCommandProgramModeEnter().Execute(p, nullptr, &id);
       }},
      {"enter without out record",
       [](ScriptedPort& p) {
         uint32_t flag = 0;
         return CVeltrCommandProgramModeEnter().Execute(p, &flag, nullptr);
       }},
      {"upgrade-code page without record",
       [](ScriptedPort& p) { return CVeltrCommandUpgradeCodePageWrite().Execute(p, nullptr); }},
      {"PROM page without record",
       [](ScriptedPort& p) { return CVeltrCommandPROMPageWrite().Execute(p, nullptr); }},
      {"processor page without record",
       [](ScriptedPort& p) { return CVeltrCommandUPPageWrite().Execute(p, nullptr); }},
      {"page record without data",
       [](ScriptedPort& p) {
         const PageRecord noData{nullptr, 256, 0, PXR};
         return CVeltrCommandPROMPageWrite().Execute(p, &noData);
       }},
      {"EEPROM read without out record",
       [](ScriptedPort& p) { return CVeltrCommandEEPROMRead().Execute(p, nullptr); }},
      {"EEPROM write without record",
       [](ScriptedPort& p) { return CVeltrCommandEEPROMWrite().Execute(p, nullptr); }},
      {"EEPROM erase without count",
       [](ScriptedPort& p) { return CVeltrCommandEEPROMErase().Execute(p, nullptr); }},
      {"EEPROM erase of nothing",
       [](ScriptedPort& p) {
         const uint32_t none = 0;
         return CVeltrCommandEEPROMErase().Execute(p, &none);
       }},
  };
  for (const auto& [name, run] : cases) {
    SCOPED_TRACE(name);
    ScriptedPort port;
    EXPECT_EQ(run(port), InvalidParameter);
    EXPECT_TRUE(port.Events().empty());
  }
}

}  // namespace
}  // namespace veltr
