#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol_test_util.h"
#include "support/scripted_port.h"

namespace veltr {
namespace {

using test::Bytes;
using test::BytesOf;
using test::PortOp;
using test::ReadResult;
using test::ScriptedPort;

// An info area whose serial field codes B-07-1234: value0 34 at byte 58 (its low nibble 6 points
// to 52), value1 7 at 52 (1 back to 51), the letter 'B' at 51 (6 back to 45), high byte 6 at 45.
Bytes InfoArea(const std::string& text1, const std::string& text2, Bytes versions) {
  Bytes area(128, 0xFF);
  std::fill(area.begin(), area.begin() + 64, 0x00);
  area[58] = 232 - 34;
  area[52] = 232 - 7;
  area[51] = 232 - 'B';
  area[45] = 232 - 6;
  std::copy(text1.begin(), text1.end(), area.begin() + 64);
  std::copy(text2.begin(), text2.end(), area.begin() + 94);
  std::copy(versions.begin(), versions.end(), area.begin() + 124);
  return area;
}

// ---- info area ----

TEST(EepromInfoTest, DecodesTextsVersionsAndSerialNumber) {
  const Bytes area = InfoArea("Stage left", "", {0x00, 0xD3, 0x01, 0x02});
  EepromInfoRecord out;
  DecodeEepromInfo(area.data(), out);
  EXPECT_EQ(out.userText1, "Stage left");
  EXPECT_EQ(out.userText2, "");
  EXPECT_EQ(out.serialNumber, "B-07-1234");
  EXPECT_EQ(Bytes(out.versions, out.versions + 4), (Bytes{0x00, 0xD3, 0x01, 0x02}));
}

TEST(EepromInfoTest, TextFieldsEndAtTheFirstFFOrAfter30Bytes) {
  struct Case {
    const char* name;
    Bytes field;  // 30 bytes
    std::string text;
  };
  Bytes full(30, 'x');
  Bytes inner(30, 0xFF);
  inner[0] = 'a';
  inner[2] = 'b';  // behind the first FF: not part of the text
  Bytes withZero(30, 0xFF);
  withZero[0] = 'a';
  withZero[1] = 0x00;
  withZero[2] = 'c';
  const Case cases[] = {
      {"all FF", Bytes(30, 0xFF), ""},
      {"no FF", full, std::string(30, 'x')},
      {"text then FF", inner, "a"},
      {"bytes taken as they are", withZero, std::string("a\0c", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes area = InfoArea("", "", {0, 0, 0, 0});
    std::copy(c.field.begin(), c.field.end(), area.begin() + 94);
    area[124] = 0x41;  // the version that follows the second field is not text
    EepromInfoRecord out;
    DecodeEepromInfo(area.data(), out);
    EXPECT_EQ(out.userText2, c.text);
  }
}

TEST(EepromInfoTest, ASerialFieldWithoutALetterGivesAnEmptyText) {
  Bytes area = InfoArea("", "", {0, 0, 0, 0});
  area[51] = 232 - '7';
  EepromInfoRecord out;
  out.serialNumber = "old";
  DecodeEepromInfo(area.data(), out);
  EXPECT_EQ(out.serialNumber, "");
}

// ---- read ----

TEST(EepromReadTest, SendsOneByteAndFillsTheRecordFromTheAnswer) {
  ScriptedPort port;
  port.QueueAnswer(InfoArea("One", "Two", {0x00, 0xD3, 0x00, 0xD5}));
  CVeltrCommandEEPROMRead read;
  EepromInfoRecord out;
  ASSERT_EQ(read.Execute(port, &out), Ok);
  EXPECT_EQ(port.Chunks(), std::vector<Bytes>{{0x40}});
  EXPECT_EQ(out.userText1, "One");
  EXPECT_EQ(out.userText2, "Two");
  EXPECT_EQ(out.serialNumber, "B-07-1234");
  EXPECT_EQ(Bytes(out.versions, out.versions + 4), (Bytes{0x00, 0xD3, 0x00, 0xD5}));
}

TEST(EepromReadTest, AFailedReadLeavesTheRecordUnchanged) {
  struct Case {
    const char* name;
    std::vector<ReadResult> reads;
  };
  const ReadResult partial = ReadResult::Partial(Bytes(127, 0x00));
  const Case cases[] = {
      {"silent", {}},
      {"127 of 128 bytes", {partial, partial, partial}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    for (const ReadResult& r : c.reads) {
      port.QueueRead(r);
    }
    EepromInfoRecord out;
    out.userText1 = "kept";
    EXPECT_EQ(CVeltrCommandEEPROMRead().Execute(port, &out), NoResponse);
    EXPECT_EQ(out.userText1, "kept");
    EXPECT_EQ(port.CallCount(PortOp::kWrite), 3);
  }
}

// ---- byte echo ----

// The device's side of a byte-echo exchange: the command byte starts it and is not answered;
// every data byte is answered with the byte that the test's echo function returns for it.
class EchoDevice {
 public:
  // attempt counts from 0, index is the data byte's position within the attempt
  using EchoFn = std::function<ReadResult(int attempt, uint32_t index, uint8_t byte)>;

  EchoDevice(ScriptedPort& port, EchoFn echo) : echo_(std::move(echo)) {
    port.SetResponder([this](ScriptedPort& p, const Bytes& written) { OnWrite(p, written); });
  }

  int attempts() const { return attempt_ + 1; }

 private:
  void OnWrite(ScriptedPort& port, const Bytes& written) {
    EXPECT_EQ(written.size(), 1u) << "byte-echo bytes go out one at a time";
    if (!inCommand_) {
      inCommand_ = true;
      index_ = 0;
      ++attempt_;
      return;
    }
    ReadResult answer = echo_(attempt_, index_++, written[0]);
    // A bad or missing echo ends the attempt; the program starts again with the command byte.
    if (answer.fails || answer.bytes != written) {
      inCommand_ = false;
    }
    port.QueueRead(std::move(answer));
  }

  EchoFn echo_;
  bool inCommand_ = false;
  int attempt_ = -1;
  uint32_t index_ = 0;
};

ReadResult Faithful(int, uint32_t, uint8_t byte) {
  return ReadResult::Answer({byte});
}

// ---- write ----

TEST(EepromWriteTest, PrepareLaysOutTextsAndVersions) {
  EepromInfoRecord record;
  record.userText1 = std::string(40, 'L');  // cut to 30
  record.userText2 = "Short";
  const uint8_t versions[4] = {0x00, 0xD3, 0x01, 0x0A};
  std::memcpy(record.versions, versions, 4);
  CVeltrCommandEEPROMWrite command;
  ASSERT_TRUE(command.Prepare(&record));

  Bytes expected(65, 0xFF);
  expected[0] = 0x42;
  std::fill(expected.begin() + 1, expected.begin() + 31, 'L');
  std::copy_n("Short", 5, expected.begin() + 31);
  std::copy_n(versions, 4, expected.begin() + 61);
  EXPECT_EQ(BytesOf(command), expected);
  EXPECT_FALSE(command.Prepare(nullptr));
}

TEST(EepromWriteTest, AShorterTextLeavesNothingOfAnEarlierOne) {
  CVeltrCommandEEPROMWrite command;
  EepromInfoRecord record;
  record.userText1 = std::string(30, 'A');
  record.userText2 = std::string(30, 'B');
  ASSERT_TRUE(command.Prepare(&record));
  record.userText1 = "a";
  record.userText2 = "";
  ASSERT_TRUE(command.Prepare(&record));
  const Bytes request = BytesOf(command);
  EXPECT_EQ(request[1], 'a');
  EXPECT_EQ(Bytes(request.begin() + 2, request.begin() + 61), Bytes(59, 0xFF));
}

TEST(EepromWriteTest, SendsTheCommandByteThenEachDataByteAgainstItsEcho) {
  ScriptedPort port;
  EchoDevice device(port, Faithful);
  EepromInfoRecord record;
  record.userText1 = "Build 7";
  CVeltrCommandEEPROMWrite command;

  ASSERT_EQ(command.Execute(port, &record), Ok);

  const Bytes request = BytesOf(command);
  EXPECT_EQ(port.Sent(), request);
  EXPECT_EQ(port.Chunks().size(), 65u);
  EXPECT_EQ(port.CallCount(PortOp::kRead), 64);
  EXPECT_EQ(device.attempts(), 1);
}

TEST(EepromWriteTest, AMismatchAtTheTenthByteRestartsFromTheCommandByte) {
  ScriptedPort port;
  EchoDevice device(port, [](int attempt, uint32_t index, uint8_t byte) {
    return ReadResult::Answer({attempt == 0 && index == 9 ? uint8_t(byte ^ 1) : byte});
  });
  EepromInfoRecord record;
  record.userText1 = "0123456789ABCDEF";
  CVeltrCommandEEPROMWrite command;
  const auto start = std::chrono::steady_clock::now();

  ASSERT_EQ(command.Execute(port, &record), Ok);

  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
  const Bytes request = BytesOf(command);
  Bytes expected(request.begin(), request.begin() + 11);  // command byte and ten data bytes
  expected.insert(expected.end(), request.begin(), request.end());
  EXPECT_EQ(port.Sent(), expected);
  EXPECT_EQ(device.attempts(), 2);
}

TEST(EepromWriteTest, FailuresAfterThreeAttempts) {
  struct Case {
    const char* name;
    EchoDevice::EchoFn echo;
    std::vector<int> failedWrites;
    ResultCode result;
    size_t sentBytes;
  };
  const Case cases[] = {
      {"silent device",
       [](int, uint32_t, uint8_t) { return ReadResult::Silent(); },
       {},
       NoResponse,
       3 * 2},
      {"always wrong at the first data byte",
       [](int, uint32_t, uint8_t b) { return ReadResult::Answer({uint8_t(~b)}); },
       {},
       Crc,
       3 * 2},
      // A failed command byte ends each attempt before any data byte.
      {"command byte not sent", Faithful, {1, 2, 3}, CommunicationFailed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    EchoDevice device(port, c.echo);
    for (int call : c.failedWrites) {
      port.FailCall(PortOp::kWrite, call);
    }
    EepromInfoRecord record;
    EXPECT_EQ(CVeltrCommandEEPROMWrite().Execute(port, &record), c.result);
    EXPECT_EQ(port.Sent().size(), c.sentBytes);
    EXPECT_EQ(port.CallCount(PortOp::kWrite), 6 - (c.failedWrites.empty() ? 0 : 3));
  }
}

// ---- erase ----

TEST(EepromEraseTest, SendsTheCommandByteAndNBytesFF) {
  for (uint32_t count : {384u, 896u}) {
    SCOPED_TRACE(count);
    ScriptedPort port;
    EchoDevice device(port, Faithful);
    ASSERT_EQ(CVeltrCommandEEPROMErase().Execute(port, &count), Ok);
    Bytes expected(count + 1, 0xFF);
    expected[0] = 0x43;
    EXPECT_EQ(port.Sent(), expected);
    EXPECT_EQ(port.Chunks().size(), count + 1);
  }
}

TEST(EepromEraseTest, ABadFifthEchoGivesCrcAfterThreeAttemptsOfFiveBytes) {
  ScriptedPort port;
  EchoDevice device(port, [](int, uint32_t index, uint8_t byte) {
    return ReadResult::Answer({index == 4 ? uint8_t{0x00} : byte});
  });
  const uint32_t count = 384;
  const auto start = std::chrono::steady_clock::now();

  EXPECT_EQ(CVeltrCommandEEPROMErase().Execute(port, &count), Crc);

  // Three pauses after the three mismatches.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
  const Bytes attempt = {0x43, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  Bytes expected;
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(), attempt.begin(), attempt.end());
  }
  EXPECT_EQ(port.Sent(), expected);
  EXPECT_EQ(port.CallCount(PortOp::kRead), 15);
  EXPECT_EQ(device.attempts(), 3);
}

TEST(EepromEraseTest, ASilentEchoIsNoResponse) {
  ScriptedPort port;
  EchoDevice device(port, [](int attempt, uint32_t index, uint8_t byte) {
    return attempt < 2 && index == 100 ? ReadResult::Silent() : ReadResult::Answer({byte});
  });
  const uint32_t count = 384;
  EXPECT_EQ(CVeltrCommandEEPROMErase().Execute(port, &count), Ok);
  EXPECT_EQ(port.Sent().size(), 2 * 102 + 385u);

  ScriptedPort silent;
  EXPECT_EQ(CVeltrCommandEEPROMErase().Execute(silent, &count), NoResponse);
  EXPECT_EQ(silent.CallCount(PortOp::kRead), 3);
}

}  // namespace
}  // namespace veltr
