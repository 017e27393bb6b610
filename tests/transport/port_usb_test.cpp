#include "transport/port_usb.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_hid.h"
#include "transport/device_identity.h"

namespace veltr {
namespace {

using test::FakeHidBackend;
using test::FakeHidDevice;

PortSettings Usb(const std::string& serialNumber) {
  PortSettings settings;
  settings.name = "USB";
  settings.serialNumber = serialNumber;
  return settings;
}

// A buffer of size bytes counting up from first.
class Bytes : public CVeltrBuffer {
 public:
  explicit Bytes(uint32_t size, uint8_t first = 1) {
    EXPECT_TRUE(Resize(size));
    for (uint32_t i = 0; i < size; ++i) {
      *At(i) = static_cast<uint8_t>(first + i);
    }
  }
};

// A port on a fake bus of the devices a test sets up before it calls MakePort.
class UsbPortTest : public ::testing::Test {
 protected:
  CVeltrPortUSB& MakePort(std::vector<FakeHidDevice*> devices) {
    auto backend = std::make_unique<FakeHidBackend>(std::move(devices));
    backend_ = backend.get();
    port_ = std::make_unique<CVeltrPortUSB>(std::move(backend));
    return *port_;
  }

  // Connects to the one device dev, and forgets the identification traffic.
  CVeltrPortUSB& Connected(FakeHidDevice& dev) {
    CVeltrPortUSB& port = MakePort({&dev});
    EXPECT_EQ(port.Open(Usb("A07-0625")), ConnectResult::Connected);
    dev.written.clear();
    dev.readTimeouts.clear();
    dev.reads = 0;
    return port;
  }

  FakeHidBackend* backend_ = nullptr;
  std::unique_ptr<CVeltrPortUSB> port_;
};

// --- Frames in reports ---

TEST_F(UsbPortTest, PageFrameTakesFiveReportsTheLastPaddedWithZeros) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  ASSERT_TRUE(port.Write(Bytes(261)));
  ASSERT_EQ(dev.written.size(), 5u);
  uint32_t next = 0;
  for (size_t k = 0; k < 5; ++k) {
    const auto& report = dev.written[k];
    ASSERT_EQ(report.size(), 65u);
    EXPECT_EQ(report[0], 0) << "report id of report " << k;
    const uint32_t payload = k < 4 ? 64 : 5;
    for (uint32_t i = 0; i < 64; ++i) {
      const uint8_t expected = i < payload ? static_cast<uint8_t>(1 + next + i) : 0;
      ASSERT_EQ(report[1 + i], expected) << "report " << k << " payload byte " << i;
    }
    next += payload;
  }
}

TEST_F(UsbPortTest, ShortAnswerComesFromTheFirstPayloadBytesOfOneReport) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  dev.QueueReport({0x03, 0x81, 0x00, 0x84, 0x55, 0x66});
  dev.QueueReport({0x77});
  Bytes answer(4, 0xA0);
  ASSERT_TRUE(port.Read(answer));
  EXPECT_EQ(dev.reads, 1);
  EXPECT_EQ(*answer.At(0), 0x03);
  EXPECT_EQ(*answer.At(1), 0x81);
  EXPECT_EQ(*answer.At(2), 0x00);
  EXPECT_EQ(*answer.At(3), 0x84);
  EXPECT_EQ(answer.GetSize(), 4u);
}

TEST_F(UsbPortTest, LongReadJoinsThePayloadOfEveryReport) {
  FakeHidDevice dev;
  dev.inputLength = 33;  // 32 payload bytes a report
  CVeltrPortUSB& port = Connected(dev);
  for (uint8_t k = 0; k < 3; ++k) {
    std::vector<uint8_t> payload;
    for (uint8_t i = 0; i < 32; ++i) {
      payload.push_back(static_cast<uint8_t>(k * 32 + i));
    }
    dev.QueueReport(payload);
  }
  Bytes frame(70, 0xF0);
  ASSERT_TRUE(port.Read(frame));
  EXPECT_EQ(dev.reads, 3);
  for (uint32_t i = 0; i < 70; ++i) {
    EXPECT_EQ(*frame.At(i), i) << "byte " << i;
  }
}

TEST_F(UsbPortTest, EmptyBufferMovesNoReport) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  CVeltrBuffer empty;
  EXPECT_TRUE(port.Write(empty));
  EXPECT_TRUE(port.Read(empty));
  EXPECT_TRUE(dev.written.empty());
  EXPECT_EQ(dev.reads, 0);
}

TEST_F(UsbPortTest, FrameBeyondTheAreaFailsBeforeAnyTransfer) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  // Seven 65-byte reports fit in 512 bytes: 448 payload bytes, not one more.
  Bytes tooLong(449);
  EXPECT_FALSE(port.Write(tooLong));
  EXPECT_FALSE(port.Read(tooLong));
  EXPECT_TRUE(dev.written.empty());
  EXPECT_EQ(dev.reads, 0);

  EXPECT_TRUE(port.Write(Bytes(448)));
  EXPECT_EQ(dev.written.size(), 7u);
}

// A report of one byte holds its id and nothing else: such a device can carry no frame.
TEST_F(UsbPortTest, ReportsWithoutRoomForPayloadMakeTheDeviceUnavailable) {
  for (uint32_t length : {0u, 1u, 2u}) {
    FakeHidDevice dev;
    dev.inputLength = length;
    dev.outputLength = length;
    CVeltrPortUSB& port = MakePort({&dev});
    EXPECT_EQ(port.Open(Usb("A07-0625")), ConnectResult::NoDeviceFound) << length;
    EXPECT_EQ(backend_->OpenHandles(), 0);
    Bytes frame(4);
    EXPECT_FALSE(port.Write(frame)) << length;
    EXPECT_FALSE(port.Read(frame)) << length;
    EXPECT_TRUE(dev.written.empty());

    EXPECT_EQ(port.Open(Usb("")), ConnectResult::SelectionRequired) << length;
    ASSERT_EQ(port.FoundDevices().size(), 1u);
    EXPECT_EQ(port.FoundDevices()[0].status, kDeviceNotAvailable) << length;
  }
}

TEST_F(UsbPortTest, ClosedPortMovesNothing) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  EXPECT_TRUE(port.Close());
  EXPECT_TRUE(port.Close()) << "closing a closed port";
  Bytes frame(4);
  EXPECT_FALSE(port.Write(frame));
  EXPECT_FALSE(port.Read(frame));
  EXPECT_TRUE(dev.written.empty());
}

// --- Time-outs and a device that goes away ---

TEST_F(UsbPortTest, ReadsWaitTheTimeOutLastSet) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = MakePort({&dev});
  ASSERT_EQ(port.Open(Usb("A07-0625")), ConnectResult::Connected);
  for (uint32_t timeout : dev.readTimeouts) {
    EXPECT_EQ(timeout, 1000u) << "identification waits the port's initial time-out";
  }
  EXPECT_TRUE(port.SetTimeout(250));
  Bytes frame(70);
  EXPECT_FALSE(port.Read(frame)) << "nothing queued: the read times out";
  EXPECT_EQ(dev.readTimeouts.back(), 250u);
}

TEST_F(UsbPortTest, UnpluggedDeviceFailsEveryTransfer) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  dev.QueueReport({1, 2, 3, 4});
  dev.unplugged = true;
  Bytes frame(4);
  EXPECT_FALSE(port.Write(frame));
  EXPECT_FALSE(port.Read(frame));
  EXPECT_EQ(*frame.At(0), 1) << "the buffer keeps what it held";
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(backend_->OpenHandles(), 0);
}

TEST_F(UsbPortTest, TimeOutOnOneReportOfSeveralFailsTheRead) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  dev.QueueReport({1, 2, 3});
  Bytes frame(100);
  EXPECT_FALSE(port.Read(frame));
  EXPECT_EQ(dev.reads, 2);
}

// A read that timed out leaves nothing behind: the next Read asks for its reports from the first
// one again, each with a wait of its own, and the reports that came in late are what it gets.
TEST_F(UsbPortTest, ReadAfterATimeOutStartsAFreshRequest) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  EXPECT_TRUE(port.SetTimeout(300));
  dev.QueueReport({0xAA});
  Bytes frame(100);
  ASSERT_FALSE(port.Read(frame)) << "the second report never came";
  dev.QueueReport({0xB0, 0xB1});
  dev.QueueReport({0xC0});
  ASSERT_TRUE(port.Read(frame));
  EXPECT_EQ(*frame.At(0), 0xB0) << "the new read began with a report of its own";
  EXPECT_EQ(*frame.At(1), 0xB1);
  EXPECT_EQ(*frame.At(64), 0xC0);
  EXPECT_EQ(dev.reads, 4);
  EXPECT_EQ(dev.readTimeouts, (std::vector<uint32_t>{300, 300, 300, 300}));
}

// An answer that came after its time-out is waiting when the next request goes out: it is
// thrown away then, so the next Read gets the answer to that request and not the late one.
TEST_F(UsbPortTest, ALateAnswerIsThrownAwayBeforeTheNextRequest) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  Bytes frame(4);
  ASSERT_FALSE(port.Read(frame));
  dev.QueueReport({0x03, 0x81, 0x01, 0x85});
  ASSERT_TRUE(port.Write(Bytes(4)));
  EXPECT_EQ(dev.discarded, 1);
  dev.QueueReport({0x03, 0x81, 0x02, 0x86});
  ASSERT_TRUE(port.Read(frame));
  EXPECT_EQ(*frame.At(2), 0x02) << "the answer to the new request, not the late one";
}

// Cancelling the port's work by closing it mid-job: nothing moves afterwards, and the handle
// goes back to the system.
TEST_F(UsbPortTest, CloseAfterAFailedReadReleasesTheDevice) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = Connected(dev);
  EXPECT_TRUE(port.SetTimeout(50));
  Bytes frame(4);
  ASSERT_FALSE(port.Read(frame));
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(backend_->OpenHandles(), 0);
  dev.QueueReport({1, 2, 3, 4});
  EXPECT_FALSE(port.Read(frame));
  EXPECT_EQ(dev.reads, 1) << "a closed port reads nothing";
}

// --- Identification ---

struct IdentityCase {
  const char* name;
  uint8_t code, variant, number, modeByte;
  bool addressed;  // false: the device answers only the short requests
  bool older;      // answers without the variant byte
  DeviceType type;
  const char* serialNumber;
  int32_t mode;
};

class UsbIdentityTest : public UsbPortTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(UsbIdentityTest, ConnectingTellsTypeModeAndSerialNumber) {
  const IdentityCase& c = GetParam();
  FakeHidDevice dev;
  dev.code = c.code;
  dev.variant = c.variant;
  dev.letter = 'B';
  dev.number = c.number;
  dev.high = 49;
  dev.low = 199;
  dev.modeByte = c.modeByte;
  dev.olderLayout = c.older;
  dev.answersAddressedIdentify = c.addressed;
  dev.answersAddressedMode = c.addressed;
  CVeltrPortUSB& port = MakePort({&dev});
  ASSERT_EQ(port.Open(Usb(c.serialNumber)), ConnectResult::Connected);
  EXPECT_EQ(port.GetDeviceType(), c.type);
  EXPECT_EQ(port.GetMode(), c.mode);
  EXPECT_EQ(port.SerialNumber(), c.serialNumber);
  EXPECT_EQ(backend_->OpenHandles(), 1);

  // The mode went in the form of the identify that was answered.
  const auto& modeRequest = dev.written.back();
  EXPECT_EQ(modeRequest[1], c.addressed ? 0x04 : 0x02);
  EXPECT_EQ(modeRequest[2], c.addressed ? 0x8A : 0x81);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, UsbIdentityTest,
    ::testing::Values(
        IdentityCase{"AddressedKL1A", 0x60, 0xFF, 12, 254, true, false, 0, "B12-9999", 5},
        IdentityCase{"AddressedFXByVariant", 0x94, 6, 12, 0, true, false, 28, "B12-9999", 0},
        IdentityCase{"AddressedNumberMakesVR2TP", 0x91, 0xFF, 47, 4, true, false, 30, "B47-9999",
                     2},
        IdentityCase{"OlderAddressedFXHasNoVariant", 0x94, 6, 12, 7, true, true, 25, "B12-9999", 3},
        IdentityCase{"OlderAddressedNumberMakesVR2TP", 0x91, 0xFF, 47, 254, true, true, 30,
                     "B47-9999", 5},
        IdentityCase{"ShortMT10", 0x50, 0xFF, 12, 12, false, false, 5, "B12-9999", 4},
        IdentityCase{"ShortFXByVariant", 0x94, 10, 12, 254, false, false, 31, "B12-9999", 5},
        IdentityCase{"ShortIgnoresTheNumberByte", 0x91, 0xFF, 47, 254, false, false, 24, "B47-9999",
                     5},
        IdentityCase{"OlderShortFXHasNoVariant", 0x94, 5, 12, 1, false, true, 25, "B12-9999", 1},
        IdentityCase{"UnknownCodeAndMode", 0x15, 0xFF, 12, 13, true, false, -1, "B12-9999", -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbPortTest, IdentifyIsTriedThreeTimesInEachForm) {
  FakeHidDevice dev;
  dev.ignoreRequests = 5;  // three addressed and two short requests go unanswered
  CVeltrPortUSB& port = MakePort({&dev});
  ASSERT_EQ(port.Open(Usb("A07-0625")), ConnectResult::Connected);
  ASSERT_EQ(dev.written.size(), 7u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(dev.written[i][1], 0x04) << "addressed identify " << i;
  }
  for (size_t i = 3; i < 6; ++i) {
    EXPECT_EQ(dev.written[i][1], 0x02) << "short identify " << i;
    EXPECT_EQ(dev.written[i][2], 0xF0);
  }
  EXPECT_EQ(dev.written[6][2], 0x81) << "short mode after the short identify";
}

TEST_F(UsbPortTest, RequestsGoAsOneZeroPaddedReport) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = MakePort({&dev});
  ASSERT_EQ(port.Open(Usb("A07-0625")), ConnectResult::Connected);
  ASSERT_EQ(dev.written.size(), 2u);
  const std::vector<uint8_t> identify = {0x00, 0x04, 0xF0, 0xFF, 0xFF, 0xF2};
  const std::vector<uint8_t> mode = {0x00, 0x04, 0x8A, 0xFF, 0xFF, 0x8C};
  for (size_t i = 0; i < 65; ++i) {
    EXPECT_EQ(dev.written[0][i], i < identify.size() ? identify[i] : 0) << "identify byte " << i;
    EXPECT_EQ(dev.written[1][i], i < mode.size() ? mode[i] : 0) << "mode byte " << i;
  }
}

TEST_F(UsbPortTest, AnswerWithLengthZeroIsNotAccepted) {
  FakeHidDevice dev;
  dev.identifyLengthOverride = 0;
  CVeltrPortUSB& port = MakePort({&dev});
  EXPECT_EQ(port.Open(Usb("")), ConnectResult::SelectionRequired);
  ASSERT_EQ(port.FoundDevices().size(), 1u);
  EXPECT_EQ(port.FoundDevices()[0].status, kDeviceNotResponding);
  EXPECT_EQ(dev.written.size(), 6u) << "three attempts in each form";
}

TEST_F(UsbPortTest, ModeIsNotRetriedInTheOtherForm) {
  FakeHidDevice dev;
  dev.answersAddressedMode = false;
  CVeltrPortUSB& port = MakePort({&dev});
  EXPECT_EQ(port.Open(Usb("A07-0625")), ConnectResult::NoDeviceFound);
  EXPECT_EQ(backend_->OpenHandles(), 0);
  for (const auto& report : dev.written) {
    EXPECT_EQ(report[1], 0x04) << "only addressed requests";
  }
  EXPECT_EQ(port.GetDeviceType(), kNoDeviceType) << "a failed connection stores nothing";
  EXPECT_EQ(port.GetMode(), -1);
}

// --- Connecting by serial number ---

TEST_F(UsbPortTest, ConnectsToTheDeviceWithThatSerialNumber) {
  FakeHidDevice first;
  first.node = "/dev/hidraw1";
  first.number = 1;
  FakeHidDevice second;
  second.node = "/dev/hidraw2";
  second.number = 2;
  second.code = 0x70;
  second.modeByte = 5;
  CVeltrPortUSB& port = MakePort({&first, &second});
  ASSERT_EQ(port.Open(Usb("A02-0625")), ConnectResult::Connected);
  EXPECT_EQ(port.GetDeviceType(), 3);
  EXPECT_EQ(port.GetMode(), 2);
  EXPECT_EQ(backend_->OpenHandles(), 1);

  // Frames now reach the chosen device only.
  first.written.clear();
  second.written.clear();
  EXPECT_TRUE(port.Write(Bytes(3)));
  EXPECT_TRUE(first.written.empty());
  EXPECT_EQ(second.written.size(), 1u);
}

TEST_F(UsbPortTest, SerialNumberIsComparedExactly) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = MakePort({&dev});
  for (const char* other : {"a07-0625", "A07-625", "A07-0625 ", "A7-0625"}) {
    EXPECT_EQ(port.Open(Usb(other)), ConnectResult::NoDeviceFound) << other;
    EXPECT_EQ(backend_->OpenHandles(), 0) << other;
  }
}

TEST_F(UsbPortTest, UnknownSerialNumberTriesEveryDevice) {
  FakeHidDevice a;
  a.node = "/dev/hidraw0";
  FakeHidDevice b;
  b.node = "/dev/hidraw1";
  b.answersAddressedIdentify = false;
  CVeltrPortUSB& port = MakePort({&a, &b});
  EXPECT_EQ(port.Open(Usb("Z99-0001")), ConnectResult::NoDeviceFound);
  EXPECT_FALSE(a.written.empty());
  EXPECT_FALSE(b.written.empty());
  EXPECT_EQ(backend_->OpenHandles(), 0);
  EXPECT_TRUE(port.LastError().empty()) << "every device opened: nothing for the user to fix";
}

TEST_F(UsbPortTest, UndecodableAnswerDoesNotMatch) {
  FakeHidDevice dev;
  dev.identifyLengthOverride = 14;
  CVeltrPortUSB& port = MakePort({&dev});
  EXPECT_EQ(port.Open(Usb("A07-0625")), ConnectResult::NoDeviceFound);
  EXPECT_EQ(backend_->OpenHandles(), 0);
}

TEST_F(UsbPortTest, OpeningAgainLetsGoOfTheEarlierDevice) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = MakePort({&dev});
  ASSERT_EQ(port.Open(Usb("A07-0625")), ConnectResult::Connected);
  ASSERT_EQ(port.Open(Usb("A07-0625")), ConnectResult::Connected);
  EXPECT_EQ(backend_->OpenHandles(), 1);
}

TEST_F(UsbPortTest, NodeThatWouldNotOpenIsToldApartFromNoDevice) {
  FakeHidDevice dev;
  dev.node = "/dev/hidraw5";
  dev.openable = false;
  CVeltrPortUSB& port = MakePort({&dev});
  EXPECT_EQ(port.Open(Usb("A07-0625")), ConnectResult::NoDeviceFound);
  EXPECT_NE(port.LastError().find("/dev/hidraw5"), std::string::npos) << port.LastError();

  CVeltrPortUSB& empty = MakePort({});
  EXPECT_EQ(empty.Open(Usb("A07-0625")), ConnectResult::NoDeviceFound);
  EXPECT_TRUE(empty.LastError().empty());
}

// --- Listing ---

TEST_F(UsbPortTest, ListingTellsEveryDeviceInEnumerationOrder) {
  FakeHidDevice ok;
  ok.node = "/dev/hidraw0";
  ok.code = 0x61;
  ok.modeByte = 8;
  FakeHidDevice silent;
  silent.node = "/dev/hidraw1";
  silent.answersAddressedIdentify = false;
  silent.answersShortIdentify = false;
  FakeHidDevice strange;
  strange.node = "/dev/hidraw2";
  strange.identifyLengthOverride = 12;
  FakeHidDevice noLengths;
  noLengths.node = "/dev/hidraw3";
  noLengths.lengthsKnown = false;
  FakeHidDevice busy;
  busy.node = "/dev/hidraw4";
  busy.openable = false;
  FakeHidDevice modeless;
  modeless.node = "/dev/hidraw5";
  modeless.number = 9;
  modeless.answersAddressedMode = false;
  FakeHidDevice shortOnly;
  shortOnly.node = "/dev/hidraw6";
  shortOnly.number = 42;
  shortOnly.answersAddressedIdentify = false;
  shortOnly.modeByte = 254;

  CVeltrPortUSB& port =
      MakePort({&ok, &silent, &strange, &noLengths, &busy, &modeless, &shortOnly});
  EXPECT_EQ(port.Open(Usb("")), ConnectResult::SelectionRequired);
  EXPECT_EQ(backend_->OpenHandles(), 0) << "a listing leaves the port closed";

  const std::vector<FoundDevice> found = port.FoundDevices();
  ASSERT_EQ(found.size(), 6u) << "the node that would not open is not listed";
  EXPECT_EQ(found[0].status, kDeviceOk);
  EXPECT_EQ(found[0].type, 1);
  EXPECT_EQ(found[0].mode, 3);
  EXPECT_EQ(found[0].serialNumber, "A07-0625");
  EXPECT_EQ(found[1].status, kDeviceNotResponding);
  EXPECT_EQ(found[2].status, kDeviceNotAvailable);
  EXPECT_EQ(found[3].status, kDeviceNotAvailable);
  EXPECT_EQ(found[4].status, kDeviceNotResponding);
  EXPECT_EQ(found[4].serialNumber, "A09-0625");
  EXPECT_EQ(found[5].status, kDeviceOk);
  EXPECT_EQ(found[5].serialNumber, "A42-0625");
  EXPECT_EQ(found[5].mode, 5);
  EXPECT_NE(port.LastError().find("/dev/hidraw4"), std::string::npos) << port.LastError();

  // Nothing was connected, so there is nothing to talk to.
  EXPECT_EQ(port.GetDeviceType(), kNoDeviceType);
  Bytes frame(3);
  EXPECT_FALSE(port.Write(frame));
}

TEST_F(UsbPortTest, ListingKeepsTheConnectedDevicesIdentity) {
  FakeHidDevice dev;
  dev.code = 0x86;
  CVeltrPortUSB& port = MakePort({&dev});
  ASSERT_EQ(port.Open(Usb("A07-0625")), ConnectResult::Connected);
  dev.code = 0x60;
  EXPECT_EQ(port.Open(Usb("")), ConnectResult::SelectionRequired);
  EXPECT_EQ(port.GetDeviceType(), 14);
  EXPECT_EQ(port.FoundDevices()[0].type, 0);
}

TEST_F(UsbPortTest, ListingNothingFindsNoDeviceAndEmptiesTheOldList) {
  FakeHidDevice dev;
  std::vector<FakeHidDevice*> devices = {&dev};
  CVeltrPortUSB& port = MakePort(devices);
  ASSERT_EQ(port.Open(Usb("")), ConnectResult::SelectionRequired);
  ASSERT_EQ(port.FoundDevices().size(), 1u);
  dev.openable = false;
  EXPECT_EQ(port.Open(Usb("")), ConnectResult::NoDeviceFound);
  EXPECT_TRUE(port.FoundDevices().empty());
}

TEST_F(UsbPortTest, ListAfterAFailedConnectionIsStillThere) {
  FakeHidDevice dev;
  CVeltrPortUSB& port = MakePort({&dev});
  ASSERT_EQ(port.Open(Usb("")), ConnectResult::SelectionRequired);
  EXPECT_EQ(port.Open(Usb("Z99-0001")), ConnectResult::NoDeviceFound);
  EXPECT_EQ(port.FoundDevices().size(), 1u) << "only a listing empties the list";
}

TEST(UsbPortFixedAnswersTest, IsTheUsbPort) {
  CVeltrPortUSB port(std::make_unique<FakeHidBackend>(std::vector<FakeHidDevice*>{}));
  EXPECT_STREQ(port.GetName(), "USB");
  EXPECT_EQ(port.GetPortId(), kPortUsb);
  EXPECT_TRUE(port.SetBaudRate(57600));
  EXPECT_EQ(port.GetBaudRate(), 0u);
}

}  // namespace
}  // namespace veltr
