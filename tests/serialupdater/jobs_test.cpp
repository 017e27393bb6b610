// The three jobs against simulated devices: each upload path with the device's flash compared to
// the images afterwards, the refusals before anything is sent, the erase counts, the user texts,
// and a device that stops answering.
#include <algorithm>

#include "updater_rig.h"

namespace su_test {
namespace {

std::string Blanks(std::size_t n) {
  return std::string(n, ' ');
}

std::string InfoText(const devsim::DeviceState& state, std::size_t offset) {
  return std::string(state.eeprom.begin() + static_cast<std::ptrdiff_t>(offset),
                     state.eeprom.begin() + static_cast<std::ptrdiff_t>(offset + 30));
}

int InfoWord(const devsim::DeviceState& state, std::size_t offset) {
  return state.eeprom[offset] << 8 | state.eeprom[offset + 1];
}

std::vector<std::uint32_t> ProcessorPagesWritten(const devsim::DeviceState& state) {
  std::vector<std::uint32_t> pages;
  for (const auto& entry : state.writeLog) {
    if (entry.kind == devsim::WriteKind::kProcessorPage) {
      pages.push_back(entry.page);
    }
  }
  return pages;
}

class FirmwareTest : public UpdaterRig {
 protected:
  // During a job the window must never offer its menus: every event the updater lets run
  // happens while it says it is busy.
  void WatchBusy() {
    view.onEvents = [this] {
      if (updater && !updater->Busy()) {
        ++idleEvents;
      }
    };
  }
  long idleEvents = 0;
};

TEST_F(FirmwareTest, BlockUploadWritesBothImagesAndTheVersions) {
  Detect(57600, Device("MT10"));
  const Bytes logic = Image(97652, 1);
  const Bytes processor = Image(3000, 2);
  folder.Write("PT101212.sop", logic);
  folder.Write("UT101212.bin", processor);
  // Only its first line becomes the user text.
  const std::string build = "Build 1.25.0001\r\nsecond line";
  folder.Write("Build.txt", Bytes(build.begin(), build.end()));
  WatchBusy();
  updater->UploadFirmwareJob();

  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[0].title, "Upload Firmware");
  EXPECT_EQ(view.boxes[0].text,
            "Ok to update the Firmware of your system?\r"
            "WARNING: You can not cancel the upload procedure!");
  EXPECT_EQ(view.boxes[0].buttons, su::BoxButtons::kOkCancel);
  EXPECT_EQ(view.boxes[0].icon, su::BoxIcon::kQuestion);
  EXPECT_EQ(view.boxes[0].defaultButton, 2);
  EXPECT_EQ(view.boxes[1].title, "Update: MT10");
  EXPECT_EQ(view.boxes[1].text, "Firmware upload succeeded.");
  EXPECT_EQ(view.boxes[1].buttons, su::BoxButtons::kOk);
  EXPECT_EQ(view.boxes[1].icon, su::BoxIcon::kNone);
  EXPECT_EQ(idleEvents, 0);
  EXPECT_EQ(view.enables.back(), true);

  const devsim::DeviceState state = Sim().Snapshot();
  EXPECT_EQ(state.LogicBytes(logic.size()), logic);
  const Bytes tail = state.LogicBytes(382 * 256);
  EXPECT_TRUE(std::all_of(tail.begin() + static_cast<std::ptrdiff_t>(logic.size()), tail.end(),
                          [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(state.ProcessorBytes(processor.size()), processor);
  // Block 0 blanked first, then the image from the top down, block 0 last.
  std::vector<std::uint32_t> order = {0};
  for (std::uint32_t b = 11; b > 0; --b) {
    order.push_back(b);
  }
  order.push_back(0);
  EXPECT_EQ(ProcessorPagesWritten(state), order);
  EXPECT_EQ(InfoWord(state, 124), 212);
  EXPECT_EQ(InfoWord(state, 126), 212);
  EXPECT_EQ(InfoText(state, 64), "Build 1.25.0001" + Blanks(15));

  EXPECT_TRUE(view.Showed(2, "        File Version MT10: V2.12.1"));
  EXPECT_TRUE(view.Showed(3, "        Reading Block: 381 of 381 ... done."));
  EXPECT_TRUE(view.Showed(5, "        Upload Block: 381 of 381  CRC Error: 0 ... done."));
  EXPECT_TRUE(view.Showed(6, "        Upload Version Info: V2.12 ... done."));
  EXPECT_TRUE(view.Showed(12, "        Upload Block: 12 of 12  CRC Error: 0 ... done."));
  EXPECT_TRUE(view.Showed(13, "        Upload Version Info: V2.12 ... booting ... done."));
  // Afterwards: the search lines as they were, and the new versions.
  EXPECT_EQ(updater->Line(2), " Searching COM1 ...  Connection established.");
  EXPECT_EQ(updater->Line(4), "");
  EXPECT_EQ(updater->Line(9), " Current Logic and DSP Firmware Version: V2.12");
  EXPECT_EQ(updater->Line(11), " Current User Text 1: Build 1.25.0001" + Blanks(15));
  EXPECT_EQ(updater->Line(13), "");
  EXPECT_FALSE(updater->PortOpen()) << "the device runs its new firmware";
}

TEST_F(FirmwareTest, WordWiseUploadRebootsBetweenTheImages) {
  devsim::SimulatorOptions options;
  options.processorWrites = devsim::ProcessorWrites::kWords;
  Detect(19200, Device("KL1A"), options);
  const Bytes logic = Image(31146, 3);
  const Bytes processor = Image(1001, 4);  // odd: the last word ends in FF
  folder.Write("PL1A1214.sop", logic);
  folder.Write("UL1A1214.bin", processor);
  updater->UploadFirmwareJob();

  ASSERT_EQ(view.BoxTexts().back(), "Firmware upload succeeded.");
  const devsim::DeviceState state = Sim().Snapshot();
  EXPECT_EQ(state.LogicBytes(logic.size()), logic);
  Bytes padded = processor;
  padded.push_back(0xFF);
  EXPECT_EQ(state.ProcessorBytes(padded.size()), padded);
  EXPECT_TRUE(view.Showed(6, "        Upload Version Info: V2.14 ... booting ... done."));
  EXPECT_TRUE(view.Showed(10, "        Reading Block: 500 of 500 ... done."));
  EXPECT_TRUE(view.Showed(12, "        Upload Block: 500 of 500  CRC Error: 0 ... done."));
  EXPECT_EQ(InfoWord(state, 126), 214);
}

TEST_F(FirmwareTest, ConsoleUploadTakesTheFirstBinFileByName) {
  devsim::IdentityChanges identity;
  identity.identifier = "    RC16";
  identity.hardwareVersion = 201;
  devsim::SimulatorOptions options;
  options.processorWrites = devsim::ProcessorWrites::kBlocks;
  Detect(19200, Device("KL1A", identity), options);
  ASSERT_EQ(updater->Line(5), " You are connected to RC16.");
  const Bytes logic = Image(22395, 5);
  const Bytes processor = Image(5000, 6);
  folder.Write("PR161102.sop", logic);
  folder.Write("b_later.bin", Image(4000, 7));
  folder.Write("a_first.bin", processor);
  updater->UploadFirmwareJob();

  ASSERT_EQ(view.BoxTexts().back(), "Firmware upload succeeded.");
  const devsim::DeviceState state = Sim().Snapshot();
  EXPECT_EQ(state.LogicBytes(logic.size()), logic);
  EXPECT_EQ(state.ProcessorBytes(processor.size()), processor);
  EXPECT_TRUE(view.Showed(1, " Load Logic Files ..."));
  EXPECT_TRUE(view.Showed(9, "        File Version RC16: a_first.bin"));
  EXPECT_TRUE(view.Showed(12, "        Erase Flash: 9 of 9"));
  EXPECT_TRUE(
      view.Showed(12, "        Upload Block: 19 of 19  CRC Error: 0  Byte Failure: 0 ... done."));
}

struct LengthCase {
  const char* name;
  std::size_t length;  // 0: no file
  bool accepted;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
  *os << c.name;
}

class Lnk40eTest : public FirmwareTest, public ::testing::WithParamInterface<LengthCase> {};

// The processor file is checked before a single byte of the job goes to the device.
TEST_P(Lnk40eTest, ProcessorFileLengthIsCheckedFirst) {
  Detect(115200, Device("LNK40E"));
  folder.Write("PL4E1212.sop", Image(163172, 8));
  if (GetParam().length > 0) {
    folder.Write("UL4E1212.bin", Image(GetParam().length, 9));
  }
  const std::size_t before = ports[0]->BytesReceived();
  updater->UploadFirmwareJob();

  if (GetParam().accepted) {
    EXPECT_EQ(view.BoxTexts().back(), "Firmware upload succeeded.");
    return;
  }
  EXPECT_EQ(ports[0]->BytesReceived(), before);
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[1].title, "Update: LNK40E");
  EXPECT_EQ(view.boxes[1].text, "Upload Firmware failed!");
  EXPECT_EQ(view.boxes[1].icon, su::BoxIcon::kCritical);
  EXPECT_TRUE(view.Showed(2, " Corrupt File(s) found. Please try to reinstall the package."));
  EXPECT_TRUE(view.Showed(3, " If the problem still exists, please contact factory."));
  EXPECT_EQ(updater->Line(2), " Searching COM1 ...  Connection established.");
  EXPECT_TRUE(updater->PortOpen());
}

INSTANTIATE_TEST_SUITE_P(Lengths, Lnk40eTest,
                         ::testing::Values(LengthCase{"OneShort", 6069, false},
                                           LengthCase{"OneLong", 6071, false},
                                           LengthCase{"Missing", 0, false},
                                           LengthCase{"Exact", 6070, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareTest, LogicFileOfTheWrongLengthIsRefused) {
  Detect(57600, Device("MT10"));
  folder.Write("PT101212.sop", Image(97651, 1));
  folder.Write("UT101212.bin", Image(3000, 2));
  const std::size_t before = ports[0]->BytesReceived();
  updater->UploadFirmwareJob();
  EXPECT_TRUE(view.Showed(2, "        File Version MT10: V2.12.1    File missing or damaged!"));
  EXPECT_EQ(view.BoxTexts().back(), "Upload Firmware failed!");
  EXPECT_EQ(ports[0]->BytesReceived(), before);
}

TEST_F(FirmwareTest, DeviceSilentMidUploadFailsWithNoResponse) {
  devsim::SimulatorOptions options;
  options.faults.silentAfterPages = 10;
  Detect(57600, Device("MT10"), options);
  folder.Write("PT101212.sop", Image(97652, 1));
  folder.Write("UT101212.bin", Image(3000, 2));
  updater->UploadFirmwareJob();

  EXPECT_TRUE(view.Showed(5, "        Upload Block: 9 of 381  CRC Error: 0    No Response!"));
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[1].text, "Upload Firmware failed!");
  EXPECT_EQ(view.boxes[1].icon, su::BoxIcon::kCritical);
  EXPECT_TRUE(updater->PortOpen()) << "a failed job leaves the device in program mode";
  EXPECT_EQ(view.enables.back(), true);
}

TEST_F(FirmwareTest, RefusedBlocksAreCountedAndFailTheJobAtTheEnd) {
  Detect(57600, Device("MT10"));
  folder.Write("PT101212.sop", Image(97652, 1));
  // The flash ends at block 55: blocks 56 to 60 are refused.
  folder.Write("UT101212.bin", Image(60 * 256, 2));
  updater->UploadFirmwareJob();
  EXPECT_TRUE(
      view.Showed(12, "        Upload Block: 61 of 61  CRC Error: 5 ... done.    CRC Error!"));
  EXPECT_EQ(view.BoxTexts().back(), "Upload Firmware failed!");
}

struct CancelCase {
  const char* name;
  void (su::Updater::*job)();
};

void PrintTo(const CancelCase& c, std::ostream* os) {
  *os << c.name;
}

class CancelTest : public UpdaterRig, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, CancelSendsNothing) {
  Detect(57600, Device("MT10"));
  folder.Write("PT101212.sop", Image(97652, 1));
  folder.Write("UT101212.bin", Image(3000, 2));
  const std::size_t before = ports[0]->BytesReceived();
  view.answers = {su::BoxAnswer::kCancel};
  (updater.get()->*GetParam().job)();
  EXPECT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(ports[0]->BytesReceived(), before);
  EXPECT_EQ(view.enables.size(), 2u) << "the controls were not touched";
}

INSTANTIATE_TEST_SUITE_P(Jobs, CancelTest,
                         ::testing::Values(CancelCase{"Firmware", &su::Updater::UploadFirmwareJob},
                                           CancelCase{"Erase", &su::Updater::EraseSettingsJob}),
                         [](const auto& info) { return std::string(info.param.name); });

struct EraseCase {
  const char* name;
  const char* device;
  int hardware;
  int baud;
  std::size_t count;
};

void PrintTo(const EraseCase& c, std::ostream* os) {
  *os << c.name;
}

class EraseTest : public UpdaterRig, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseTest, ErasesTheSettingsOfTheType) {
  const EraseCase& c = GetParam();
  devsim::IdentityChanges identity;
  identity.hardwareVersion = static_cast<std::uint16_t>(c.hardware);
  Detect(c.baud, Device(c.device, identity));
  updater->EraseSettingsJob();

  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[0].title, "Erase Settings");
  EXPECT_EQ(view.boxes[0].text,
            "Ok to erase all EEProm Settings of your system?\r"
            "WARNING: You can not cancel the EEProm erase!");
  EXPECT_EQ(view.boxes[0].defaultButton, 2);
  EXPECT_EQ(view.boxes[1].text, "Settings erase succeeded.");
  EXPECT_EQ(view.boxes[1].icon, su::BoxIcon::kNone);

  const auto eeprom = Sim().Snapshot().eeprom;
  const auto settings = eeprom.begin() + 128;
  EXPECT_TRUE(std::all_of(settings, settings + static_cast<std::ptrdiff_t>(c.count),
                          [](std::uint8_t b) { return b == 0xFF; }));
  if (128 + c.count < eeprom.size()) {
    EXPECT_NE(eeprom[128 + c.count], 0xFF) << "erased past the count";
  }
  EXPECT_TRUE(updater->PortOpen()) << "the device stays in program mode";
}

INSTANTIATE_TEST_SUITE_P(Counts, EraseTest,
                         ::testing::Values(EraseCase{"KL1AHw201", "KL1A", 201, 19200, 896},
                                           EraseCase{"KL1BHw201", "KL1B", 201, 19200, 896},
                                           EraseCase{"KL1AHw202", "KL1A", 202, 19200, 384},
                                           EraseCase{"MT10Hw201", "MT10", 201, 57600, 384}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdaterRig, EraseWithADeviceThatDropsOutSaysThereWasNoResponse) {
  devsim::SimulatorOptions options;
  options.faults.failEchoes = {50};
  Detect(57600, Device("MT10"), options);
  updater->EraseSettingsJob();
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[1].text, "There was no response!\rPlease check connection and try again!");
  EXPECT_EQ(view.boxes[1].title, "Update: MT10");
  EXPECT_EQ(view.boxes[1].icon, su::BoxIcon::kCritical);
}

TEST_F(UpdaterRig, UserTextsAreCutAndPaddedToThirtyCharacters) {
  devsim::IdentityChanges identity;
  identity.text1 = "old one";
  identity.logicVersion = 211;
  identity.processorVersion = 205;
  Detect(57600, Device("MT10", identity));
  view.inputs = {std::string(35, 'A'), std::string("abc")};
  updater->UploadTextJob();

  ASSERT_EQ(view.inputCalls.size(), 2u);
  EXPECT_EQ(view.inputCalls[0].title, "Enter User Text");
  EXPECT_EQ(view.inputCalls[0].prompt,
            "Please Enter User Text 1 (max. 30 Chars): \r\r"
            "If you want to upload a blank text line,\r"
            "please enter at least one space.");
  EXPECT_EQ(view.inputCalls[0].preset, "old one" + Blanks(23));
  EXPECT_EQ(view.inputCalls[1].prompt.rfind("Please Enter User Text 2 (max. 30 Chars): \r\r", 0),
            0u);
  EXPECT_EQ(view.inputCalls[1].preset, Blanks(30));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, "User Text upload succeeded.");

  const devsim::DeviceState state = Sim().Snapshot();
  EXPECT_EQ(InfoText(state, 64), std::string(30, 'A'));
  EXPECT_EQ(InfoText(state, 94), "abc" + Blanks(27));
  EXPECT_EQ(InfoWord(state, 124), 211) << "versions are written back unchanged";
  EXPECT_EQ(InfoWord(state, 126), 205);
  EXPECT_EQ(updater->Line(11), " Current User Text 1: " + std::string(30, 'A'));
  EXPECT_EQ(updater->Line(12), " Current User Text 2: abc" + Blanks(27));
  EXPECT_FALSE(updater->PortOpen());

  // The next job finds the port closed and connects again.
  updater->EraseSettingsJob();
  EXPECT_EQ(view.BoxTexts().back(), "Settings erase succeeded.");
}

TEST_F(UpdaterRig, AnEmptyOrCancelledUserTextEndsTheJob) {
  Detect(57600, Device("MT10"));
  const std::size_t before = ports[0]->BytesReceived();
  view.inputs = {std::string("first"), std::string()};
  updater->UploadTextJob();
  view.inputs = {std::nullopt};
  updater->UploadTextJob();
  EXPECT_EQ(view.inputCalls.size(), 3u);
  EXPECT_TRUE(view.boxes.empty());
  EXPECT_EQ(ports[0]->BytesReceived(), before);
}

}  // namespace
}  // namespace su_test
