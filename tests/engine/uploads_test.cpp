#include "engine/uploads.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine_fixture.h"
#include "fake_device.h"

namespace veltr::test {
namespace {

class UploadsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Connect(KL1A, 101, device_);
  }
  // The procedures read the flags of the job they run in.
  void SetUploadBios(bool bios) {
    JobRequest request;
    request.uploadBios = bios;
    engine_.SetRequest(request);
  }
  FakeDevicePort device_;
};

TEST_F(UploadsTest, LogicImageGoesPageByPageWithItsAddressDoubled) {
  const Bytes image = ImageBytes(31146);  // KL1A below hardware 200
  WriteFile("pk1a1211.sop", image);
  ASSERT_EQ(UploadLogicDsp(engine_), Ok);

  ASSERT_EQ(device_.pages.size(), 122u);
  for (uint32_t i = 0; i < device_.pages.size(); ++i) {
    EXPECT_EQ(device_.pages[i].code, 0x10);
    EXPECT_EQ(device_.pages[i].address, i * 2);
  }
  const Bytes& last = device_.pages.back().data;
  EXPECT_TRUE(std::equal(image.begin() + 121 * 256, image.end(), last.begin()));
  EXPECT_EQ(last[31146 - 121 * 256], 0xFF);  // padding after the image's end
  EXPECT_EQ(Line(1, 0), "Loading Logic and DSP Files");
  EXPECT_EQ(Line(1, 1), "   File Version KL1A: V2.11.1");
  EXPECT_EQ(Line(1, 2), "   Loading file ... Done");
  EXPECT_EQ(Line(1, 3), "Uploading Logic and DSP Files");
  EXPECT_EQ(Line(1, 4), "   Uploading 122 block of 122 ... Done");
  EXPECT_EQ(Line(1, 5), "   Upload version info: 2.11");
  EXPECT_EQ(engine_.info.logicVersion.Word(), 211);
}

TEST_F(UploadsTest, ProcessorImageWritesAPlaceholderFirstAndTheRealFirstPageLast) {
  const Bytes image = ImageBytes(600);
  WriteFile("uk1a1211.bin", image);
  ASSERT_EQ(UploadProcessor(engine_), Ok);

  ASSERT_EQ(device_.pages.size(), 4u);
  const uint32_t expectedOrder[] = {0, 2, 1, 0};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(device_.pages[i].code, 0x20);
    EXPECT_EQ(device_.pages[i].address, expectedOrder[i]);
  }
  EXPECT_EQ(device_.pages[0].data, Bytes(256, 0xFF))
      << "over the serial line the placeholder is blank";
  EXPECT_EQ(device_.pages[3].data, Bytes(image.begin(), image.begin() + 256));
  // With the logic flag set the processor lines follow the logic lines.
  EXPECT_EQ(Line(1, 7), "Loading Processor and HI Files");
  EXPECT_EQ(Line(1, 11), "   Uploading 4 block of 4 ... Done");
  EXPECT_EQ(Line(1, 12), "   Upload version info: 2.11");
}

struct PlaceholderCase {
  const char* name;
  PortId port;
  bool bootVector;
};

void PrintTo(const PlaceholderCase& c, std::ostream* os) {
  *os << c.name;
}

class PlaceholderTest : public UploadsTest,
                        public ::testing::WithParamInterface<PlaceholderCase> {};

// Over USB and Ethernet the placeholder starts with the boot vector. The double's name tells
// nothing: the port is known by its id.
TEST_P(PlaceholderTest, PlaceholderStartsWithTheBootVectorOverUsbAndEthernet) {
  const auto& c = GetParam();
  FakeDevicePort port("any", c.port);
  Connect(PXR, 101, port);
  WriteFile("upxr1213.bin", ImageBytes(300));
  ASSERT_EQ(UploadProcessor(engine_), Ok);
  ASSERT_FALSE(port.pages.empty());
  const Bytes vector = {0x18, 0x5C, 0xE0, 0x6B, 0x80, 0x00, 0xEA, 0x1B, 0x80, 0x03, 0x16, 0x9F};
  const Bytes& first = port.pages[0].data;
  EXPECT_EQ(std::equal(vector.begin(), vector.end(), first.begin()), c.bootVector);
  EXPECT_EQ(first[0] == 0xFF, !c.bootVector);
  EXPECT_EQ(first[12], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Uploads, PlaceholderTest,
                         ::testing::Values(PlaceholderCase{"Usb", kPortUsb, true},
                                           PlaceholderCase{"Ethernet", kPortEthernet, true},
                                           PlaceholderCase{"Serial", kPortSerialObject, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(UploadsTest, BiosFlagPutsTheProcessorLinesAtTheTop) {
  SetUploadBios(true);
  ASSERT_EQ(UploadProcessor(engine_), FailedLoadFile);
  EXPECT_EQ(Line(1, 0), "Loading Processor BIOS File");
  EXPECT_EQ(Line(1, 2), "   Loading file ... Failed: missing file");
  EXPECT_TRUE(Line(1, 7).empty());
}

struct PageFailureCase {
  const char* name;
  bool processor;
  ResultCode expected;
};

// The row's name where a test lists its parameter, instead of the bytes of the row.
void PrintTo(const PageFailureCase& c, std::ostream* os) {
  *os << c.name;
}

class PageFailureTest : public UploadsTest,
                        public ::testing::WithParamInterface<PageFailureCase> {};

// A bad sum on the third page stops the upload there; the logic upload reports it as a broken
// exchange, the processor upload passes the command's own result on.
TEST_P(PageFailureTest, ThirdPageAnsweredWithAWrongSum) {
  const auto& c = GetParam();
  WriteFile("pk1a1211.sop", ImageBytes(31146));
  WriteFile("uk1a1211.bin", ImageBytes(2000));
  for (uint32_t attempt = 0; attempt < 3; ++attempt) {
    device_.CorruptPage(3 + attempt);
  }
  const ResultCode result = c.processor ? UploadProcessor(engine_) : UploadLogicDsp(engine_);
  EXPECT_EQ(result, c.expected);
  const uint32_t line = c.processor ? 11 : 4;
  EXPECT_NE(Line(1, line).find(" Failed: CRC"), std::string::npos) << Line(1, line);
  EXPECT_EQ(device_.pages.size(), 5u) << "two pages, then three attempts at the third";
}

INSTANTIATE_TEST_SUITE_P(Uploads, PageFailureTest,
                         ::testing::Values(PageFailureCase{"Logic", false, CommunicationFailed},
                                           PageFailureCase{"Processor", true, Crc}),
                         [](const auto& info) { return info.param.name; });

TEST_F(UploadsTest, SilentDeviceMidUploadShowsNoResponse) {
  WriteFile("pk1a1211.sop", ImageBytes(31146));
  device_.SilentFromPage(40);
  EXPECT_EQ(UploadLogicDsp(engine_), CommunicationFailed);
  EXPECT_EQ(Line(1, 4), "   Uploading 40 block of 122 ... Failed: no response");
}

struct BlockProgressCase {
  const char* name;
  UploadStep step;
  uint32_t page;
  uint32_t line;
  uint32_t blocks;
};

void PrintTo(const BlockProgressCase& c, std::ostream* os) {
  *os << c.name;
}

class BlockProgressTest : public UploadsTest,
                          public ::testing::WithParamInterface<BlockProgressCase> {
 protected:
  ResultCode Upload(UploadStep step) {
    switch (step) {
      case UploadStep::Logic:
        WriteFile("pk1a1211.sop", ImageBytes(31146));
        return UploadLogicDsp(engine_);
      case UploadStep::Processor:
        WriteFile("uk1a1211.bin", ImageBytes(1000));
        return UploadProcessor(engine_);
      default:
        WriteFile("urx7usu1101.bin", ImageBytes(1000));
        engine_.SetCurrentPort(usb_);
        return UploadUpgradeCode(engine_, RIFSX7);
    }
  }
  FakeDevicePort usb_{"USB", kPortUsb};
};

// Every block of an upload reaches the front end as data beside the text: the step, block n of m
// counting up, and the step's end when its result is appended.
TEST_P(BlockProgressTest, EveryBlockIsCountedAsData) {
  const auto& c = GetParam();
  ASSERT_EQ(Upload(c.step), Ok);
  std::vector<UploadProgress> counted;
  while (const auto notice = engine_.Notices().TryTake()) {
    const DisplayChange& change = notice->change;
    if (change.page == c.page && change.line == c.line && change.progress.Any()) {
      EXPECT_EQ(change.progress.step, c.step);
      counted.push_back(change.progress);
    }
  }
  ASSERT_EQ(counted.size(), c.blocks + (c.step == UploadStep::UpgradeCode ? 0 : 1));
  for (uint32_t i = 0; i < c.blocks; ++i) {
    EXPECT_EQ(counted[i].block, i + 1);
    EXPECT_EQ(counted[i].blocks, c.blocks);
    EXPECT_FALSE(counted[i].ended);
  }
  if (c.step != UploadStep::UpgradeCode) {
    EXPECT_TRUE(counted.back().ended) << "\" Done\" ends the step";
    EXPECT_EQ(counted.back().block, c.blocks);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, BlockProgressTest,
    ::testing::Values(BlockProgressCase{"Logic", UploadStep::Logic, 1, 4, 122},
                      BlockProgressCase{"Processor", UploadStep::Processor, 1, 11, 5},
                      // Two pages of 512 bytes; the search line's text stays as it is.
                      BlockProgressCase{"UpgradeCode", UploadStep::UpgradeCode, 0, 1, 2}),
    [](const auto& info) { return info.param.name; });

struct ImageRefusalCase {
  const char* name;
  bool logic;
  DeviceType type;
  uint16_t hardware;
  bool bios;
  const char* file;  // empty: no file at all
  size_t length;
  ResultCode expected;
  const char* loadingLine;
};

void PrintTo(const ImageRefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class ImageRefusalTest : public UploadsTest,
                         public ::testing::WithParamInterface<ImageRefusalCase> {};

TEST_P(ImageRefusalTest, RefusedBeforeAnyPageReachesTheDevice) {
  const auto& c = GetParam();
  Connect(c.type, c.hardware, device_);
  SetUploadBios(c.bios);
  if (*c.file != '\0') {
    WriteFile(c.file, ImageBytes(c.length));
  }
  const ResultCode result = c.logic ? UploadLogicDsp(engine_) : UploadProcessor(engine_);
  EXPECT_EQ(result, c.expected);
  EXPECT_TRUE(device_.pages.empty());
  const uint32_t line = c.logic ? 2 : (c.bios ? 2 : 9);
  EXPECT_EQ(Line(1, line), c.loadingLine);
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, ImageRefusalTest,
    ::testing::Values(
        ImageRefusalCase{"LogicOneByteShort", true, KL1A, 101, false, "pk1a1211.sop", 31145,
                         DamagedFile, "   Loading file ... Failed: damaged file"},
        ImageRefusalCase{"LogicMissing", true, KL1A, 101, false, "", 0, FailedLoadFile,
                         "   Loading file ... Failed: missing file"},
        ImageRefusalCase{"Lnk40eWrongLength", false, LNK40E, 104, false, "ul4e1211.bin", 6072,
                         DamagedFile, "   Loading file ... Failed: damaged file"},
        ImageRefusalCase{"BiosWrongSum", false, PXR, 101, true, "ubpxr1213.bin", 14848, DamagedFile,
                         "   Loading file ... Failed: damaged file"},
        ImageRefusalCase{"UnservedRevision", true, KL1A, 103, false, "", 0, FailedLoadFile,
                         "   Loading file ... Failed: missing file"}),
    [](const auto& info) { return info.param.name; });

// A whole firmware upgrade writes its lines in the same order as the steps always did: each
// image's loading lines right before its own upload, although every image was read first.
TEST_F(UploadsTest, FirmwareUpgradeLinesKeepTheirOrder) {
  WriteFile("pk1a1211.sop", ImageBytes(31146));
  WriteFile("uk1a1211.bin", ImageBytes(600));
  while (engine_.Notices().TryTake()) {
  }
  ASSERT_EQ(UploadFirmware(engine_), Ok);

  // Every line change of page 1, in the order the display model took it.
  std::vector<std::pair<uint32_t, std::string>> changes;
  while (const auto notice = engine_.Notices().TryTake()) {
    const DisplayChange& change = notice->change;
    if (notice->kind == Notice::Kind::Display && change.kind == DisplayChange::Kind::Line &&
        change.page == 1) {
      changes.emplace_back(change.line, change.text);
    }
  }
  std::vector<std::pair<uint32_t, std::string>> steps;
  for (const auto& change : changes) {
    const bool blockUnderWay = change.second.rfind("   Uploading ", 0) == 0 &&
                               change.second.find(" Done") == std::string::npos;
    if (!blockUnderWay) {
      steps.push_back(change);
    }
  }
  const std::vector<std::pair<uint32_t, std::string>> expected = {
      {0, "Loading Logic and DSP Files"},
      {1, "   File Version KL1A: V2.11.1"},
      {2, "   Loading file ..."},
      {2, "   Loading file ... Done"},
      {3, "Uploading Logic and DSP Files"},
      {4, "   Uploading 122 block of 122 ... Done"},
      {5, "   Upload version info: 2.11"},
      {7, "Loading Processor and HI Files"},
      {8, "   File Version KL1A: V2.11.1"},
      {9, "   Loading file ..."},
      {9, "   Loading file ... Done"},
      {10, "Uploading Processor and HI Files"},
      {11, "   Uploading 4 block of 4 ... Done"},
      {12, "   Upload version info: 2.11"},
  };
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(device_.pages.size(), 122u + 4u);
  EXPECT_EQ(device_.eepromWrite.size(), 64u);
}

// The MT50P has no logic image: its upgrade skips that step whatever the flags, and the processor
// lines keep their place below it.
TEST_F(UploadsTest, Mt50pUpgradeHasNoLogicStep) {
  Connect(MT50P, 101, device_);
  WriteFile("um5p1211.bin", ImageBytes(600));
  ASSERT_EQ(UploadFirmware(engine_), Ok);
  ASSERT_EQ(device_.pages.size(), 4u);
  for (const auto& page : device_.pages) {
    EXPECT_EQ(page.code, 0x20);
  }
  EXPECT_EQ(Line(1, 0), "");
  EXPECT_EQ(Line(1, 7), "Loading Processor and HI Files");
  EXPECT_EQ(Line(1, 9), "   Loading file ... Done");
}

struct PackageCheckCase {
  const char* name;
  DeviceType type;
  uint16_t hardware;
  bool bios;
  const char* logicFile;  // empty: none written
  size_t logicLength;
  const char* processorFile;  // empty: none written
  size_t processorLength;
  ResultCode expected;
  std::vector<std::string> lines;  // page 1, lines 0 to 12
};

void PrintTo(const PackageCheckCase& c, std::ostream* os) {
  *os << c.name;
}

class PackageCheckTest : public UploadsTest,
                         public ::testing::WithParamInterface<PackageCheckCase> {};

// A package with one bad image sends nothing at all, the good images before it included. The
// images read before the bad one show "Done", the bad one its failure, and no upload line follows.
TEST_P(PackageCheckTest, BadImageStopsTheUpgradeBeforeItsFirstPage) {
  const auto& c = GetParam();
  Connect(c.type, c.hardware, device_);
  SetUploadBios(c.bios);
  if (*c.logicFile != '\0') {
    WriteFile(c.logicFile, ImageBytes(c.logicLength));
  }
  if (*c.processorFile != '\0') {
    WriteFile(c.processorFile, ImageBytes(c.processorLength));
  }
  EXPECT_EQ(UploadFirmware(engine_), c.expected);
  EXPECT_TRUE(device_.Chunks().empty()) << "nothing may reach the device";
  std::vector<std::string> lines;
  for (uint32_t i = 0; i < c.lines.size(); ++i) {
    lines.push_back(Line(1, i));
  }
  EXPECT_EQ(lines, c.lines);
}

const std::vector<std::string> kLogicLoaded = {
    "Loading Logic and DSP Files",
    "   File Version KL1A: V2.11.1",
    "   Loading file ... Done",
    "",
    "",
    "",
    "",
};

std::vector<std::string> AfterGoodLogic(const char* loadingLine) {
  std::vector<std::string> lines = kLogicLoaded;
  lines.insert(lines.end(),
               {"Loading Processor and HI Files", "   File Version KL1A: V2.11.1", loadingLine});
  return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, PackageCheckTest,
    ::testing::Values(
        PackageCheckCase{"EmptyProcessorImage", KL1A, 101, false, "pk1a1211.sop", 31146,
                         "uk1a1211.bin", 0, DamagedFile,
                         AfterGoodLogic("   Loading file ... Failed: damaged file")},
        PackageCheckCase{"ProcessorOnePastTheFlash", KL1A, 101, false, "pk1a1211.sop", 31146,
                         "uk1a1211.bin", 56 * 256 + 1, DamagedFile,
                         AfterGoodLogic("   Loading file ... Failed: damaged file")},
        PackageCheckCase{"ProcessorMissing", KL1A, 101, false, "pk1a1211.sop", 31146, "", 0,
                         FailedLoadFile,
                         AfterGoodLogic("   Loading file ... Failed: missing file")},
        PackageCheckCase{"LogicTooLong",
                         KL1A,
                         101,
                         false,
                         "pk1a1211.sop",
                         31147,
                         "uk1a1211.bin",
                         1000,
                         DamagedFile,
                         {"Loading Logic and DSP Files", "   File Version KL1A: V2.11.1",
                          "   Loading file ... Failed: damaged file", "", "", "", "", ""}},
        PackageCheckCase{"EmptyBiosImage",
                         PXR,
                         101,
                         true,
                         "",
                         0,
                         "ubpxr1213.bin",
                         0,
                         DamagedFile,
                         {"Loading Processor BIOS File", "   File Version PXR(-TP): V2.13.1",
                          "   Loading file ... Failed: damaged file", "", "", "", "", ""}}),
    [](const auto& info) { return info.param.name; });

TEST_F(UploadsTest, UpgradeCodeBeyondThePageIndexIsNotSent) {
  FakeDevicePort usb("USB", kPortUsb);
  engine_.SetCurrentPort(usb);
  WriteFile("urx7usu1101.bin", ImageBytes(256 * 512 + 1));
  EXPECT_EQ(UploadUpgradeCode(engine_, RIFSX7), FailedLoadFile);
  EXPECT_TRUE(usb.Chunks().empty());
  EXPECT_EQ(usb.jumps, 0);
}

TEST_F(UploadsTest, LogicRefusedForAnUnknownDevice) {
  Connect(kNoDeviceType, 101, device_);
  EXPECT_EQ(UploadLogicDsp(engine_), InvalidParameter);
  EXPECT_EQ(Line(1, 1), "   File Version Unknown: V0.00.(null)");
  EXPECT_TRUE(device_.Chunks().empty());
}

TEST_F(UploadsTest, RecordUpgradeWritesTheBuildTextAndThePackageVersion) {
  engine_.info.userText[0] = "old text";
  engine_.info.userText[1] = "second";
  WriteFile("Build.txt", std::string("Build 2026-12-10 rc1\r\n"));
  ASSERT_EQ(RecordUpgrade(engine_), Ok);
  ASSERT_EQ(device_.eepromWrite.size(), 64u);
  const std::string text1(device_.eepromWrite.begin(), device_.eepromWrite.begin() + 22);
  EXPECT_EQ(text1, "Build 2026-12-10 rc1\r\n");
  EXPECT_EQ(device_.eepromWrite[22], 0xFF);
  EXPECT_EQ(std::string(device_.eepromWrite.begin() + 30, device_.eepromWrite.begin() + 36),
            "second");
  EXPECT_EQ(Bytes(device_.eepromWrite.begin() + 60, device_.eepromWrite.end()),
            (Bytes{0x00, 0xD3, 0x00, 0xD3}));
  EXPECT_EQ(engine_.info.userText[0], "Build 2026-12-10 rc1\r\n");
}

TEST_F(UploadsTest, RecordUpgradeWithoutBuildTextKeepsUserText1) {
  engine_.info.userText[0] = "Main stage left";
  ASSERT_EQ(RecordUpgrade(engine_), Ok);
  EXPECT_EQ(std::string(device_.eepromWrite.begin(), device_.eepromWrite.begin() + 15),
            "Main stage left");
  // The record follows what the device now holds for both versions.
  EXPECT_EQ(engine_.info.logicVersion.Word(), 211);
  EXPECT_EQ(engine_.info.processorVersion.Word(), 211);
}

TEST_F(UploadsTest, UserTextKeepsTheVersionsAndCutsAt30Bytes) {
  engine_.info.logicVersion = VersionWord::Of(205);
  engine_.info.processorVersion = VersionWord::Of(207);
  JobRequest request;
  request.newUserText = {std::string(40, 'x'), ""};
  engine_.SetRequest(request);
  ASSERT_EQ(UploadUserText(engine_), Ok);
  EXPECT_EQ(Bytes(device_.eepromWrite.begin() + 60, device_.eepromWrite.end()),
            (Bytes{0x00, 205, 0x00, 207}));
  EXPECT_EQ(engine_.info.userText[0], std::string(30, 'x'));
  EXPECT_EQ(engine_.info.userText[1], "");
  EXPECT_EQ(device_.eepromWrite[30], 0xFF);
}

TEST_F(UploadsTest, EraseCountDependsOnTypeAndHardware) {
  const struct {
    DeviceType type;
    uint16_t hardware;
    uint32_t bytes;
  } cases[] = {{KL1B, 201, 896}, {KL1B, 101, 384}, {KL1A, 201, 896}, {MT10E, 201, 384}};
  for (const auto& c : cases) {
    FakeDevicePort device;
    Connect(c.type, c.hardware, device);
    EXPECT_EQ(EraseDeviceSettings(engine_), Ok);
    EXPECT_EQ(device.erasedBytes, c.bytes) << GetShortName(c.type) << " " << c.hardware;
  }
}

TEST_F(UploadsTest, UpgradeCodeGoesIn128BytePartsThenTheJump) {
  FakeDevicePort usb("USB", kPortUsb);
  engine_.SetCurrentPort(usb);
  WriteFile("urx7usu1101.bin", ImageBytes(1000));
  ASSERT_EQ(UploadUpgradeCode(engine_, RIFSX7), Ok);
  ASSERT_EQ(usb.upgradeCodeParts.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(usb.upgradeCodeParts[i][5], i / 4) << "page index";
    EXPECT_EQ(usb.upgradeCodeParts[i][6], i % 4) << "part";
  }
  EXPECT_EQ(usb.upgradeCodeParts[7][136 - 1], 0xFF) << "the last page is filled with FF";
  EXPECT_EQ(usb.jumps, 1);
}

TEST_F(UploadsTest, UpgradeCodeRefusals) {
  FakeDevicePort usb("USB", kPortUsb);
  engine_.SetCurrentPort(usb);
  EXPECT_EQ(UploadUpgradeCode(engine_, RIFEngine), InvalidParameter);
  EXPECT_EQ(UploadUpgradeCode(engine_, KL1A), FailedLoadFile) << "KL1A has no upgrade code";
  WriteFile("urx7usu1101.bin", ImageBytes(1000));
  engine_.SetCurrentPort(device_);  // the serial port names no upgrade code file
  EXPECT_EQ(UploadUpgradeCode(engine_, RIFSX7), FailedLoadFile);
  EXPECT_TRUE(usb.Chunks().empty());
}

}  // namespace
}  // namespace veltr::test
