#include "engine/connection.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "fake_device.h"
#include "protocol/commands.h"

namespace veltr::test {
namespace {

// Every whole line the display was given, in order, so that a line's history (the cold boot
// count-down) can be read after the fact.
class LineHistory {
 public:
  // Takes the line changes waiting in the engine's channel.
  void TakeFrom(CVeltrNoticeQueue& queue) {
    while (const auto notice = queue.TryTake()) {
      if (notice->kind == Notice::Kind::Display &&
          notice->change.kind == DisplayChange::Kind::Line) {
        changes_.push_back(notice->change);
      }
    }
  }

  std::vector<std::string> Of(uint32_t page, uint32_t line) const {
    std::vector<std::string> texts;
    for (const DisplayChange& change : changes_) {
      if (change.page == page && change.line == line) {
        texts.push_back(change.text);
      }
    }
    return texts;
  }

 private:
  std::vector<DisplayChange> changes_;
};

// The search on an engine whose three ports are fake devices.
class SearchTest : protected FakeDevicePorts, public EngineTest {
 protected:
  SearchTest() : EngineTest(TakePorts()) {}

  void SetUp() override {
    EngineTest::SetUp();
    serial_.SetIdentity("   KL1 A", 101, 105);
  }

  // A search on one port only, as without automatic selection.
  void RequestPort(PortId port, bool coldBoot = false) {
    JobRequest request;
    request.port = port;
    request.autoselect = false;
    request.coldBoot = coldBoot;
    engine_.SetRequest(request);
  }

  // The index of the first successful Write of exactly these bytes; -1 when there is none.
  static int WriteIndex(const ScriptedPort& port, const Bytes& bytes) {
    const auto& events = port.Events();
    for (size_t i = 0; i < events.size(); ++i) {
      if (events[i].op == PortOp::kWrite && events[i].ok && events[i].bytes == bytes) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  static Bytes EntryRequest() {
    const CVeltrCommandProgramModeEnter entry;
    return Bytes(entry.At(0), entry.At(0) + entry.GetSize());
  }

  LineHistory history_;
};

struct ProgramModeRoute {
  const char* name;
  bool answersExit;
  bool answersWarmBoot;
  int exits;
  int warmBoots;
  bool entryBehindAnAnswer;  // the entry request went out as a follow-up, not by the entry itself
};

void PrintTo(const ProgramModeRoute& c, std::ostream* os) {
  *os << c.name;
}

class ProgramModeRouteTest : public SearchTest,
                             public ::testing::WithParamInterface<ProgramModeRoute> {};

// A device in program mode answers the exit; one running its firmware only the warm boot; a
// device that answers neither may still take the entry request sent on its own.
TEST_P(ProgramModeRouteTest, SerialDeviceReachesProgramMode) {
  const auto& c = GetParam();
  serial_.answersExit = c.answersExit;
  serial_.answersWarmBoot = c.answersWarmBoot;
  RequestPort(kPortCom2);

  ASSERT_TRUE(Search(engine_));
  EXPECT_EQ(serial_.exits, c.exits);
  EXPECT_EQ(serial_.warmBoots, c.warmBoots);
  EXPECT_EQ(serial_.entryRequests, 1) << "the access sequence goes out once";
  const std::vector<Bytes> chunks = serial_.Chunks();
  ASSERT_GE(chunks.size(), 3u);
  EXPECT_EQ(chunks[chunks.size() - 2], EntryRequest());
  EXPECT_EQ(chunks.back(), Bytes{0x40}) << "the EEPROM read follows the entry";
  const int entry = WriteIndex(serial_, EntryRequest());
  ASSERT_GT(entry, 0);
  const PortEvent& before = serial_.Events()[entry - 1];
  if (c.entryBehindAnAnswer) {
    EXPECT_EQ(before.op, PortOp::kRead);
    EXPECT_EQ(before.bytes, Bytes{0x0D}) << "right behind the device's carriage return";
  } else {
    EXPECT_EQ(before.op, PortOp::kSetTimeout) << "the entry command sends it itself";
  }
  EXPECT_EQ(Line(0, 2), "   Searching COM2 ... Connection established");
  EXPECT_EQ(engine_.info.type, KL1A);
  EXPECT_EQ(engine_.info.uploaderVersion.Word(), 105);
  EXPECT_TRUE(engine_.IsConnected());
  EXPECT_TRUE(engine_.job.Succeeded());
  EXPECT_EQ(&engine_.CurrentPort(), &serial_);
}

INSTANTIATE_TEST_SUITE_P(
    Search, ProgramModeRouteTest,
    ::testing::Values(ProgramModeRoute{"ExitAnswered", true, true, 1, 0, true},
                      ProgramModeRoute{"WarmBootAfterASilentExit", false, true, 3, 1, true},
                      ProgramModeRoute{"NeitherAnswered", false, false, 3, 3, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(SearchTest, WarmBootGoesOutAt57600AndTheLineSpeedComesBack) {
  serial_.answersExit = false;
  RequestPort(kPortCom1);
  ASSERT_TRUE(Search(engine_));
  EXPECT_EQ(serial_.Opens().at(0).baudRate, 19200) << "KL1A expected";
  EXPECT_EQ(serial_.BaudRateCalls(), (std::vector<uint32_t>{57600, 19200}));
  const int warmBoot = WriteIndex(serial_, Bytes{0x04, 0x55, 0x1A, 0x1B, 0x8E});
  ASSERT_GE(warmBoot, 0);
  EXPECT_EQ(serial_.Events()[warmBoot].value, 57600u);
  EXPECT_EQ(serial_.GetBaudRate(), 19200u);
}

TEST_F(SearchTest, EepromReadFailingAfterTheEntryClosesThePort) {
  serial_.answersEepromRead = false;
  RequestPort(kPortCom1);

  EXPECT_FALSE(Search(engine_));
  EXPECT_EQ(serial_.entryRequests, 1);
  ASSERT_FALSE(serial_.Chunks().empty());
  EXPECT_EQ(serial_.Chunks().back(), Bytes{0x40});
  EXPECT_FALSE(serial_.IsOpen());
  EXPECT_GE(serial_.CloseCount(), 1);
  EXPECT_FALSE(engine_.IsConnected());
  EXPECT_EQ(Line(0, 1), "   Searching COM1 ... No device connected to port");
  EXPECT_EQ(Line(0, 6), "") << "no device lines without a connection";
  EXPECT_EQ(engine_.job.kind, Connecting);
  EXPECT_EQ(engine_.job.SearchResult(), ConnectResult::NoDeviceFound);
}

struct ColdBootCase {
  const char* name;
  std::vector<ReadResult> reads;  // what the line brings, one read per try
  bool connects;
  int tries;  // count-down lines shown
};

void PrintTo(const ColdBootCase& c, std::ostream* os) {
  *os << c.name;
}

class ColdBootTest : public SearchTest, public ::testing::WithParamInterface<ColdBootCase> {};

TEST_P(ColdBootTest, CountsDownWhileWaitingForTheCarriageReturn) {
  const auto& c = GetParam();
  for (const ReadResult& read : c.reads) {
    serial_.QueueRead(read);
  }
  JobRequest request;
  request.port = kPortCom3;
  request.autoselect = true;  // the cold boot pass tries the chosen port only, whatever this says
  request.coldBoot = true;
  engine_.SetRequest(request);

  EXPECT_EQ(Search(engine_), c.connects);

  std::vector<std::string> expected = {"   Searching COM3 ..."};
  for (int n = 10; n > 10 - c.tries; --n) {
    expected.push_back("   Searching COM3 ... Cold boot: " + std::to_string(n));
  }
  expected.push_back("   Searching COM3 ...");
  expected.push_back(c.connects ? "   Searching COM3 ... Connection established"
                                : "   Searching COM3 ... No device connected to port");
  history_.TakeFrom(engine_.Notices());
  EXPECT_EQ(history_.Of(0, 3), expected);
  EXPECT_EQ(Line(0, 1), "   Searching COM1 ... Skipped");
  EXPECT_EQ(Line(0, 2), "   Searching COM2 ... Skipped");
  EXPECT_EQ(Line(0, 4), "   Searching COM4 ... Skipped");
  ASSERT_EQ(serial_.Opens().size(), 1u);
  EXPECT_EQ(serial_.Opens()[0].name, "COM3");
  EXPECT_EQ(serial_.Timeouts().at(0), 1000u) << "one second per try";
  EXPECT_EQ(serial_.exits, 0);
  EXPECT_EQ(serial_.warmBoots, 0);
  EXPECT_EQ(engine_.IsConnected(), c.connects);
  EXPECT_EQ(serial_.IsOpen(), c.connects);

  const int entry = WriteIndex(serial_, EntryRequest());
  if (!c.connects) {
    EXPECT_EQ(entry, -1) << "no request without the device's signal";
    return;
  }
  ASSERT_GT(entry, 0);
  const PortEvent& before = serial_.Events()[entry - 1];
  EXPECT_EQ(before.op, PortOp::kRead);
  EXPECT_TRUE(before.ok);
  EXPECT_EQ(before.bytes, Bytes{0x0D}) << "the request goes out right behind the carriage return";
  EXPECT_EQ(serial_.entryRequests, 1) << "the entry only reads the answer";
}

INSTANTIATE_TEST_SUITE_P(
    Search, ColdBootTest,
    ::testing::Values(
        ColdBootCase{"CarriageReturnOnTheFourthTry",
                     {ReadResult::Silent(), ReadResult::Silent(), ReadResult::Silent(),
                      ReadResult::Answer({0x0D})},
                     true,
                     4},
        ColdBootCase{
            "CarriageReturnOnTheLastTry",
            {ReadResult::Silent(), ReadResult::Silent(), ReadResult::Silent(), ReadResult::Silent(),
             ReadResult::Silent(), ReadResult::Silent(), ReadResult::Silent(), ReadResult::Silent(),
             ReadResult::Silent(), ReadResult::Answer({0x0D})},
            true,
            10},
        ColdBootCase{"NothingComes", {}, false, 10},
        ColdBootCase{"AnotherByteIsNoSignal", {ReadResult::Answer({0x0A})}, false, 10}),
    [](const auto& info) { return info.param.name; });

TEST_F(SearchTest, ColdBootGivesUpAtOnceWhenTheTimeoutIsRefused) {
  serial_.FailCall(PortOp::kSetTimeout, 1);
  RequestPort(kPortCom1, true);
  EXPECT_FALSE(Search(engine_));
  EXPECT_EQ(serial_.CallCount(PortOp::kRead), 0);
  EXPECT_EQ(Line(0, 1), "   Searching COM1 ... No device connected to port");
}

struct NetworkCase {
  const char* name;
  PortId port;
  int32_t mode;          // what the device says it runs; 5 is the upgrade code
  const char* codeFile;  // written into the package folder; empty: none
  bool connects;
  const char* line;
};

void PrintTo(const NetworkCase& c, std::ostream* os) {
  *os << c.name;
}

class NetworkSearchTest : public SearchTest, public ::testing::WithParamInterface<NetworkCase> {
 protected:
  FakeDevicePort& Device() { return GetParam().port == kPortUsb ? usb_ : ethernet_; }
};

// Over USB and Ethernet a device that does not run its upgrade code yet gets it first, from the
// file for its type and port; then the entry request goes out on its own.
TEST_P(NetworkSearchTest, UpgradeCodeComesFirstWhenTheDeviceDoesNotRunIt) {
  const auto& c = GetParam();
  FakeDevicePort& device = Device();
  device.SetMode(c.mode);
  device.SetDeviceType(RIFSX7);
  device.SetIdentity("  RIFSX7", 101, 110);
  const Bytes image = ImageBytes(1000);
  if (*c.codeFile != '\0') {
    WriteFile(c.codeFile, image);
  }
  JobRequest request;
  request.port = c.port;
  request.expectedType = RIFSX7;
  engine_.SetRequest(request);

  EXPECT_EQ(Search(engine_), c.connects);
  EXPECT_EQ(Line(0, 1), c.line);
  ASSERT_EQ(device.Opens().size(), 1u);
  EXPECT_EQ(device.Opens()[0].name, PortNameOf(c.port));
  EXPECT_EQ(device.Opens()[0].udpPort, 7890);
  EXPECT_EQ(device.Opens()[0].baudRate, 115200);
  EXPECT_TRUE(serial_.Opens().empty()) << "no serial port is tried";
  EXPECT_EQ(device.exits, 0);
  EXPECT_EQ(device.warmBoots, 0);

  if (c.mode == kModeUpgradeCode || !c.connects) {
    EXPECT_TRUE(device.upgradeCodeParts.empty()) << "nothing to send, or not the port's file";
    EXPECT_EQ(device.jumps, 0);
  } else {
    // Two 512-byte pages in four 128-byte parts each; the image ends inside the second page.
    ASSERT_EQ(device.upgradeCodeParts.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
      const size_t from = (i / 4) * 512 + (i % 4) * 128;
      for (size_t k = 0; k < 128; ++k) {
        const uint8_t want = from + k < image.size() ? image[from + k] : 0xFF;
        ASSERT_EQ(device.upgradeCodeParts[i][8 + k], want) << "part " << i << " byte " << k;
      }
    }
    EXPECT_EQ(device.jumps, 1);
  }
  if (c.connects) {
    EXPECT_EQ(device.entryRequests, 1) << "the entry sends its request itself";
    EXPECT_EQ(engine_.info.type, RIFSX7);
    EXPECT_EQ(&engine_.CurrentPort(), &device);
  } else {
    EXPECT_EQ(device.entryRequests, 0);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(engine_.job.SearchResult(), ConnectResult::NoDeviceFound);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Search, NetworkSearchTest,
    ::testing::Values(
        NetworkCase{"Usb", kPortUsb, 0, "urx7usu1101.bin", true,
                    "   Searching USB ... Uploading upgrade code ... Connection established"},
        NetworkCase{"Ethernet", kPortEthernet, 2, "urx7etu1101.bin", true,
                    "   Searching Ethernet ... Uploading upgrade code ... Connection established"},
        NetworkCase{"UsbWithTheEthernetFileOnly", kPortUsb, 0, "urx7etu1101.bin", false,
                    "   Searching USB ... Uploading upgrade code ... Failed to load upgrade code "
                    "file"},
        NetworkCase{"EthernetRunningTheUpgradeCode", kPortEthernet, kModeUpgradeCode, "", true,
                    "   Searching Ethernet ... Connection established"}),
    [](const auto& info) { return info.param.name; });

TEST_F(SearchTest, ListingOpenAsksForASelection) {
  usb_.SetOpenResult(ConnectResult::SelectionRequired);
  RequestPort(kPortUsb);
  EXPECT_FALSE(Search(engine_));
  EXPECT_EQ(Line(0, 1), "   Searching USB ... Device selection required");
  EXPECT_EQ(engine_.job.SearchResult(), ConnectResult::SelectionRequired);
  EXPECT_EQ(usb_.Opens().at(0).serialNumber, "") << "no device chosen yet: a listing Open";
}

TEST(ConnectResultOfTest, CommandResultsReadAsTheConnectionCodeOfTheSameNumber) {
  const struct {
    ResultCode result;
    const char* text;
  } cases[] = {
      {Ok, "Connection established"},
      {FailedOpenPort, "Port not available or used by other program"},
      {NoResponse, "No device connected to port"},
      {CommunicationFailed, "Broken connection"},
      {InvalidParameter, "Unknown error"},
      {FailedLoadFile, "Failed to load upgrade code file"},
      {DamagedFile, "Unknown error"},
      {Crc, "Unknown error"},
      {InternalError, "Unknown error"},
      {static_cast<ResultCode>(9), "Unknown error"},
      {static_cast<ResultCode>(10), "Unknown error"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(ConnectResultText(ConnectResultOf(c.result)), c.text) << ResultText(c.result);
  }
}

}  // namespace
}  // namespace veltr::test
