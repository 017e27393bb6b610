// Each fault the simulator can be told to show, as the host sees it on the line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "device_rig.h"

namespace devsim_test {
namespace {

using devsim::Mode;

// --- page frame faults -----------------------------------------------------------------------

enum class Outcome { kAck, kWrongSum, kNothing };

struct PageFaultCase {
  const char* what;
  devsim::Faults faults;
  std::vector<Outcome> frames;  // one frame sent per entry, each a new page
  bool answersAfterwards;       // does program-mode exit still get its carriage return
};

devsim::Faults Drop(std::vector<std::uint32_t> frames) {
  devsim::Faults f;
  f.dropPages = std::move(frames);
  return f;
}
devsim::Faults Corrupt(std::vector<std::uint32_t> frames) {
  devsim::Faults f;
  f.corruptPages = std::move(frames);
  return f;
}
devsim::Faults SilentAfter(std::uint32_t pages) {
  devsim::Faults f;
  f.silentAfterPages = pages;
  return f;
}

const PageFaultCase kPageFaultCases[] = {
    {"drop the second", Drop({2}), {Outcome::kAck, Outcome::kNothing, Outcome::kAck}, true},
    {"drop three in a row",
     Drop({1, 2, 3}),
     {Outcome::kNothing, Outcome::kNothing, Outcome::kNothing, Outcome::kAck},
     true},
    {"corrupt the first", Corrupt({1}), {Outcome::kWrongSum, Outcome::kAck}, true},
    {"silent after two", SilentAfter(2), {Outcome::kAck, Outcome::kAck, Outcome::kNothing}, false},
    {"silent after none", SilentAfter(0), {Outcome::kNothing}, false},
};

void PrintTo(const PageFaultCase& c, std::ostream* os) {
  *os << Label(c.what);
}

class PageFaultTest : public DeviceRig, public ::testing::WithParamInterface<PageFaultCase> {};

TEST_P(PageFaultTest, FramesAreAnsweredAsTold) {
  const PageFaultCase& c = GetParam();
  devsim::SimulatorOptions options;
  options.faults = c.faults;
  StartDevice("MT10E", Mode::kProgram, options);
  line.SetSpeed(B115200);
  for (std::size_t i = 0; i < c.frames.size(); ++i) {
    const Bytes data = PagePattern(static_cast<std::uint32_t>(i));
    const Bytes answer =
        line.Exchange(LogicPageFrame(static_cast<std::uint32_t>(i), data), 4,
                      c.frames[i] == Outcome::kNothing ? kSilenceMs : kAnswerTimeoutMs);
    const Bytes ack = PageAck(data);
    switch (c.frames[i]) {
      case Outcome::kAck:
        EXPECT_EQ(answer, ack) << c.what << ", frame " << i + 1;
        break;
      case Outcome::kWrongSum:
        ASSERT_EQ(answer.size(), 4u) << c.what << ", frame " << i + 1;
        EXPECT_EQ(answer[0], 0x55);
        EXPECT_NE(answer, ack) << c.what << ", frame " << i + 1;
        break;
      case Outcome::kNothing:
        EXPECT_TRUE(answer.empty()) << c.what << ", frame " << i + 1;
        break;
    }
  }
  const Bytes exitAnswer = line.Exchange(ExitRequest(), 1, kSilenceMs);
  EXPECT_EQ(exitAnswer.size() == 1, c.answersAfterwards) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Faults, PageFaultTest, ::testing::ValuesIn(kPageFaultCases),
                         ::testing::PrintToStringParamName());

// --- the other faults ------------------------------------------------------------------------

using FaultTest = DeviceRig;

TEST_F(FaultTest, SlowDelaysEveryAnswer) {
  devsim::SimulatorOptions options;
  options.faults.slowMs = 200;
  StartDevice("MT10", Mode::kProgram, options);
  line.SetSpeed(B57600);
  for (const Bytes& request : {ExitRequest(), AccessSequence()}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(line.Exchange(request, 1).empty());
    EXPECT_GE(MillisecondsSince(start), 150.0);
  }
}

TEST_F(FaultTest, StrayBytesFollowAnAnswerButNeverCutIntoAnExchange) {
  devsim::SimulatorOptions options;
  options.faults.strayBytes = true;
  StartDevice("MT10", Mode::kProgram, options);
  line.SetSpeed(B57600);
  EXPECT_EQ(line.Exchange(AccessSequence(), 16).size(), 16u);
  EXPECT_FALSE(line.Read(16, 500).empty()) << "junk after the answer";

  Bytes data(64, 0x33);
  EXPECT_EQ(EchoExchange(0x42, data), data);
  const Bytes info = line.Exchange({0x40}, 128);
  ASSERT_EQ(info.size(), 128u);
  EXPECT_EQ(info[64], 0x33);
}

TEST_F(FaultTest, RefusedProgramModeNeverAnswersTheSequence) {
  devsim::SimulatorOptions options;
  options.faults.refuseProgramMode = true;
  StartDevice("MT10E", Mode::kProgram, options);
  line.SetSpeed(B115200);
  EXPECT_TRUE(line.Exchange(AccessSequence(), 16, kSilenceMs).empty());
  EXPECT_EQ(line.Exchange(ExitRequest(), 1), Bytes{0x0D});
  EXPECT_TRUE(line.Exchange(AccessSequence(), 16, kSilenceMs).empty());
}

TEST_F(FaultTest, FailedEchoDropsTheWriteAndTheHostsRetrySucceeds) {
  devsim::SimulatorOptions options;
  options.faults.failEchoes = {3};
  StartDevice("MT10E", Mode::kProgram, options);
  line.SetSpeed(B115200);
  Bytes data(64);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>(i);
  }
  // The host stops at the first wrong echo, waits 50 ms and starts over from the command byte.
  line.Purge();
  line.Write({0x42});
  for (std::size_t i = 0; i < 3; ++i) {
    line.Write({data[i]});
    const Bytes echo = line.Read(1);
    ASSERT_EQ(echo.size(), 1u);
    if (i < 2) {
      EXPECT_EQ(echo[0], data[i]);
    } else {
      EXPECT_NE(echo[0], data[i]);
    }
  }
  usleep(50 * 1000);
  EXPECT_EQ(EchoExchange(0x42, data), data);
  const Bytes info = line.Exchange({0x40}, 128);
  ASSERT_EQ(info.size(), 128u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), info.begin() + 64));
}

TEST_F(FaultTest, FailedEchoInAnEraseStopsIt) {
  devsim::SimulatorOptions options;
  options.faults.failEchoes = {5};
  StartDevice("KL1B", Mode::kProgram, options);
  line.SetSpeed(B19200);
  const Bytes echoes = EchoExchange(0x43, Bytes(5, 0xFF));
  ASSERT_EQ(echoes.size(), 5u);
  EXPECT_EQ(echoes[4], 0x00);
  const devsim::DeviceState state = device->Snapshot();
  ASSERT_FALSE(state.writeLog.empty());
  EXPECT_EQ(state.writeLog.back().count, 4u);
  EXPECT_NE(state.eeprom[128 + 4], 0xFF);
}

// The page is stored either way; only its acknowledgement goes wrong.
TEST_F(FaultTest, ShortAnswerLeavesOffTheLastByte) {
  devsim::SimulatorOptions options;
  options.faults.shortAnswerPages = {1};
  StartDevice("MT10E", Mode::kProgram, options);
  line.SetSpeed(B115200);
  const Bytes data = PagePattern(0);
  const Bytes ack = PageAck(data);
  EXPECT_EQ(line.Exchange(LogicPageFrame(0, data), 4, kSilenceMs),
            Bytes(ack.begin(), ack.end() - 1));
  EXPECT_EQ(line.Exchange(LogicPageFrame(0, data), 4), ack) << "the next attempt is answered whole";
  EXPECT_EQ(device->Snapshot().LogicPage(0), data);
}

TEST_F(FaultTest, LateAnswerComesAfterTheHostsTimeOut) {
  devsim::SimulatorOptions options;
  options.faults.lateAnswerPages = {1};
  StartDevice("MT10E", Mode::kProgram, options);
  line.SetSpeed(B115200);
  const Bytes data = PagePattern(0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(line.Exchange(LogicPageFrame(0, data), 4, 1000).empty()) << "within the time-out";
  EXPECT_EQ(line.Read(4, 5000), PageAck(data)) << "but it does come";
  EXPECT_GE(MillisecondsSince(start), devsim::kLateAnswerMs - 100.0);
}

// A reset mid-upload: the device announces itself with a carriage return, takes no page frames in
// its loader, starts its firmware, and keeps what it had stored.
TEST_F(FaultTest, RestartAfterPagesResetsIntoTheLoaderWithItsMemory) {
  devsim::SimulatorOptions options;
  options.faults.restartAfterPages = 2;
  StartDevice("MT10E", Mode::kProgram, options);
  line.SetSpeed(B115200);
  EXPECT_EQ(line.Exchange(LogicPageFrame(0, PagePattern(0)), 4), PageAck(PagePattern(0)));
  const Bytes answer = line.Exchange(LogicPageFrame(1, PagePattern(1)), 5);
  EXPECT_EQ(answer, [] {
    Bytes bytes = PageAck(PagePattern(1));
    bytes.push_back(0x0D);
    return bytes;
  }());
  EXPECT_TRUE(line.Exchange(LogicPageFrame(2, PagePattern(2)), 4, kSilenceMs).empty());
  EXPECT_NE(device->CurrentMode(), Mode::kProgram);
  EXPECT_EQ(device->Snapshot().LogicPage(1), PagePattern(1));
}

}  // namespace
}  // namespace devsim_test
