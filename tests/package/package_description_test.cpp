#include "package/package_description.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace veltr {
namespace {

// The "Checksum" text of 16 bytes: 32 hex digits and the sum8 of the bytes.
std::string CheckValue(const std::vector<uint8_t>& bytes, int sumAdjust = 0) {
  std::string text;
  unsigned sum = 0;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    text += digits;
    sum += b;
  }
  std::snprintf(digits, sizeof digits, "%02X", (sum + sumAdjust) & 0xFF);
  return text + digits;
}

// k = 4 points at the word F000 (61440): (62580 - 61440) * 2 = 2280.
const std::vector<uint8_t> kCheckBytes = {0x11, 0x22, 0x04, 0x33, 0xF0, 0x00, 0x44, 0x55,
                                          0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD};

std::vector<uint8_t> WithByte(std::vector<uint8_t> bytes, size_t index, uint8_t value) {
  bytes[index] = value;
  return bytes;
}

class PackageDescriptionTest : public TempFolderTest {
 protected:
  bool LoadText(const std::string& text) {
    return LoadPackageDescription(Write(kPackageIniName, text), table_);
  }
  PackageVersionTable table_;
};

TEST_F(PackageDescriptionTest, BuiltInTableBeforeAnyDescription) {
  EXPECT_EQ(table_.VersionOf(KL1A), 211);
  EXPECT_EQ(table_.VersionOf(RIFRack), 134);
  EXPECT_EQ(table_.VersionOf(PL1TP), 0);
  EXPECT_EQ(table_.VersionOf(kNoDeviceType), 0);
  EXPECT_FALSE(table_.Covers(KL1A));
  EXPECT_FALSE(table_.Covers(kDeviceTypeCount));
  EXPECT_EQ(table_.lnk40eProcessorLength, 6070u);
}

TEST_F(PackageDescriptionTest, MissingFileChangesNothing) {
  table_.version[KL1A] = 250;
  table_.present[KL1A] = 1;
  table_.lnk40eProcessorLength = 2280;
  EXPECT_FALSE(LoadPackageDescription(PathOf(kPackageIniName), table_));
  EXPECT_FALSE(LoadPackageDescription(folder_.string(), table_));  // a folder is no description
  EXPECT_EQ(table_.version[KL1A], 250);
  EXPECT_EQ(table_.present[KL1A], 1);
  EXPECT_EQ(table_.lnk40eProcessorLength, 2280u);
}

TEST_F(PackageDescriptionTest, VersionsAndCoverage) {
  ASSERT_TRUE(
      LoadText("[MT20E]\n"
               "[kl1a]\n"
               "Version=300\n"
               "[KL1B]\n"
               "Version=305\n"
               "[PXR(-TP)]\n"
               "Version=214abc\n"
               "[PL1-TP]\n"
               "Version=\n"
               "[HM1]\n"
               "Comment=no version here\n"));
  struct Case {
    DeviceType type;
    int32_t version;
    bool covered;
  };
  const Case cases[] = {
      {MT20E, 211, true},  // empty section: built-in version, covered
      {KL1A, 300, false},  // lower-case section: version read, not covered
      {KL1B, 305, true},  {PXR, 214, true},       {PL1TP, 0, true},
      {HM1, 211, true},   {KL1A_96k, 211, false}, {MT10E, 211, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(GetShortName(c.type));
    EXPECT_EQ(table_.VersionOf(c.type), c.version);
    EXPECT_EQ(table_.Covers(c.type), c.covered);
  }
  EXPECT_EQ(LogicFileName(KL1B, {0, 101}, table_), "pk1b1305.sop");
  EXPECT_EQ(table_.lnk40eProcessorLength, 6070u);
}

// A version must fit the 16-bit word that devices and file names carry: -1 would become V655.35
// and a name no package has. Such a value is left out and reported; the rest is read as usual.
TEST_F(PackageDescriptionTest, VersionsOutsideTheWordAreReportedAndLeftOut) {
  PackageDescriptionReport report;
  ASSERT_TRUE(LoadPackageDescription(Write(kPackageIniName,
                                           "[KL1A]\n"
                                           "Version=-1\n"
                                           "[KL1B]\n"
                                           "Version=65536\n"
                                           "[MT10E]\n"
                                           "Version=4294967507\n"  // 211 after a 32-bit wrap
                                           "[HM1]\n"
                                           "Version=65535\n"
                                           "[MT20E]\n"
                                           "Version=-0\n"
                                           "[PXR(-TP)]\n"
                                           "Version=214abc\n"),
                                     table_, &report));
  EXPECT_TRUE(report.found);
  EXPECT_TRUE(report.readable);
  const std::vector<std::string> damaged = {
      "[KL1A] Version=-1: not a version from 0 to 65535",
      "[KL1B] Version=65536: not a version from 0 to 65535",
      "[MT10E] Version=4294967507: not a version from 0 to 65535",
  };
  EXPECT_EQ(report.damaged, damaged);
  EXPECT_EQ(table_.VersionOf(KL1A), 211);  // the built-in versions stay
  EXPECT_EQ(table_.VersionOf(KL1B), PackageVersionTable().VersionOf(KL1B));
  EXPECT_EQ(table_.VersionOf(MT10E), 211);
  EXPECT_TRUE(table_.Covers(KL1A)) << "the section is still there";
  EXPECT_EQ(table_.VersionOf(HM1), 65535);
  EXPECT_EQ(table_.VersionOf(MT20E), 0);
  EXPECT_EQ(table_.VersionOf(PXR), 214);
}

TEST_F(PackageDescriptionTest, ReportTellsAMissingFileFromAReadOne) {
  PackageDescriptionReport report;
  report.damaged.push_back("left from before");
  EXPECT_FALSE(LoadPackageDescription(PathOf(kPackageIniName), table_, &report));
  EXPECT_FALSE(report.found);
  EXPECT_TRUE(report.damaged.empty());
  ASSERT_TRUE(
      LoadPackageDescription(Write(kPackageIniName, "[KL1A]\nVersion=212\n"), table_, &report));
  EXPECT_TRUE(report.found);
  EXPECT_TRUE(report.readable);
  EXPECT_TRUE(report.damaged.empty());
}

TEST_F(PackageDescriptionTest, CoverageSeesOnlyTheFirst512Characters) {
  // 50 names of 9 characters and their zeros take 500 of the 511 places before the closing zero.
  std::string text;
  for (int i = 0; i < 50; ++i) {
    text += "[Filler_" + std::to_string(10 + i) + "]\n";
  }
  text +=
      "[MT10E]\n"     // 6 places: 5 left
      "[KL1A-96k]\n"  // needs 9: lost, although its head "KL1A" would fit
      "[HM1]\n"       // would fit, but is lost after a name that did not
      "Version=250\n";
  ASSERT_TRUE(LoadText(text));
  EXPECT_TRUE(table_.Covers(MT10E));
  EXPECT_FALSE(table_.Covers(KL1A_96k));
  EXPECT_FALSE(table_.Covers(KL1A));
  EXPECT_FALSE(table_.Covers(HM1));
  EXPECT_EQ(table_.VersionOf(HM1), 250);  // versions are read whatever the list holds
}

TEST_F(PackageDescriptionTest, ChecksumSetsTheLnk40eLength) {
  struct Case {
    const char* label;
    std::string value;
    uint32_t length;
  };
  const Case cases[] = {
      {"valid", CheckValue(kCheckBytes), 2280},
      {"lower-case digits",
       "11220433f0004455"
       "66778899aabbccdd"
       "ff",
       2280},
      {"k = 14, the last word", CheckValue(WithByte(WithByte(kCheckBytes, 2, 14), 15, 0x74)),
       2 * (62580 - (0xCC * 256 + 0x74))},
      {"word above 62580 wraps in 32 bits", CheckValue(WithByte(kCheckBytes, 4, 0xFF)),
       static_cast<uint32_t>((62580u - 0xFF00u) * 2u)},
      {"k = 15 points outside", CheckValue(WithByte(kCheckBytes, 2, 15)), 6070},
      {"k = 255 points outside", CheckValue(WithByte(kCheckBytes, 2, 255)), 6070},
      {"wrong sum", CheckValue(kCheckBytes, 1), 6070},
      {"one byte short",
       CheckValue(std::vector<uint8_t>(kCheckBytes.begin(), kCheckBytes.end() - 1)), 6070},
      {"empty", "", 6070},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    table_ = PackageVersionTable();
    ASSERT_TRUE(LoadText("[general]\nchecksum=" + c.value + "\n"));
    EXPECT_EQ(table_.lnk40eProcessorLength, c.length);
  }
}

TEST_F(PackageDescriptionTest, InvalidChecksumKeepsThePreviousLength) {
  ASSERT_TRUE(LoadText("[General]\nChecksum=" + CheckValue(kCheckBytes) + "\n"));
  ASSERT_EQ(table_.lnk40eProcessorLength, 2280u);
  ASSERT_TRUE(LoadText("[General]\nChecksum=" + CheckValue(kCheckBytes, 1) + "\n"));
  EXPECT_EQ(table_.lnk40eProcessorLength, 2280u);
}

TEST(PackageDescriptionPath, BesideTheRunningProgram) {
  const std::filesystem::path program = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(DefaultPackageIniPath(), (program.parent_path() / "VeltrUpgrade.ini").string());
}

TEST(FirmwareFileNames, CodeRevisionAndVersion) {
  PackageVersionTable table;
  table.version[MT10] = 70000;  // only the low 16 bits make the name
  table.version[HS1] = -1;
  struct Case {
    DeviceType type;
    HardwareVersion hw;
    const char* logic;
    const char* processor;
    const char* bios;
  };
  const Case cases[] = {
      {KL1A, {0, 101}, "pk1a1211.sop", "uk1a1211.bin", "ubk1a1211.bin"},
      {KL1A_96k, {0, 220}, "pk1a3211.sop", "uk1a3211.bin", "ubk1a3211.bin"},
      {KL1A, {0, 103}, "pk1a(null)211.sop", "uk1a(null)211.bin", "ubk1a(null)211.bin"},
      {PXRSeries,
       {0, 101},
       "p(null)(null)213.sop",
       "u(null)(null)213.bin",
       "ub(null)(null)213.bin"},
      {kNoDeviceType, {0, 101}, "p(null)(null)0.sop", "u(null)(null)0.bin", "ub(null)(null)0.bin"},
      {MT10, {0, 101}, "pm1014464.sop", "um1014464.bin", "ubm1014464.bin"},
      {HS1, {0, 101}, "phs1165535.sop", "uhs1165535.bin", "ubhs1165535.bin"},
      {PL1TP, {1, 0}, "ppl110.sop", "upl110.bin", "ubpl110.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(GetShortName(c.type));
    EXPECT_EQ(LogicFileName(c.type, c.hw, table), c.logic);
    EXPECT_EQ(ProcessorFileName(c.type, c.hw, table), c.processor);
    EXPECT_EQ(BiosFileName(c.type, c.hw, table), c.bios);
  }
}

TEST(FirmwareFileNames, UpgradeCodeByPort) {
  struct Case {
    DeviceType type;
    PortId portId;
    const char* name;
  };
  const Case cases[] = {
      {KL1A, kPortUsb, "uk1ausu1101.bin"},
      {KL1A, kPortEthernet, "uk1aetu1101.bin"},
      {PXR, kPortEthernet, "upxretu1101.bin"},
      {PXRSeries, kPortUsb, "u(null)usu1101.bin"},
      {kNoDeviceType, kPortEthernet, "u(null)etu1101.bin"},
      {KL1A, kPortCom1, ""},
      {KL1A, kPortCom4, ""},
      {KL1A, kPortSerialObject, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UpgradeCodeFileName(c.type, c.portId), c.name)
        << GetShortName(c.type) << " on port " << c.portId;
  }
}

// Where a description lies for a lookup case: beside the program, in the package folder, in the
// working folder; each a file, a folder under the description's name, or nothing.
enum class Lies { Nothing, File, Folder };

struct LookupCase {
  const char* name;
  Lies program;
  Lies package;
  Lies work;
  bool packageGiven;  // --package named a folder
  const char* found;  // "program", "package", "work", or "" for none
};

void PrintTo(const LookupCase& c, std::ostream* os) {
  *os << c.name;
}

class DescriptionLookupTest : public TempFolderTest,
                              public ::testing::WithParamInterface<LookupCase> {
 protected:
  std::string Folder(const std::string& name, Lies what) const {
    const std::filesystem::path folder = folder_ / name;
    std::filesystem::create_directories(folder);
    if (what == Lies::File) {
      std::ofstream(folder / kPackageIniName) << "[KL1A]\nVersion=212\n";
    } else if (what == Lies::Folder) {
      std::filesystem::create_directories(folder / kPackageIniName);
    }
    return folder.string();
  }
};

TEST_P(DescriptionLookupTest, FirstPlainFileInOrder) {
  const LookupCase& c = GetParam();
  const std::string program = Folder("program", c.program);
  const std::string package = Folder("package", c.package);
  const std::string work = Folder("work", c.work);
  const std::string found =
      FindPackageDescription(program, c.packageGiven ? package : std::string(), work);
  const std::string expected =
      std::string(c.found).empty() ? "" : (folder_ / c.found / kPackageIniName).string();
  EXPECT_EQ(found, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Package, DescriptionLookupTest,
    ::testing::Values(
        LookupCase{"BesideProgramWinsOverAll", Lies::File, Lies::File, Lies::File, true, "program"},
        LookupCase{"PackageFolderBeforeWorkingFolder", Lies::Nothing, Lies::File, Lies::File, true,
                   "package"},
        LookupCase{"WorkingFolderLast", Lies::Nothing, Lies::Nothing, Lies::File, true, "work"},
        LookupCase{"PackageFolderNotGivenIsNotSearched", Lies::Nothing, Lies::File, Lies::Nothing,
                   false, ""},
        LookupCase{"WorkingFolderWithoutPackageFolder", Lies::Nothing, Lies::File, Lies::File,
                   false, "work"},
        LookupCase{"FolderUnderTheNameIsPassedOver", Lies::Folder, Lies::Folder, Lies::File, true,
                   "work"},
        LookupCase{"NoneAnywhere", Lies::Nothing, Lies::Nothing, Lies::Nothing, true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DescriptionLookup, CandidatesInOrderOnceEach) {
  EXPECT_EQ(PackageDescriptionCandidates("/usr/bin", "pkg/", "/home/tech/pkg"),
            (std::vector<std::string>{"/usr/bin/VeltrUpgrade.ini", "pkg/VeltrUpgrade.ini",
                                      "/home/tech/pkg/VeltrUpgrade.ini"}));
  // The package folder is the working folder: listed once.
  EXPECT_EQ(PackageDescriptionCandidates("/opt/veltr", "/srv/pkg", "/srv/pkg"),
            (std::vector<std::string>{"/opt/veltr/VeltrUpgrade.ini", "/srv/pkg/VeltrUpgrade.ini"}));
  EXPECT_EQ(PackageDescriptionCandidates("/", "", ""),
            (std::vector<std::string>{"/VeltrUpgrade.ini"}));
}

// The running test program's own folder: where the system has always looked.
TEST(DescriptionLookup, BesideTheRunningProgram) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "package_tests")) << folder;
  EXPECT_EQ(DefaultPackageIniPath(), folder + "/" + kPackageIniName);
}

}  // namespace
}  // namespace veltr
