// The device's answers on the wire: identity, speeds, EEPROM, page frames, framed commands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "device_rig.h"

namespace devsim_test {
namespace {

using devsim::Mode;

std::string IdentifierOf(const Bytes& identity) {
  return identity.size() == 16 ? std::string(identity.begin() + 8, identity.end()) : "";
}

// --- identity -------------------------------------------------------------------------------

struct IdentityCase {
  const char* type;
  std::uint16_t hardware;
  const char* identifierOverride;  // nullptr: the type's own
  const char* identifier;          // what the device must report
  speed_t speed;                   // its program-mode speed
};

const IdentityCase kIdentityCases[] = {
    {"KL1A", 101, nullptr, "   KL1 A", B19200},
    {"KL1A-96k", 220, nullptr, "   KL1 A", B19200},
    {"KL1AP", 231, nullptr, "  KL1 AP", B19200},
    {"MT10", 110, nullptr, "    MT10", B57600},
    {"RIF Rack", 101, nullptr, "MorvexIR", B57600},
    {"MT10E", 120, nullptr, "   MT10E", B115200},
    {"HM1", 110, nullptr, "     HM1", B115200},
    {"PXR(-TP)", 101, nullptr, "     PXR", B115200},
    {"PL1-TP", 101, nullptr, "  PL1-TP", B115200},
    // Blanks at the end instead of the front: no such device, so the loader runs at 19200.
    {"MT10E", 120, "MT10E   ", "MT10E   ", B19200},
    {"KL1A", 101, "   MT10E", "   MT10E", B115200},
};

void PrintTo(const IdentityCase& c, std::ostream* os) {
  *os << Label(c.type) << (c.identifierOverride ? "_reporting_" + Label(c.identifierOverride) : "");
}

class IdentityTest : public DeviceRig, public ::testing::WithParamInterface<IdentityCase> {
 protected:
  void StartCase(Mode start) {
    const IdentityCase& c = GetParam();
    devsim::IdentityChanges changes;
    changes.hardwareVersion = c.hardware;
    changes.uploaderVersion = 0x0203;
    if (c.identifierOverride != nullptr) {
      changes.identifier = c.identifierOverride;
    }
    devsim::SimulatorOptions options;
    options.start = start;
    StartDevice(Device(c.type, changes), options);
  }
  void ExpectIdentity(const Bytes& identity) {
    const IdentityCase& c = GetParam();
    ASSERT_EQ(identity.size(), 16u);
    EXPECT_EQ(identity[4], c.hardware >> 8);
    EXPECT_EQ(identity[5], c.hardware & 0xFF);
    EXPECT_EQ(identity[6], 0x02);
    EXPECT_EQ(identity[7], 0x03);
    EXPECT_EQ(IdentifierOf(identity), c.identifier);
  }
};

TEST_P(IdentityTest, AnswersEntryRightBehindExit) {
  StartCase(Mode::kProgram);
  ExpectIdentity(ExitAndEnter(GetParam().speed));
  EXPECT_EQ(device->CurrentMode(), Mode::kProgram);
}

TEST_P(IdentityTest, AnswersEntryAfterWarmBootFromFirmware) {
  StartCase(Mode::kFirmware);
  ExpectIdentity(WarmBootAndEnter(GetParam().speed));
}

TEST_P(IdentityTest, AnswersEntryAgainInProgramMode) {
  StartCase(Mode::kProgram);
  line.SetSpeed(GetParam().speed);
  ExpectIdentity(line.Exchange(AccessSequence(), 16));
  ExpectIdentity(line.Exchange(AccessSequence(), 16));
}

INSTANTIATE_TEST_SUITE_P(Types, IdentityTest, ::testing::ValuesIn(kIdentityCases),
                         ::testing::PrintToStringParamName());

// --- line speed ------------------------------------------------------------------------------

struct WrongSpeedCase {
  const char* what;
  Mode start;
  speed_t speed;
  Bytes (*request)();
};

Bytes ExitThenEntry() {
  Bytes bytes = ExitRequest();
  const Bytes entry = AccessSequence();
  bytes.insert(bytes.end(), entry.begin(), entry.end());
  return bytes;
}

// An MT10E listens at 115200 in program mode and at 57600 in its firmware.
const WrongSpeedCase kWrongSpeedCases[] = {
    {"program mode, exit and entry at 19200", Mode::kProgram, B19200, ExitThenEntry},
    {"program mode, entry at 57600", Mode::kProgram, B57600, AccessSequence},
    {"firmware, warm boot at 115200", Mode::kFirmware, B115200, WarmBootRequest},
    {"firmware, exit and entry at 57600", Mode::kFirmware, B57600, ExitThenEntry},
    {"firmware, entry at 115200", Mode::kFirmware, B115200, AccessSequence},
    {"dead, warm boot at 57600", Mode::kDead, B57600, WarmBootRequest},
    {"dead, entry at 115200", Mode::kDead, B115200, AccessSequence},
};

void PrintTo(const WrongSpeedCase& c, std::ostream* os) {
  *os << Label(c.what);
}

class WrongSpeedTest : public DeviceRig, public ::testing::WithParamInterface<WrongSpeedCase> {};

TEST_P(WrongSpeedTest, StaysSilent) {
  const WrongSpeedCase& c = GetParam();
  StartDevice("MT10E", c.start);
  line.SetSpeed(c.speed);
  line.Write(c.request());
  EXPECT_TRUE(line.Silent()) << c.what;
  EXPECT_EQ(device->CurrentMode(), c.start) << c.what;
}

INSTANTIATE_TEST_SUITE_P(MT10E, WrongSpeedTest, ::testing::ValuesIn(kWrongSpeedCases),
                         ::testing::PrintToStringParamName());

// --- states ----------------------------------------------------------------------------------

using StatesTest = DeviceRig;

TEST_F(StatesTest, ExitAloneEndsInFirmware) {
  StartDevice("MT10", Mode::kProgram);
  line.SetSpeed(B57600);
  EXPECT_EQ(line.Exchange(ExitRequest(), 1), Bytes{0x0D});
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(device->CurrentMode(), Mode::kFirmware);
  line.Write(AccessSequence());
  EXPECT_TRUE(line.Silent());
  EXPECT_EQ(IdentifierOf(WarmBootAndEnter(B57600)), "    MT10");
}

TEST_F(StatesTest, WarmBootAt57600ReachesTheLoaderFromProgramMode) {
  StartDevice("PXR(-TP)", Mode::kProgram);
  EXPECT_EQ(IdentifierOf(WarmBootAndEnter(B115200)), "     PXR");
}

TEST_F(StatesTest, LoaderStartWaitsForTheSequenceThenStartsFirmware) {
  StartDevice("KL1B", Mode::kLoader);
  line.SetSpeed(B19200);
  EXPECT_EQ(IdentifierOf(line.Exchange(AccessSequence(), 16)), "   KL1 B");

  StopDevice();
  StartDevice("KL1B", Mode::kLoader);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(device->CurrentMode(), Mode::kFirmware);
}

TEST_F(StatesTest, DeviceIgnoresAnIncompleteOrWrongSequence) {
  StartDevice("MT10E", Mode::kProgram);
  line.SetSpeed(B115200);
  Bytes wrong = AccessSequence();
  wrong[15] ^= 0x01;
  line.Write(wrong);
  EXPECT_TRUE(line.Silent());
  EXPECT_EQ(line.Exchange(AccessSequence(), 16).size(), 16u);
}

// --- EEPROM ----------------------------------------------------------------------------------

struct LayoutCase {
  const char* serial;
  const char* text1;
  const char* text2;
  std::uint16_t logicVersion;
  std::uint16_t processorVersion;
};

const LayoutCase kLayoutCases[] = {
    {"B-07-1234", "Stage left", "", 211, 213},
    {"A-00-0000", "", "123456789012345678901234567890", 0, 0},
    {"Z-255-25655", "x", "y", 0xFFFE, 0x0101},
    {"M-99-0199", "Front of house rack 2", "Spare", 134, 110},
    {"Q-16-0016", "", "", 1, 2},
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << Label(c.serial);
}

class EepromLayoutTest : public DeviceRig, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(EepromLayoutTest, ReadGivesTheInfoArea) {
  const LayoutCase& c = GetParam();
  devsim::IdentityChanges changes;
  changes.serialNumber = c.serial;
  changes.text1 = c.text1;
  changes.text2 = c.text2;
  changes.logicVersion = c.logicVersion;
  changes.processorVersion = c.processorVersion;
  devsim::SimulatorOptions options;
  options.start = Mode::kProgram;
  StartDevice(Device("MT20E", changes), options);
  line.SetSpeed(B115200);

  const Bytes info = line.Exchange({0x40}, 128);
  ASSERT_EQ(info.size(), 128u);
  EXPECT_EQ(DecodeSerial(info.data()), c.serial);
  auto field = [&](std::size_t offset) {
    Bytes expected(30, 0xFF);
    const std::string text = offset == 64 ? c.text1 : c.text2;
    std::copy(text.begin(), text.end(), expected.begin());
    return Bytes(info.begin() + offset, info.begin() + offset + 30) == expected;
  };
  EXPECT_TRUE(field(64)) << "user text 1";
  EXPECT_TRUE(field(94)) << "user text 2";
  EXPECT_EQ(info[124] << 8 | info[125], c.logicVersion);
  EXPECT_EQ(info[126] << 8 | info[127], c.processorVersion);
}

INSTANTIATE_TEST_SUITE_P(Devices, EepromLayoutTest, ::testing::ValuesIn(kLayoutCases),
                         ::testing::PrintToStringParamName());

class EepromTest : public DeviceRig {
 protected:
  void SetUp() override {
    devsim::SimulatorOptions options;
    options.start = Mode::kProgram;
    options.stateDir = dir.path();
    StartDevice(Device("HM1"), options);
    line.SetSpeed(B115200);
  }
  // The saved state once the device has written it after the line went quiet.
  devsim::DeviceState SavedState() {
    StopDevice();
    return *devsim::LoadState(dir.path());
  }
  TempDir dir;
};

TEST_F(EepromTest, WriteEchoesEveryByteAndReplacesTextsAndVersions) {
  Bytes data(64);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>(0x20 + i);
  }
  const Bytes before = line.Exchange({0x40}, 128);
  EXPECT_EQ(EchoExchange(0x42, data), data);

  const Bytes after = line.Exchange({0x40}, 128);
  ASSERT_EQ(after.size(), 128u);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 64, after.begin())) << "serial area";
  EXPECT_TRUE(std::equal(data.begin(), data.end(), after.begin() + 64));

  const devsim::DeviceState saved = SavedState();
  EXPECT_TRUE(std::equal(data.begin(), data.end(), saved.eeprom.begin() + 64));
  ASSERT_FALSE(saved.writeLog.empty());
  EXPECT_EQ(saved.writeLog.back().kind, devsim::WriteKind::kEepromWrite);
}

struct EraseCase {
  std::size_t count;
};

void PrintTo(const EraseCase& c, std::ostream* os) {
  *os << c.count << "_bytes";
}

class EraseTest : public EepromTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseTest, EchoesAndErasesFromTheStartOfTheSettings) {
  const std::size_t n = GetParam().count;
  const auto original = device->Snapshot().eeprom;
  EXPECT_EQ(EchoExchange(0x43, Bytes(n, 0xFF)), Bytes(n, 0xFF));
  // The erase has no length: it ends when the line has been quiet for a while, and only then
  // is it saved. A loaded machine can make that while long.
  const auto erased = [this] {
    const auto log = device->Snapshot().writeLog;
    return !log.empty() && log.back().kind == devsim::WriteKind::kEepromErase;
  };
  for (int i = 0; i < 200 && !erased(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  const devsim::DeviceState saved = SavedState();
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + 128, saved.eeprom.begin()))
      << "the info area is not the settings";
  EXPECT_TRUE(std::all_of(saved.eeprom.begin() + 128, saved.eeprom.begin() + 128 + n,
                          [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(
      std::equal(original.begin() + 128 + n, original.end(), saved.eeprom.begin() + 128 + n));
  ASSERT_FALSE(saved.writeLog.empty());
  EXPECT_EQ(saved.writeLog.back().kind, devsim::WriteKind::kEepromErase);
  EXPECT_EQ(saved.writeLog.back().count, n);
}

INSTANTIATE_TEST_SUITE_P(Counts, EraseTest, ::testing::Values(EraseCase{384}, EraseCase{896}),
                         ::testing::PrintToStringParamName());

TEST_F(EepromTest, CommandRightAfterAnEraseIsNotTakenForData) {
  EXPECT_EQ(EchoExchange(0x43, Bytes(10, 0xFF)), Bytes(10, 0xFF));
  EXPECT_EQ(line.Exchange({0x40}, 128).size(), 128u);
  const devsim::DeviceState saved = SavedState();
  ASSERT_FALSE(saved.writeLog.empty());
  EXPECT_EQ(saved.writeLog.back().count, 10u);
}

// --- page frames -----------------------------------------------------------------------------

struct PageCase {
  const char* type;
  bool logic;
  std::uint32_t index;
  bool accepted;
};

const PageCase kPageCases[] = {
    {"MT10", true, 0, true},         {"MT10", true, 300, true},  // address 02 58
    {"RIFSX7", true, 3022, true},    {"MT10", false, 0, true},
    {"MT10", false, 55, true},       {"MT10", false, 56, false},
    {"MT10E", false, 56, false},     {"PXR(-TP)", false, 56, true},
    {"PXR(-TP)", false, 1008, true}, {"PXR(-TP)", false, 1009, false},
    {"PL1-TP", false, 1008, true},   {"RIFSX7", false, 992, true},
    {"RIFSX7", false, 993, false},
};

void PrintTo(const PageCase& c, std::ostream* os) {
  *os << Label(c.type) << (c.logic ? "_logic_" : "_processor_") << c.index;
}

class PageTest : public DeviceRig, public ::testing::WithParamInterface<PageCase> {};

TEST_P(PageTest, StoresAtItsIndexOrRefuses) {
  const PageCase& c = GetParam();
  StartDevice(c.type, Mode::kProgram);
  line.SetSpeed(devsim::BaudOfType(*devsim::ParseTypeName(c.type)) == 57600 ? B57600 : B115200);
  const Bytes data = PagePattern(c.index);
  const Bytes frame = c.logic ? LogicPageFrame(c.index, data) : ProcessorPageFrame(c.index, data);
  const Bytes answer = line.Exchange(frame, 4);

  const devsim::DeviceState state = device->Snapshot();
  const Bytes stored = c.logic ? state.LogicPage(c.index) : state.ProcessorPage(c.index);
  if (c.accepted) {
    EXPECT_EQ(answer, PageAck(data));
    EXPECT_EQ(stored, data);
    ASSERT_EQ(state.writeLog.size(), 1u);
    EXPECT_EQ(state.writeLog[0].page, c.index);
  } else {
    EXPECT_EQ(answer.size(), 4u) << "a refusal is an answer";
    EXPECT_NE(answer, PageAck(data));
    EXPECT_EQ(stored, Bytes(256, 0xFF));
    EXPECT_TRUE(state.writeLog.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Frames, PageTest, ::testing::ValuesIn(kPageCases),
                         ::testing::PrintToStringParamName());

using PageFrameTest = DeviceRig;

TEST_F(PageFrameTest, BadSumIsAnsweredWithTheComputedSumAndNotStored) {
  StartDevice("MT10E", Mode::kProgram);
  line.SetSpeed(B115200);
  const Bytes data = PagePattern(7);
  Bytes frame = ProcessorPageFrame(3, data);
  frame[260] ^= 0x10;
  EXPECT_EQ(line.Exchange(frame, 4), PageAck(data));
  EXPECT_EQ(device->Snapshot().ProcessorPage(3), Bytes(256, 0xFF));
}

TEST_F(PageFrameTest, ProcessorPageZeroWrittenLastHasTheHighestSequence) {
  StartDevice("PXR-FX", Mode::kProgram);
  line.SetSpeed(B115200);
  const Bytes image[3] = {PagePattern(10), PagePattern(11), PagePattern(12)};
  for (const auto& [index, data] : {std::pair{0u, Bytes(256, 0xFF)}, std::pair{2u, image[2]},
                                    std::pair{1u, image[1]}, std::pair{0u, image[0]}}) {
    ASSERT_EQ(line.Exchange(ProcessorPageFrame(index, data), 4), PageAck(data));
  }
  const devsim::DeviceState state = device->Snapshot();
  Bytes whole;
  for (const Bytes& page : image) {
    whole.insert(whole.end(), page.begin(), page.end());
  }
  EXPECT_EQ(state.ProcessorBytes(whole.size()), whole);
  ASSERT_EQ(state.writeLog.size(), 4u);
  const auto last =
      std::max_element(state.writeLog.begin(), state.writeLog.end(),
                       [](const auto& a, const auto& b) { return a.sequence < b.sequence; });
  EXPECT_EQ(last->page, 0u);
  EXPECT_EQ(last->kind, devsim::WriteKind::kProcessorPage);
}

TEST_F(PageFrameTest, FrameCutShortIsDroppedAndTheNextOneTaken) {
  StartDevice("MT10", Mode::kProgram);
  line.SetSpeed(B57600);
  const Bytes data = PagePattern(1);
  const Bytes frame = LogicPageFrame(4, data);
  line.Write(Bytes(frame.begin(), frame.begin() + 100));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(line.Exchange(frame, 4), PageAck(data));
  EXPECT_EQ(device->Snapshot().LogicPage(4), data);
}

TEST_F(PageFrameTest, EepromWriteCutShortStoresNothing) {
  StartDevice("MT10", Mode::kProgram);
  line.SetSpeed(B57600);
  const auto before = device->Snapshot().InfoArea();
  EXPECT_EQ(EchoExchange(0x42, Bytes(10, 0x41)).size(), 10u);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const Bytes info = line.Exchange({0x40}, 128);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), info.begin()));
}

// --- framed commands for the upgrade code ----------------------------------------------------

using FramedTest = DeviceRig;

Bytes UpgradeCodePart(std::uint8_t page, std::uint8_t part) {
  Bytes frame = {0x88, 0x56, 0xFF, 0xFF, 0xB6, page, part, 0x6A};
  const Bytes data = PagePattern(page * 4u + part);
  frame.insert(frame.end(), data.begin(), data.begin() + 128);
  frame.push_back(Sum8(frame));
  return frame;
}

TEST_F(FramedTest, UpgradeCodePartsAndJumpAreAcknowledged) {
  StartDevice("MT20E", Mode::kProgram);
  line.SetSpeed(B115200);
  for (std::uint8_t part = 0; part < 4; ++part) {
    EXPECT_EQ(line.Exchange(UpgradeCodePart(1, part), 5), (Bytes{0x04, 0x56, 0xFF, 0xFF, 0x58}));
  }
  Bytes bad = UpgradeCodePart(2, 0);
  bad.back() ^= 0x01;
  const Bytes refusal = line.Exchange(bad, 5);
  EXPECT_NE(refusal, (Bytes{0x04, 0x56, 0xFF, 0xFF, 0x58}));
  EXPECT_EQ(line.Exchange({0x08, 0x57, 0xFF, 0xFF, 0xC9, 0x00, 0x01, 0x29, 0x50}, 5),
            (Bytes{0x04, 0x57, 0xFF, 0xFF, 0x59}));

  const devsim::DeviceState state = device->Snapshot();
  ASSERT_EQ(state.writeLog.size(), 4u);
  EXPECT_EQ(state.writeLog[3].kind, devsim::WriteKind::kUpgradeCodePage);
  EXPECT_EQ(state.writeLog[3].page, 1u);
  EXPECT_EQ(state.writeLog[3].count, 3u) << "part number";
}

// --- cold boot -------------------------------------------------------------------------------

using ColdBootTest = DeviceRig;

TEST_F(ColdBootTest, DeadDeviceAnnouncesItselfWhenPoweredUp) {
  StartDevice("MT40E", Mode::kDead);
  line.SetSpeed(B115200);
  line.Write(AccessSequence());
  EXPECT_TRUE(line.Silent());
  device->PowerUp();
  EXPECT_EQ(line.Read(1), Bytes{0x0D});
  EXPECT_EQ(IdentifierOf(line.Exchange(AccessSequence(), 16)), "   MT40E");
}

TEST_F(ColdBootTest, PowerUpAfterADelay) {
  devsim::SimulatorOptions options;
  options.powerUpAfterMs = 300;
  const auto start = std::chrono::steady_clock::now();
  StartDevice("KL1A", Mode::kDead, options);
  line.SetSpeed(B19200);
  EXPECT_EQ(line.Read(1, 3000), Bytes{0x0D});
  EXPECT_GE(MillisecondsSince(start), 250.0);
  EXPECT_EQ(IdentifierOf(line.Exchange(AccessSequence(), 16)), "   KL1 A");
}

TEST_F(ColdBootTest, PowerUpOfARunningDeviceSendsNothing) {
  StartDevice("KL1A", Mode::kFirmware);
  line.SetSpeed(B19200);
  device->PowerUp();
  EXPECT_TRUE(line.Silent());
  EXPECT_EQ(device->CurrentMode(), Mode::kFirmware);
}

// --- wire speed ------------------------------------------------------------------------------

using WireSpeedTest = DeviceRig;

TEST_F(WireSpeedTest, PageFrameTakesItsWireTime) {
  devsim::SimulatorOptions options;
  options.wireSpeed = true;
  StartDevice("KL1A", Mode::kProgram, options);
  line.SetSpeed(B19200);
  const Bytes data = PagePattern(3);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(line.Exchange(LogicPageFrame(0, data), 4), PageAck(data));
  // 265 bytes of 10 bits at 19200 baud are 138 ms on a real line.
  EXPECT_GE(MillisecondsSince(start), 120.0);
}

}  // namespace
}  // namespace devsim_test
