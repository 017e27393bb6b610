// The device on its USB interface: output reports of 65 bytes (id byte 0 first) in, input reports
// of 64 data bytes out, every field checked at the offset the wire format gives it.
#include <gtest/gtest.h>

#include <algorithm>

#include "device_rig.h"

namespace devsim_test {
namespace {

using devsim::Mode;

constexpr std::size_t kReport = 64;

class UsbDeviceTest : public DeviceRig {
 protected:
  void Start(devsim::UsbOptions usb, Mode start = Mode::kFirmware) {
    usb.enabled = true;
    devsim::IdentityChanges changes;
    changes.serialNumber = "D-03-0625";  // 625 = 3 * 200 + 25
    changes.hardwareVersion = 0x0102;
    devsim::SimulatorOptions options;
    options.usb = usb;
    options.start = start;
    StartDevice(Device(type_, changes), options);
  }

  // The request in as many reports as it needs, each padded with zeros.
  void Send(const Bytes& request) {
    const std::size_t reports = std::max<std::size_t>(1, (request.size() + kReport - 1) / kReport);
    for (std::size_t k = 0; k < reports; ++k) {
      Bytes report(kReport + 1, 0x00);
      const std::size_t from = k * kReport;
      const std::size_t n = std::min(kReport, request.size() - from);
      std::copy_n(request.begin() + static_cast<long>(from), n, report.begin() + 1);
      line.Write(report);
    }
  }
  // One input report, or what came of it.
  Bytes Receive(int timeoutMs = kAnswerTimeoutMs) { return line.Read(kReport, timeoutMs); }
  Bytes Ask(const Bytes& request) {
    line.Purge();
    Send(request);
    return Receive();
  }
  std::uint8_t ModeByte() {
    const Bytes answer = Ask({0x02, 0x81, 0x83});
    return answer.size() == kReport ? answer[2] : 0;
  }
  void LoadUpgradeCode() {
    Bytes part = {0x88, 0x56, 0xFF, 0xFF, 0xB6, 0x00, 0x00, 0x6A};
    part.resize(136, 0x33);
    part.push_back(Sum8(part));
    const Bytes answer = Ask(part);
    ASSERT_EQ(answer.size(), kReport);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 5), (Bytes{0x04, 0x56, 0xFF, 0xFF, 0x58}));
  }

  std::string type_ = "MT20R-FX";
};

// --- identification -------------------------------------------------------------------------

struct LayoutCase {
  const char* name;
  bool addressed;
  bool older;
  std::uint8_t length;
  std::size_t code;    // offset of the device code
  int variant;         // offset of the variant byte, -1 none
  std::size_t serial;  // offset of the four serial bytes
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.name;
}

class UsbLayoutTest : public UsbDeviceTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(UsbLayoutTest, IdentifyAnswerHasEveryFieldInPlace) {
  const LayoutCase& c = GetParam();
  devsim::UsbOptions usb;
  usb.olderLayout = c.older;
  Start(usb);
  const Bytes request = c.addressed ? Bytes{0x04, 0xF0, 0xFF, 0xFF, 0xF2} : Bytes{0x02, 0xF0, 0xF2};
  const Bytes answer = Ask(request);
  ASSERT_EQ(answer.size(), kReport);
  EXPECT_EQ(answer[0], c.length);
  EXPECT_EQ(answer[1], 0xF0);
  EXPECT_EQ(answer[c.code], 0x94) << "MT20R-FX shares the R-FX code";
  if (c.variant >= 0) {
    EXPECT_EQ(answer[static_cast<std::size_t>(c.variant)], 6);
  }
  EXPECT_EQ(Bytes(answer.begin() + static_cast<long>(c.serial),
                  answer.begin() + static_cast<long>(c.serial) + 4),
            (Bytes{'D', 3, 3, 25}));
  EXPECT_EQ(answer[c.length], Sum8(Bytes(answer.begin(), answer.begin() + c.length)));
  EXPECT_TRUE(std::all_of(answer.begin() + c.length + 1, answer.end(), [](std::uint8_t b) {
    return b == 0;
  })) << "the rest of the report is zeros";
}

INSTANTIATE_TEST_SUITE_P(Layouts, UsbLayoutTest,
                         ::testing::Values(LayoutCase{"Addressed", true, false, 15, 4, 5, 11},
                                           LayoutCase{"AddressedOlder", true, true, 13, 4, -1, 9},
                                           LayoutCase{"Short", false, false, 13, 2, 3, 9},
                                           LayoutCase{"ShortOlder", false, true, 11, 2, -1, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbDeviceTest, ModeAnswersCarryTheModeByteInBothForms) {
  devsim::UsbOptions usb;
  usb.consoleMode = 7;
  Start(usb);
  const Bytes addressed = Ask({0x04, 0x8A, 0xFF, 0xFF, 0x8C});
  ASSERT_EQ(addressed.size(), kReport);
  EXPECT_EQ(addressed[0], 20);
  EXPECT_EQ(addressed[16], 7);
  EXPECT_EQ(addressed[20], Sum8(Bytes(addressed.begin(), addressed.begin() + 20)));
  const Bytes brief = Ask({0x02, 0x81, 0x83});
  ASSERT_EQ(brief.size(), kReport);
  EXPECT_EQ(Bytes(brief.begin(), brief.begin() + 4), (Bytes{0x03, 0x81, 7, 0x8B}));
}

TEST_F(UsbDeviceTest, ShortOnlyDeviceLeavesTheAddressedRequestsUnanswered) {
  devsim::UsbOptions usb;
  usb.shortOnly = true;
  Start(usb);
  line.Purge();
  Send({0x04, 0xF0, 0xFF, 0xFF, 0xF2});
  EXPECT_TRUE(line.Silent());
  EXPECT_EQ(Ask({0x02, 0xF0, 0xF2}).size(), kReport);
}

// --- from the firmware into program mode ---------------------------------------------------

TEST_F(UsbDeviceTest, FirmwareTakesNoAccessSequenceUntilTheUpgradeCodeRuns) {
  Start({});
  line.Purge();
  Send(AccessSequence());
  EXPECT_TRUE(line.Silent()) << "the firmware knows no access sequence";

  line.Purge();
  Send({0x08, 0x57, 0xFF, 0xFF, 0xC9, 0x00, 0x01, 0x29, 0x50});
  EXPECT_TRUE(line.Silent()) << "a jump with no upgrade code loaded";
  EXPECT_EQ(ModeByte(), 1);

  LoadUpgradeCode();
  const Bytes jumped = Ask({0x08, 0x57, 0xFF, 0xFF, 0xC9, 0x00, 0x01, 0x29, 0x50});
  ASSERT_EQ(jumped.size(), kReport);
  EXPECT_EQ(Bytes(jumped.begin(), jumped.begin() + 5), (Bytes{0x04, 0x57, 0xFF, 0xFF, 0x59}));
  EXPECT_EQ(ModeByte(), 254);

  const Bytes identity = Ask(AccessSequence());
  ASSERT_EQ(identity.size(), kReport);
  EXPECT_EQ(std::string(identity.begin() + 8, identity.begin() + 16), "MT20R-FX");
  EXPECT_EQ(device->CurrentMode(), Mode::kProgram);
}

TEST_F(UsbDeviceTest, PageFrameSpansFiveReportsAndItsAnswerOne) {
  Start({}, Mode::kUpgrade);
  ASSERT_EQ(Ask(AccessSequence()).size(), kReport);
  const Bytes data = PagePattern(9);
  const Bytes answer = Ask(ProcessorPageFrame(3, data));
  ASSERT_EQ(answer.size(), kReport);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 4), PageAck(data));
  const auto memory = device->Snapshot();
  EXPECT_EQ(Bytes(memory.processor.begin() + 3 * 256, memory.processor.begin() + 4 * 256), data);
}

// The padding behind a single EEPROM byte is not the next byte: an erase goes on across reports.
TEST_F(UsbDeviceTest, EepromEraseTakesOneByteAReport) {
  Start({}, Mode::kUpgrade);
  ASSERT_EQ(Ask(AccessSequence()).size(), kReport);
  line.Purge();
  Send({0x43});  // not echoed; the device counts the bytes that follow until the line is quiet
  for (int i = 0; i < 10; ++i) {
    const Bytes echo = Ask({0xFF});
    ASSERT_EQ(echo.size(), kReport) << "byte " << i;
    EXPECT_EQ(echo[0], 0xFF) << "byte " << i;
  }
  const auto memory = device->Snapshot();
  const std::size_t settings = devsim::kInfoAreaSize;
  EXPECT_TRUE(std::all_of(memory.eeprom.begin() + settings, memory.eeprom.begin() + settings + 10,
                          [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_NE(memory.eeprom[settings + 10], 0xFF) << "only the bytes sent were erased";
}

}  // namespace
}  // namespace devsim_test
