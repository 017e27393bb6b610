// The older processor loaders (word-wise writes with echoes, the console loader's erase and
// 256-byte blocks), the speed record of every received byte, and the loader's patience with a host
// that wakes the device without reading its answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "device_rig.h"

namespace devsim_test {
namespace {

using devsim::Mode;
using devsim::ProcessorWrites;

std::string IdentifierOf16(const Bytes& identity) {
  return identity.size() == 16 ? std::string(identity.begin() + 8, identity.end()) : "";
}

devsim::SimulatorOptions Writes(ProcessorWrites writes) {
  devsim::SimulatorOptions options;
  options.processorWrites = writes;
  return options;
}

class LoaderTest : public DeviceRig {};

TEST_F(LoaderTest, WordWritesEchoEachByteAndFillTheFlashByWordAddress) {
  StartDevice("KL1A", Mode::kProgram, Writes(ProcessorWrites::kWords));
  line.SetSpeed(B19200);
  EXPECT_EQ(line.Exchange({0x20}, 1), Bytes{0x0D}) << "connect";
  EXPECT_EQ(line.Exchange({0x21}, 1), Bytes{0x0D}) << "erase";
  for (std::uint8_t w : {0, 1, 0x81}) {
    line.Write({0x24, 0x00, w});
    for (std::uint8_t half : {0, 1}) {
      const std::uint8_t data = static_cast<std::uint8_t>(0x10 * half + w);
      line.Write({data});
      EXPECT_EQ(line.Read(1), Bytes{data});
    }
  }
  EXPECT_TRUE(line.Silent()) << "the address bytes are not echoed";
  const devsim::DeviceState state = device->Snapshot();
  const Bytes flash = state.ProcessorBytes(0x104);
  EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 5), (Bytes{0x00, 0x10, 0x01, 0x11, 0xFF}));
  EXPECT_EQ(flash[0x102], 0x81);
  EXPECT_EQ(flash[0x103], 0x91);
}

TEST_F(LoaderTest, ConsoleBlocksAnswerFailedCountAndSum) {
  StartDevice("KL1A", Mode::kProgram, Writes(ProcessorWrites::kBlocks));
  line.SetSpeed(B19200);
  EXPECT_EQ(line.Exchange({0x21}, 1), Bytes{0x0D}) << "erase";
  const Bytes data = PagePattern(7);
  Bytes frame(3 + data.size());
  frame[0] = 0x24;
  frame[2] = 0x03;
  std::copy(data.begin(), data.end(), frame.begin() + 3);
  const std::uint16_t sum = Sum16(data);
  EXPECT_EQ(line.Exchange(frame, 3),
            (Bytes{0x00, static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)}));
  EXPECT_EQ(device->Snapshot().ProcessorPage(3), data);
  // An erase clears what the blocks wrote.
  EXPECT_EQ(line.Exchange({0x21}, 1), Bytes{0x0D});
  EXPECT_EQ(device->Snapshot().ProcessorPage(3), Bytes(256, 0xFF));
}

TEST_F(LoaderTest, PageFramesStayTheDefault) {
  StartDevice("MT10", Mode::kProgram);
  line.SetSpeed(B57600);
  const Bytes data = PagePattern(3);
  EXPECT_EQ(line.Exchange(ProcessorPageFrame(2, data), 4), PageAck(data));
}

TEST_F(LoaderTest, RecordsTheSpeedOfEveryByteReceived) {
  StartDevice("KL1B", Mode::kFirmware);
  EXPECT_EQ(IdentifierOf16(WarmBootAndEnter(B19200)), "   KL1 B");
  const auto runs = device->ReceivedSpeeds();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].baud, 57600);
  EXPECT_EQ(runs[0].count, 5u);
  EXPECT_EQ(runs[1].baud, 19200);
  EXPECT_EQ(runs[1].count, 16u);
}

// A host that does not read the carriage return listens on a quiet line for up to half a second
// before it sends the sequence.
TEST_F(LoaderTest, LoaderWaitsLongerAfterAWarmBoot) {
  StartDevice("MT10E", Mode::kFirmware);
  line.SetSpeed(B57600);
  line.Write(WarmBootRequest());
  usleep(200 * 1000);
  line.SetSpeed(B115200);
  line.Purge();
  usleep(700 * 1000);
  EXPECT_EQ(line.Exchange(AccessSequence(), 16).size(), 16u);
}

TEST_F(LoaderTest, WarmBootRestartsTheLoaderAfterAnExit) {
  StartDevice("MT10", Mode::kProgram);
  line.SetSpeed(B57600);
  EXPECT_EQ(line.Exchange(ExitRequest(), 1), Bytes{0x0D});
  EXPECT_EQ(device->CurrentMode(), Mode::kLoader);
  EXPECT_EQ(line.Exchange(WarmBootRequest(), 1), Bytes{0x0D});
  usleep(500 * 1000);  // past the window of the exit, inside that of the warm boot
  EXPECT_EQ(line.Exchange(AccessSequence(), 16).size(), 16u);
}

TEST_F(LoaderTest, EraseGoesOnAfterTheHostPaused) {
  StartDevice("KL1B", Mode::kProgram);
  line.SetSpeed(B19200);
  EXPECT_EQ(EchoExchange(0x43, Bytes(100, 0xFF)), Bytes(100, 0xFF));
  usleep(300 * 1000);
  for (int i = 0; i < 100; ++i) {
    line.Write({0xFF});
    ASSERT_EQ(line.Read(1), Bytes{0xFF}) << "byte " << 100 + i;
  }
  const auto eeprom = device->Snapshot().eeprom;
  EXPECT_TRUE(std::all_of(eeprom.begin() + 128, eeprom.begin() + 328,
                          [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_NE(eeprom[328], 0xFF);
}

}  // namespace
}  // namespace devsim_test
