#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol_test_util.h"
#include "support/scripted_port.h"

namespace veltr {
namespace {

using test::Bytes;
using test::BytesOf;
using test::PortEvent;
using test::PortOp;
using test::ReadResult;
using test::ScriptedPort;

const Bytes kReady = {0x0D};

// A 16-byte program-mode answer: four unused bytes, hardware and uploader versions, identifier.
Bytes IdentityAnswer(const std::string& identifier, uint8_t hwHigh, uint8_t hwLow, uint8_t upHigh,
                     uint8_t upLow) {
  Bytes answer = {0xAA, 0xBB, 0xCC, 0xDD, hwHigh, hwLow, upHigh, upLow};
  answer.resize(16);
  std::memcpy(answer.data() + 8, identifier.data(), 8);
  return answer;
}

// ---- program-mode entry ----

TEST(ProgramModeEnterTest, SendsItsSixteenBytesWholeAndDecodesTheAnswer) {
  ScriptedPort port;
  CVeltrCommandProgramModeEnter enter;
  ASSERT_EQ(enter.GetSize(), 16u);
  port.QueueAnswer(IdentityAnswer("   KL1 A", 0, 101, 1, 5));
  const uint32_t flag = 0;
  DeviceIdentity id;

  ASSERT_EQ(enter.Execute(port, &flag, &id), Ok);

  // Compared without printing: the access sequence is never shown.
  const std::vector<Bytes> chunks = port.Chunks();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_TRUE(chunks[0] == BytesOf(enter));
  const uint8_t versions[4] = {0, 101, 1, 5};
  EXPECT_EQ(std::memcmp(id.versions, versions, 4), 0);
  EXPECT_EQ(id.type, KL1A);
}

TEST(ProgramModeEnterTest, TypeComesFromIdentifierAndHardwareBytes) {
  struct Case {
    const char* identifier;
    uint8_t hwHigh, hwLow, upHigh, upLow;
    DeviceType type;
  };
  const Case cases[] = {
      {"   KL1 A", 0, 220, 0, 101, KL1A_96k},  // the hardware word, not the uploader's, decides
      {"   KL1 A", 0, 101, 0, 220, KL1A},
      {"   KL1 A", 1, 220, 0, 220, KL1A},  // word 476
      {"    MT10", 0, 110, 1, 0, MT10},
      {"KL1 A   ", 0, 101, 1, 0, kNoDeviceType},  // blanks at the wrong end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identifier);
    ScriptedPort port;
    port.QueueAnswer(IdentityAnswer(c.identifier, c.hwHigh, c.hwLow, c.upHigh, c.upLow));
    const uint32_t flag = 0;
    DeviceIdentity id;
    ASSERT_EQ(CVeltrCommandProgramModeEnter().Execute(port, &flag, &id), Ok);
    EXPECT_EQ(id.type, c.type);
  }
}

TEST(ProgramModeEnterTest, WithTheFlagSetItNeverWrites) {
  ScriptedPort port;
  port.QueueSilence(3);
  const uint32_t flag = 1;
  DeviceIdentity id;
  id.type = PXR;
  id.versions[0] = 0x77;

  EXPECT_EQ(CVeltrCommandProgramModeEnter().Execute(port, &flag, &id), NoResponse);
  EXPECT_EQ(port.CallCount(PortOp::kWrite), 0);
  EXPECT_EQ(port.CallCount(PortOp::kRead), 3);
  EXPECT_EQ(port.Timeouts(), std::vector<uint32_t>{1000});
  // A failure leaves the out record as it was.
  EXPECT_EQ(id.type, PXR);
  EXPECT_EQ(id.versions[0], 0x77);
}

TEST(ProgramModeEnterTest, TheFlagIsReadAnewInEveryAttempt) {
  ScriptedPort port;
  uint32_t flag = 0;
  // The first attempt's write goes out, then the caller's flag turns: the later attempts only
  // listen.
  port.SetResponder([&flag](ScriptedPort&, const Bytes&) { flag = 1; });
  port.QueueSilence(2);
  port.QueueAnswer(IdentityAnswer("    MT10", 0, 110, 1, 0));
  DeviceIdentity id;

  EXPECT_EQ(CVeltrCommandProgramModeEnter().Execute(port, &flag, &id), Ok);
  EXPECT_EQ(port.CallCount(PortOp::kWrite), 1);
  EXPECT_EQ(port.CallCount(PortOp::kRead), 3);
}

TEST(ProgramModeEnterTest, AttemptsResendTheWholeSequence) {
  struct Case {
    const char* name;
    int failedWrites;  // the first n writes fail
    int silentReads;   // the first n reads of a written attempt are silent
    ResultCode result;
    int writes;
  };
  const Case cases[] = {
      {"third attempt answers", 0, 2, Ok, 3},
      {"all silent", 0, 3, NoResponse, 3},
      {"writes fail twice", 2, 0, Ok, 3},
      {"writes always fail", 3, 0, CommunicationFailed, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    for (int i = 1; i <= c.failedWrites; ++i) {
      port.FailCall(PortOp::kWrite, i);
    }
    port.QueueSilence(c.silentReads);
    port.QueueAnswer(IdentityAnswer("    MT10", 0, 110, 1, 0));
    CVeltrCommandProgramModeEnter enter;
    const uint32_t flag = 0;
    DeviceIdentity id;
    EXPECT_EQ(enter.Execute(port, &flag, &id), c.result);
    const std::vector<PortEvent> writes = port.EventsOf(PortOp::kWrite);
    ASSERT_EQ(static_cast<int>(writes.size()), c.writes);
    for (const PortEvent& w : writes) {
      EXPECT_TRUE(w.bytes == BytesOf(enter));
    }
  }
}

// ---- program-mode exit ----

const Bytes kExitRequest = {0x80, 0x55, 0x1A, 0x1B};

TEST(ProgramModeExitTest, OnlyTheSerialPortWaitsForTheCarriageReturn) {
  struct Case {
    const char* name;
    PortId id;
    int reads;
  };
  const Case cases[] = {
      {"RS232", kPortSerialObject, 1}, {"USB", kPortUsb, 0}, {"Ethernet", kPortEthernet, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port(c.name, c.id);
    port.QueueAnswer(kReady);
    CVeltrCommandProgramModeExit exit;
    EXPECT_EQ(BytesOf(exit), kExitRequest);
    EXPECT_EQ(exit.Execute(port, nullptr), Ok);
    EXPECT_EQ(port.Chunks(), std::vector<Bytes>{kExitRequest});
    EXPECT_EQ(port.CallCount(PortOp::kRead), c.reads);
    EXPECT_EQ(port.Timeouts(), std::vector<uint32_t>{250});
  }
}

TEST(ProgramModeExitTest, TheFollowUpGoesOutRightBehindWithoutARead) {
  for (const PortId id : {kPortSerialObject, kPortUsb}) {
    SCOPED_TRACE(id);
    ScriptedPort port(id == kPortUsb ? "USB" : "RS232", id);
    port.QueueAnswer(kReady);
    CVeltrCommandProgramModeEnter enter;
    EXPECT_EQ(CVeltrCommandProgramModeExit().Execute(port, &enter), Ok);
    const std::vector<Bytes> chunks = port.Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], kExitRequest);
    EXPECT_TRUE(chunks[1] == BytesOf(enter));
    // The follow-up's answer is left for the follow-up itself.
    EXPECT_EQ(port.CallCount(PortOp::kRead), id == kPortSerialObject ? 1 : 0);
  }
}

TEST(ProgramModeExitTest, FailuresOverTheSerialLine) {
  struct Case {
    const char* name;
    std::vector<ReadResult> reads;
    bool followUpFails;
    ResultCode result;
    int writes;
  };
  const Case cases[] = {
      {"silent", {}, false, NoResponse, 3},
      {"line feed instead",
       {ReadResult::Answer({0x0A}), ReadResult::Answer({0x0A}), ReadResult::Answer({0x0A})},
       false,
       CommunicationFailed,
       3},
      {"answers on the second attempt",
       {ReadResult::Silent(), ReadResult::Answer({0x0D})},
       false,
       Ok,
       2},
      // Each attempt starts again with the exit, then fails on the follow-up.
      {"follow-up write fails",
       {ReadResult::Answer({0x0D}), ReadResult::Answer({0x0D}), ReadResult::Answer({0x0D})},
       true,
       CommunicationFailed,
       6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    for (const ReadResult& r : c.reads) {
      port.QueueRead(r);
    }
    if (c.followUpFails) {
      for (int i : {2, 4, 6}) {
        port.FailCall(PortOp::kWrite, i);
      }
    }
    CVeltrCommandWarmBoot followUp;
    EXPECT_EQ(CVeltrCommandProgramModeExit().Execute(port, c.followUpFails ? &followUp : nullptr),
              c.result);
    const std::vector<PortEvent> writes = port.EventsOf(PortOp::kWrite);
    ASSERT_EQ(static_cast<int>(writes.size()), c.writes);
    for (size_t i = 0; i < writes.size(); i += c.followUpFails ? 2 : 1) {
      EXPECT_EQ(writes[i].bytes, kExitRequest);
    }
  }
}

TEST(ProgramModeExitTest, OverUsbOneWriteIsEnoughAndAFailedWriteIsRetried) {
  ScriptedPort port("USB", kPortUsb);
  port.FailCall(PortOp::kWrite, 1);
  EXPECT_EQ(CVeltrCommandProgramModeExit().Execute(port, nullptr), Ok);
  EXPECT_EQ(port.CallCount(PortOp::kWrite), 2);

  ScriptedPort dead("Ethernet", kPortEthernet);
  dead.FailCallsFrom(PortOp::kWrite, 1);
  EXPECT_EQ(CVeltrCommandProgramModeExit().Execute(dead, nullptr), CommunicationFailed);
  EXPECT_EQ(dead.CallCount(PortOp::kWrite), 3);
}

// ---- warm boot ----

const Bytes kWarmBootRequest = {0x04, 0x55, 0x1A, 0x1B, 0x8E};

class WarmBootTest : public testing::Test {
 protected:
  ScriptedPort port_{"RS232", kPortSerialObject, 19200};
  CVeltrCommandWarmBoot warmBoot_;
};

TEST_F(WarmBootTest, SendsAt57600AndListensAtTheRestoredRate) {
  port_.QueueAnswer(kReady);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(BytesOf(warmBoot_), kWarmBootRequest);

  ASSERT_EQ(warmBoot_.Execute(port_, nullptr), Ok);

  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
  const std::vector<PortEvent>& e = port_.Events();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].op, PortOp::kSetBaudRate);
  EXPECT_EQ(e[0].value, 57600u);
  EXPECT_EQ(e[1].op, PortOp::kSetTimeout);
  EXPECT_EQ(e[1].value, 500u);
  EXPECT_EQ(e[2].op, PortOp::kWrite);
  EXPECT_EQ(e[2].bytes, kWarmBootRequest);
  EXPECT_EQ(e[2].value, 57600u);
  EXPECT_EQ(e[3].op, PortOp::kSetBaudRate);
  EXPECT_EQ(e[3].value, 19200u);
  EXPECT_EQ(e[4].op, PortOp::kRead);
  EXPECT_EQ(e[4].value, 19200u);
  EXPECT_EQ(port_.GetBaudRate(), 19200u);
}

TEST_F(WarmBootTest, TheFollowUpGoesOutAtTheRestoredRate) {
  port_.QueueAnswer(kReady);
  CVeltrCommandProgramModeEnter enter;
  ASSERT_EQ(warmBoot_.Execute(port_, &enter), Ok);
  const std::vector<PortEvent> writes = port_.EventsOf(PortOp::kWrite);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_TRUE(writes[1].bytes == BytesOf(enter));
  EXPECT_EQ(writes[1].value, 19200u);
  EXPECT_EQ(port_.CallCount(PortOp::kRead), 1);
}

TEST_F(WarmBootTest, RateZeroIsRefusedWithNothingSent) {
  ScriptedPort noRate("USB", kPortUsb, 0);
  EXPECT_EQ(warmBoot_.Execute(noRate, nullptr), InvalidParameter);
  EXPECT_TRUE(noRate.Events().empty());
}

TEST_F(WarmBootTest, TheRateIsRestoredOnEveryPathThatChangedIt) {
  using Failure = std::pair<PortOp, int>;  // the nth call of an operation fails
  struct Case {
    const char* name;
    std::vector<Failure> failures;
    std::vector<ReadResult> reads;
    bool withFollowUp;
    ResultCode result;
    uint32_t rateAfter;
    int writes;
  };
  const ReadResult ready = ReadResult::Answer({0x0D});
  const ReadResult wrong = ReadResult::Answer({0x00});
  const PortOp kWrite = PortOp::kWrite;
  const PortOp kRate = PortOp::kSetBaudRate;
  const Case cases[] = {
      {"write fails",
       {{kWrite, 1}, {kWrite, 2}, {kWrite, 3}},
       {},
       false,
       CommunicationFailed,
       19200,
       3},
      {"read silent", {}, {}, false, NoResponse, 19200, 3},
      {"wrong answer", {}, {wrong, wrong, wrong}, false, CommunicationFailed, 19200, 3},
      {"second attempt answers", {}, {ReadResult::Silent(), ready}, false, Ok, 19200, 2},
      {"follow-up fails",
       {{kWrite, 2}, {kWrite, 4}, {kWrite, 6}},
       {ready, ready, ready},
       true,
       CommunicationFailed,
       19200,
       6},
      // The second rate change is the restore behind the write.
      {"restore fails", {{kRate, 2}}, {ready}, false, InternalError, 57600, 1},
      {"restore after a failed write fails",
       {{kWrite, 1}, {kRate, 2}},
       {},
       false,
       InternalError,
       57600,
       1},
      {"switch to 57600 fails", {{kRate, 1}}, {}, false, InternalError, 19200, 0},
      {"timeout fails", {{PortOp::kSetTimeout, 1}}, {}, false, InternalError, 19200, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port("RS232", kPortSerialObject, 19200);
    for (const auto& [op, call] : c.failures) {
      port.FailCall(op, call);
    }
    for (const ReadResult& r : c.reads) {
      port.QueueRead(r);
    }
    CVeltrCommandProgramModeEnter followUp;
    CVeltrCommandWarmBoot warmBoot;
    EXPECT_EQ(warmBoot.Execute(port, c.withFollowUp ? &followUp : nullptr), c.result);
    EXPECT_EQ(port.GetBaudRate(), c.rateAfter);
    EXPECT_EQ(port.CallCount(PortOp::kWrite), c.writes);
    if (c.rateAfter == 19200) {
      // Every successful switch to 57600 was followed by a restore.
      const std::vector<PortEvent> rates = port.EventsOf(PortOp::kSetBaudRate);
      for (size_t i = 0; i < rates.size(); ++i) {
        if (rates[i].ok && rates[i].value == 57600) {
          ASSERT_LT(i + 1, rates.size());
          EXPECT_EQ(rates[i + 1].value, 19200u);
        }
      }
    }
    // Nothing was read at 57600.
    for (const PortEvent& r : port.EventsOf(PortOp::kRead)) {
      EXPECT_EQ(r.value, 19200u);
    }
  }
}

}  // namespace
}  // namespace veltr
