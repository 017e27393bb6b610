#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "protocol/commands.h"
#include "protocol/sums.h"
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

Bytes Counting(size_t count) {
  Bytes bytes(count);
  std::iota(bytes.begin(), bytes.end(), uint8_t{1});
  return bytes;
}

// ---- jump to upgrade code ----

const Bytes kJumpAck = {0x04, 0x57, 0xFF, 0xFF, 0x59};

TEST(JumpToUpgradeCodeTest, RequestIsTheFixedFrameAndNoTimeoutIsSet) {
  ScriptedPort port;
  port.QueueAnswer(kJumpAck);
  CVeltrCommandJumpToUpgradeCode jump;
  EXPECT_EQ(BytesOf(jump), (Bytes{0x08, 0x57, 0xFF, 0xFF, 0xC9, 0x00, 0x01, 0x29, 0x50}));
  EXPECT_EQ(jump.Execute(port), Ok);
  EXPECT_EQ(port.Chunks().size(), 1u);
  EXPECT_TRUE(port.Timeouts().empty());
}

TEST(JumpToUpgradeCodeTest, AnswersAndTheirResults) {
  struct Case {
    const char* name;
    std::vector<ReadResult> reads;
    ResultCode result;
    int writes;
  };
  const ReadResult badSum = ReadResult::Answer({0x04, 0x57, 0xFF, 0xFF, 0x58});
  const ReadResult short4 = ReadResult::Partial({0x04, 0x57, 0xFF, 0xFF});
  const ReadResult pageAck = ReadResult::Answer({0x04, 0x56, 0xFF, 0xFF, 0x58});
  const Case cases[] = {
      {"wrong sum byte is not a CRC error", {badSum, badSum, badSum}, CommunicationFailed, 3},
      {"page acknowledgement", {pageAck, pageAck, pageAck}, CommunicationFailed, 3},
      {"silent", {}, NoResponse, 3},
      {"four of five bytes", {short4, short4, short4}, NoResponse, 3},
      {"second attempt right", {badSum, ReadResult::Answer(kJumpAck)}, Ok, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    for (const ReadResult& r : c.reads) {
      port.QueueRead(r);
    }
    EXPECT_EQ(CVeltrCommandJumpToUpgradeCode().Execute(port), c.result);
    EXPECT_EQ(port.CallCount(PortOp::kWrite), c.writes);
  }
}

// ---- upgrade-code page write ----

const Bytes kPageAck = {0x04, 0x56, 0xFF, 0xFF, 0x58};

TEST(UpgradeCodePageWriteTest, PrepareAcceptsOnlyWholePagesOf256Or512) {
  const Bytes data(600, 0x33);
  struct Case {
    uint32_t byteCount;
    uint32_t pageIndex;
    bool accepted;
    uint8_t parts;
  };
  const Case cases[] = {
      {256, 0, true, 2},   {512, 7, true, 4},    {300, 0, false, 0},
      {128, 0, false, 0},  {0, 0, false, 0},     {513, 0, false, 0},
      {512, 255, true, 4}, {512, 256, false, 0},  // the index byte cannot hold it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.byteCount << " bytes, page " << c.pageIndex);
    CVeltrCommandUpgradeCodePageWrite command;
    const PageRecord record{data.data(), c.byteCount, c.pageIndex, RIFSX7};
    EXPECT_EQ(command.Prepare(&record), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(command.PartCount(), c.parts);
      EXPECT_EQ(*command.At(5), c.pageIndex & 0xFF);
    }
  }
  CVeltrCommandUpgradeCodePageWrite command;
  EXPECT_FALSE(command.Prepare(nullptr));
  const PageRecord noData{nullptr, 512, 0, RIFSX7};
  EXPECT_FALSE(command.Prepare(&noData));
}

TEST(UpgradeCodePageWriteTest, APageOf512GoesOutAsFourSummedParts) {
  ScriptedPort port;
  port.SetResponder([](ScriptedPort& p, const Bytes&) { p.QueueAnswer(kPageAck); });
  const Bytes data = Counting(512);
  const PageRecord record{data.data(), 512, 3, RIFSX7};

  ASSERT_EQ(CVeltrCommandUpgradeCodePageWrite().Execute(port, &record), Ok);

  const std::vector<Bytes> chunks = port.Chunks();
  ASSERT_EQ(chunks.size(), 4u);
  for (size_t part = 0; part < chunks.size(); ++part) {
    SCOPED_TRACE(part);
    const Bytes& frame = chunks[part];
    ASSERT_EQ(frame.size(), 137u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 8),
              (Bytes{0x88, 0x56, 0xFF, 0xFF, 0xB6, 0x03, static_cast<uint8_t>(part), 0x6A}));
    EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 136),
              Bytes(data.begin() + part * 128, data.begin() + part * 128 + 128));
    EXPECT_EQ(frame[136], Sum8(frame.data(), 136));
  }
  EXPECT_EQ(port.Timeouts(), std::vector<uint32_t>{1000});
}

TEST(UpgradeCodePageWriteTest, APageOf256GoesOutAsTwoParts) {
  ScriptedPort port;
  port.SetResponder([](ScriptedPort& p, const Bytes&) { p.QueueAnswer(kPageAck); });
  const Bytes data = Counting(256);
  const PageRecord record{data.data(), 256, 0, MT20E};
  ASSERT_EQ(CVeltrCommandUpgradeCodePageWrite().Execute(port, &record), Ok);
  const std::vector<Bytes> chunks = port.Chunks();
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[1][6], 1);
}

TEST(UpgradeCodePageWriteTest, AWrongRecordIsRefusedWithNothingSent) {
  ScriptedPort port;
  const Bytes data(300, 0x00);
  const PageRecord record{data.data(), 300, 0, RIFSX7};
  EXPECT_EQ(CVeltrCommandUpgradeCodePageWrite().Execute(port, &record), InvalidParameter);
  EXPECT_TRUE(port.Events().empty());
}

TEST(UpgradeCodePageWriteTest, APartThatFailsThreeTimesStopsThePage) {
  struct Case {
    const char* name;
    ReadResult badAnswer;
    ResultCode result;
  };
  const Case cases[] = {
      {"wrong acknowledgement", ReadResult::Answer({0x04, 0x57, 0xFF, 0xFF, 0x59}),
       CommunicationFailed},
      {"silent", ReadResult::Silent(), NoResponse},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    // Part 0 is acknowledged, part 1 never.
    port.SetResponder([&c](ScriptedPort& p, const Bytes& frame) {
      p.QueueRead(frame[6] == 0 ? ReadResult::Answer(kPageAck) : c.badAnswer);
    });
    const Bytes data = Counting(512);
    const PageRecord record{data.data(), 512, 0, RIFSX7};
    EXPECT_EQ(CVeltrCommandUpgradeCodePageWrite().Execute(port, &record), c.result);
    const std::vector<Bytes> chunks = port.Chunks();
    ASSERT_EQ(chunks.size(), 4u);  // part 0 once, part 1 three times, nothing after
    EXPECT_EQ(chunks[0][6], 0);
    for (size_t i = 1; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i][6], 1);
    }
  }
}

TEST(UpgradeCodePageWriteTest, TheCommandIsRewrittenForEachPage) {
  ScriptedPort port;
  port.SetResponder([](ScriptedPort& p, const Bytes&) { p.QueueAnswer(kPageAck); });
  CVeltrCommandUpgradeCodePageWrite command;
  const Bytes first(512, 0xAB);
  const Bytes second(256, 0x01);
  const PageRecord records[] = {{first.data(), 512, 0, RIFSX7}, {second.data(), 256, 1, RIFSX7}};
  for (const PageRecord& r : records) {
    ASSERT_EQ(command.Execute(port, &r), Ok);
  }
  const std::vector<Bytes> chunks = port.Chunks();
  ASSERT_EQ(chunks.size(), 6u);
  EXPECT_EQ(chunks[4][5], 1);
  EXPECT_EQ(chunks[4][6], 0);
  EXPECT_EQ(Bytes(chunks[5].begin() + 8, chunks[5].begin() + 136), Bytes(128, 0x01));
  EXPECT_EQ(chunks[5][136], Sum8(chunks[5].data(), 136));
}

// ---- page writes ----

// The device's side of a page frame: 'U', the sum it computed, FF.
void AnswerWithSum(ScriptedPort& port, const Bytes& frame) {
  const uint16_t sum = Sum16(frame.data() + 3, 256);
  port.QueueAnswer({0x55, static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum), 0xFF});
}

TEST(PageWriteTest, ConstructorsGiveAnFFFrameWithTheirCode) {
  EXPECT_EQ(BytesOf(CVeltrCommandPageWrite()), Bytes(261, 0xFF));
  Bytes prom(261, 0xFF);
  prom[0] = 0x10;
  EXPECT_EQ(BytesOf(CVeltrCommandPROMPageWrite()), prom);
  Bytes up(261, 0xFF);
  up[0] = 0x20;
  EXPECT_EQ(BytesOf(CVeltrCommandUPPageWrite()), up);
  EXPECT_EQ(CVeltrCommandPageWrite().Answer().GetSize(), 4u);
}

TEST(PageWriteTest, AShortPageIsPaddedWithFFAndSummedOverAll256) {
  const Bytes data = Counting(10);
  const PageRecord record{data.data(), 10, 0, MT10};
  CVeltrCommandPROMPageWrite command;
  ASSERT_TRUE(command.Prepare(&record));
  const Bytes frame = BytesOf(command);
  EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 13), data);
  EXPECT_EQ(Bytes(frame.begin() + 13, frame.begin() + 259), Bytes(246, 0xFF));
  const uint16_t sum = 55 + 246 * 0xFF;
  EXPECT_EQ(frame[259], sum >> 8);
  EXPECT_EQ(frame[260], sum & 0xFF);
}

TEST(PageWriteTest, APreparedPageLeavesNothingOfThePreviousOne) {
  CVeltrCommandUPPageWrite command;
  const Bytes full(256, 0x11);
  const PageRecord first{full.data(), 256, 1, MT10};
  ASSERT_TRUE(command.Prepare(&first));
  const Bytes data = Counting(10);
  const PageRecord second{data.data(), 10, 2, MT10};
  ASSERT_TRUE(command.Prepare(&second));
  const Bytes frame = BytesOf(command);
  EXPECT_EQ(Bytes(frame.begin() + 13, frame.begin() + 259), Bytes(246, 0xFF));
  EXPECT_EQ(frame[1], 2);
}

TEST(PageWriteTest, OnlyTheFirst256BytesOfALongRecordAreSent) {
  const Bytes data(300, 0x22);
  const PageRecord record{data.data(), 300, 0, MT10};
  CVeltrCommandPROMPageWrite command;
  ASSERT_TRUE(command.Prepare(&record));
  const Bytes frame = BytesOf(command);
  EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 259), Bytes(256, 0x22));
}

TEST(PageWriteTest, PromAddressIsTheIndexDoubledHighByteFirst) {
  struct Case {
    uint32_t index;
    bool accepted;
    uint8_t high, low;
  };
  const Case cases[] = {
      {0, true, 0x00, 0x00},     {1, true, 0x00, 0x02}, {300, true, 0x02, 0x58},
      {32767, true, 0xFF, 0xFE}, {32768, false, 0, 0},  // would wrap onto page 0
      {65535, false, 0, 0},      {65536, false, 0, 0},
  };
  const Bytes data(256, 0x00);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    CVeltrCommandPROMPageWrite command;
    const PageRecord record{data.data(), 256, c.index, MT10};
    ASSERT_EQ(command.Prepare(&record), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(*command.At(0), 0x10);
      EXPECT_EQ(*command.At(1), c.high);
      EXPECT_EQ(*command.At(2), c.low);
    }
  }
}

TEST(PageWriteTest, ProcessorAddressIsTheIndexLowByteFirstWithinTheTypesLimit) {
  struct Case {
    DeviceType type;
    uint32_t index;
    bool accepted;
  };
  const Case cases[] = {
      {MT10, 55, true},          {MT10, 56, false},          {PXR, 56, true},
      {PXR, 1008, true},         {PXR, 1009, false},         {PL1TP, 1008, true},
      {RIFSX7, 992, true},       {RIFSX7, 993, false},       {PXRFX, 300, true},
      {kNoDeviceType, 55, true}, {kNoDeviceType, 56, false}, {HBA310USB, 56, false},
  };
  const Bytes data(256, 0x00);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " index " << c.index);
    CVeltrCommandUPPageWrite command;
    const PageRecord record{data.data(), 256, c.index, c.type};
    ASSERT_EQ(command.Prepare(&record), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(*command.At(0), 0x20);
      EXPECT_EQ(*command.At(1), c.index & 0xFF);
      EXPECT_EQ(*command.At(2), c.index >> 8);
    }
  }
}

TEST(PageWriteTest, ARefusedIndexIsAnInvalidParameterWithNothingSent) {
  ScriptedPort port;
  const Bytes data(256, 0x00);
  const PageRecord record{data.data(), 256, 56, MT10};
  EXPECT_EQ(CVeltrCommandUPPageWrite().Execute(port, &record), InvalidParameter);
  EXPECT_TRUE(port.Events().empty());
}

TEST(PageWriteTest, AllFFPageEndsFF00AndExpects55FF00FF) {
  ScriptedPort port;
  port.QueueAnswer({0x55, 0xFF, 0x00, 0xFF});
  const Bytes data(256, 0xFF);
  const PageRecord record{data.data(), 256, 4, MT10};
  ASSERT_EQ(CVeltrCommandPROMPageWrite().Execute(port, &record), Ok);
  const Bytes frame = port.Chunks().at(0);
  ASSERT_EQ(frame.size(), 261u);
  EXPECT_EQ(frame[259], 0xFF);
  EXPECT_EQ(frame[260], 0x00);
  EXPECT_EQ(port.Timeouts(), std::vector<uint32_t>{1000});
}

TEST(PageWriteTest, AnswersAndTheirResults) {
  // For Counting(256) the sum16 is 0x7F80.
  struct Case {
    const char* name;
    ReadResult answer;
    ResultCode result;
  };
  const Case cases[] = {
      {"wrong first byte", ReadResult::Answer({0x56, 0x7F, 0x80, 0xFF}), Crc},
      {"wrong sum high", ReadResult::Answer({0x55, 0x80, 0x80, 0xFF}), Crc},
      {"wrong sum low", ReadResult::Answer({0x55, 0x7F, 0x81, 0xFF}), Crc},
      {"last byte not FF", ReadResult::Answer({0x55, 0x7F, 0x80, 0xFE}), Crc},
      {"three of four bytes", ReadResult::Partial({0x55, 0x7F, 0x80}), NoResponse},
      {"silent", ReadResult::Silent(), NoResponse},
  };
  const Bytes data = Counting(256);
  ASSERT_EQ(Sum16(data.data(), data.size()), 0x7F80);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPort port;
    for (int i = 0; i < 3; ++i) {
      port.QueueRead(c.answer);
    }
    const PageRecord record{data.data(), 256, 0, PXR};
    EXPECT_EQ(CVeltrCommandUPPageWrite().Execute(port, &record), c.result);
    const std::vector<Bytes> chunks = port.Chunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[2], chunks[0]);  // each attempt sends the whole frame again
  }
}

TEST(PageWriteTest, RetriesUntilTheDeviceAgrees) {
  ScriptedPort port;
  int frames = 0;
  port.SetResponder([&frames](ScriptedPort& p, const Bytes& frame) {
    if (++frames < 3) {
      p.QueueAnswer({0x55, 0x00, 0x00, 0xFF});
    } else {
      AnswerWithSum(p, frame);
    }
  });
  const Bytes data = Counting(256);
  const PageRecord record{data.data(), 256, 0, MT10};
  EXPECT_EQ(CVeltrCommandPROMPageWrite().Execute(port, &record), Ok);
  EXPECT_EQ(frames, 3);

  ScriptedPort broken;
  broken.FailCallsFrom(PortOp::kWrite, 1);
  EXPECT_EQ(CVeltrCommandPROMPageWrite().Execute(broken, &record), CommunicationFailed);
  EXPECT_EQ(broken.CallCount(PortOp::kWrite), 3);
  EXPECT_EQ(broken.CallCount(PortOp::kRead), 0);
}

}  // namespace
}  // namespace veltr
