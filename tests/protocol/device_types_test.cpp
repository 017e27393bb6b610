#include "protocol/device_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>

namespace veltr {
namespace {

HardwareVersion Hw(uint16_t word) {
  return {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)};
}

std::string Describe(DeviceType type, uint16_t hw) {
  return std::string(GetShortName(type)) + " hw " + std::to_string(hw);
}

DeviceType Identify(const char* identifier, HardwareVersion hw) {
  std::array<uint8_t, 8> bytes{};
  std::memcpy(bytes.data(), identifier, bytes.size());
  return TypeFromIdentifier(bytes.data(), hw);
}

TEST(TypeFromIdentifier, MatchesEightRawBytesAndTheHardwareWord) {
  struct Case {
    const char* identifier;  // always 8 bytes
    uint8_t hwHigh;
    uint8_t hwLow;
    DeviceType expected;
  };
  const Case cases[] = {
      {"   KL1 A", 0, 220, KL1A_96k},      {"   KL1 A", 0, 101, KL1A},
      {"   KL1 A", 1, 220, KL1A},  // word 476, not 220
      {"   KL1 B", 0, 220, KL1B_96k},      {"   KL1 B", 0, 102, KL1B},
      {"   KL1 B", 1, 220, KL1B},          {"  KL1 AP", 0, 220, KL1AP},
      {"KL1 A   ", 0, 101, kNoDeviceType},  // blanks at the end instead of the front
      {"MT10    ", 0, 101, kNoDeviceType}, {"   mt10e", 0, 120, kNoDeviceType},  // case counts
      {"     pxr", 0, 101, kNoDeviceType}, {"        ", 0, 0, kNoDeviceType},
      {"PX 16IN1", 0, 102, PXP16In},  // shares its first letters with " PX 16IN"
      {" PX 16IN", 0, 102, PX16In},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.identifier + "'");
    EXPECT_EQ(Identify(c.identifier, {c.hwHigh, c.hwLow}), c.expected);
  }
}

TEST(TypeFromIdentifier, EveryReportedIdentifierGivesItsType) {
  struct Case {
    DeviceType type;
    const char* identifier;
    uint16_t hw;
  };
  const Case cases[] = {
      {KL1A, "   KL1 A", 101},      {KL1A_96k, "   KL1 A", 220},  {KL1AP, "  KL1 AP", 230},
      {KL1B, "   KL1 B", 101},      {KL1B_96k, "   KL1 B", 220},  {MT10, "    MT10", 101},
      {MT10E, "   MT10E", 120},     {MT20E, "   MT20E", 120},     {MT40E, "   MT40E", 120},
      {MT50P, "   MT50P", 101},     {RIFEngine, "MorvexIE", 101}, {RIFRack, "MorvexIR", 101},
      {LNK40E, "   LNK4E", 104},    {PX16In, " PX 16IN", 102},    {PX16Out, "PX 16OUT", 102},
      {PX8_8, "  PX 8/8", 102},     {PXP16In, "PX 16IN1", 102},   {PXP8_8, " PX 8/81", 102},
      {HM1, "     HM1", 110},       {HS1, "     HS1", 101},       {HBA210USB, " HUSB210", 110},
      {HBA310USB, " HUSB310", 110}, {MT30E, "   MT30E", 220},     {RIFSX7, "  RIFSX7", 101},
      {PXR, "     PXR", 101},       {PXRFX, "  PXR-FX", 101},     {MT10RFX, "MT10R-FX", 101},
      {MT20RFX, "MT20R-FX", 101},   {MT30RFX, "MT30R-FX", 101},   {VR2TP, "  VR2-TP", 101},
      {VR8RFX, " VR8R-FX", 101},    {PL1TP, "  PL1-TP", 220},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.type, c.hw));
    EXPECT_EQ(Identify(c.identifier, Hw(c.hw)), c.type);
  }
}

TEST(DeviceTypeTables, RowValues) {
  struct Case {
    DeviceType type;
    const char* shortName;
    const char* longName;
    int32_t baud;
    std::optional<std::string> fileCode;
    int32_t version;
  };
  const Case cases[] = {
      {KL1A, "KL1A", "KL1A (Stage Box device)", 19200, "k1a", 211},
      {KL1A_96k, "KL1A-96k", "KL1A-96k (Stage Box device)", 19200, "k1a", 211},
      {KL1B_96k, "KL1B-96k", "KL1B-96k (Front of House device)", 19200, "k1b", 211},
      {MT10, "MT10", "MT10", 57600, "m10", 211},
      {MT10E, "MT10E", "MT10E", 115200, "m1e", 211},
      {RIFEngine, "RIF Engine", "Morvex Veltrano Interface (Engine)", 57600, "rif", 134},
      {RIFRack, "RIF Rack", "Morvex Veltrano Interface (Rack)", 57600, "rif", 134},
      {HM1, "HM1", "Halvik Veltrano Interface HM1 (Main Card)", 115200, "hm1", 211},
      {HBA310USB, "HBA-310-USB", "HBA-310-USB", 57600, "h31", 110},
      {PXR, "PXR(-TP)", "PXR(-TP)", 115200, "pxr", 213},
      {PXRSeries, "PXR-Series", "Unknown device", 115200, std::nullopt, 213},
      {MT10RFX, "MT10R-FX", "MT10R-FX", 115200, "10r", 213},
      {VR8RFX, "VR8R-FX", "VR8R-FX", 115200, "v8r", 211},
      {PL1TP, "PL1-TP", "Pellor Veltrano Interface PL1-TP", 115200, "pl1", 0},
      {kNoDeviceType, "Unknown", "Unknown device", 19200, std::nullopt, 0},
      {kDeviceTypeCount, "Unknown", "Unknown device", 19200, std::nullopt, 0},
      {-1000, "Unknown", "Unknown device", 19200, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_STREQ(GetShortName(c.type), c.shortName);
    EXPECT_STREQ(GetLongName(c.type), c.longName);
    EXPECT_EQ(BaudRateForType(c.type), c.baud);
    EXPECT_EQ(GetFileCode(c.type), c.fileCode);
    EXPECT_EQ(DefaultPackageVersion(c.type), c.version);
  }
}

TEST(GetRevisionDigit, ServedRevisionsOnly) {
  struct Case {
    DeviceType type;
    uint16_t hw;
    std::optional<std::string> digit;
  };
  const Case cases[] = {
      {KL1A, 101, "1"},
      {KL1A, 102, "2"},
      {KL1A, 201, "3"},
      {KL1B, 210, "3"},
      {KL1A, 103, std::nullopt},
      {KL1A, 220, std::nullopt},
      {KL1A_96k, 220, "3"},
      {KL1B_96k, 101, std::nullopt},
      {KL1AP, 230, "4"},
      {KL1AP, 231, "4"},
      {KL1AP, 101, std::nullopt},
      {MT10, 111, "1"},
      {MT10E, 103, "1"},
      {MT40E, 120, "2"},
      {MT10E, 101, std::nullopt},
      {MT20E, 101, "1"},
      {MT20E, 120, "2"},
      {MT20E, 103, std::nullopt},
      {RIFRack, 101, "1"},
      {LNK40E, 104, "1"},
      {LNK40E, 101, std::nullopt},
      {PXP8_8, 104, "1"},
      {HM1, 110, "2"},
      {HBA210USB, 110, "1"},
      {MT30E, 0, "2"},
      {MT30E, 65535, "2"},
      {PL1TP, 999, "1"},
      {PXRSeries, 101, std::nullopt},
      {kNoDeviceType, 101, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.type, c.hw));
    EXPECT_EQ(GetRevisionDigit(c.type, Hw(c.hw)), c.digit);
  }
}

TEST(GetLogicImageSize, ByTypeAndHardware) {
  struct Case {
    DeviceType type;
    uint16_t hw;
    uint32_t size;
  };
  const Case cases[] = {
      {KL1B, 199, 31146},      {KL1B, 200, 97652},      {KL1AP, 231, 97652},  {MT10, 101, 97652},
      {MT10E, 119, 163172},    {MT30E, 101, 212392},    {MT20E, 120, 212392}, {HM1, 109, 163172},
      {HM1, 110, 212392},      {MT50P, 101, 0},         {MT50P, 65535, 0},    {HS1, 101, 54908},
      {HBA210USB, 110, 69900}, {LNK40E, 104, 163172},   {PXR, 101, 235820},   {PXRFX, 101, 773864},
      {PXRSeries, 101, 0},     {kNoDeviceType, 101, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.type, c.hw));
    EXPECT_EQ(GetLogicImageSize(c.type, Hw(c.hw)), c.size);
  }
}

TEST(IsHardwareSupported, MinimumRevisions) {
  struct Case {
    DeviceType type;
    uint16_t hw;
    bool supported;
  };
  const Case cases[] = {
      {MT30E, 119, false}, {MT30E, 120, true},       {MT10E, 103, false}, {MT20E, 119, false},
      {MT40E, 120, true},  {HM1, 109, false},        {HM1, 110, true},    {KL1A, 0, true},
      {LNK40E, 0, true},   {kNoDeviceType, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.type, c.hw));
    EXPECT_EQ(IsHardwareSupported(c.type, Hw(c.hw)), c.supported);
  }
}

// The firmware facts of every row against the lists they come from, so that a slip in one row of
// the table shows: which types take an upgrade code, how far the processor flash reaches, which
// types have a BIOS, a logic image, a processor length from the package, a large settings area.
TEST(DeviceTypeTables, FirmwareFactsOfEveryType) {
  const auto in = [](DeviceType type, std::initializer_list<DeviceType> types) {
    return std::find(types.begin(), types.end(), type) != types.end();
  };
  for (DeviceType type = kNoDeviceType; type < kDeviceTypeCount; ++type) {
    SCOPED_TRACE(GetShortName(type));
    const bool fxGeneration = type >= PXR && type <= PL1TP;
    const bool takesCode = in(type, {MT20E, RIFEngine, RIFRack, RIFSX7}) || fxGeneration;
    EXPECT_EQ(GetUpgradeCodePageSize(type), takesCode ? 512u : 0u);
    EXPECT_EQ(IsUpgradeCodeRefused(type), in(type, {RIFEngine, RIFRack}));
    EXPECT_EQ(GetProcessorPageCount(type), type == RIFSX7 ? 993u : fxGeneration ? 1009u : 56u);
    EXPECT_EQ(HasLogicImage(type), type != MT50P);
    EXPECT_EQ(HasPackageProcessorLength(type), type == LNK40E);
    EXPECT_EQ(GetMinimumBiosVersion(type), in(type, {PXR, PXRFX}) ? 108 : 0);
    EXPECT_EQ(GetBiosImageLength(type), in(type, {PXR, PXRFX, VR8RFX}) ? 14848u : 0u);
    EXPECT_EQ(GetBiosImageSum(type), type == PXR                 ? 2149098u
                                     : in(type, {PXRFX, VR8RFX}) ? 2149384u
                                                                 : 0u);
    EXPECT_EQ(GetSettingsAreaSize(type, Hw(201)), in(type, {KL1A, KL1B}) ? 896u : 384u);
    EXPECT_EQ(GetSettingsAreaSize(type, Hw(101)), 384u);
  }
}

TEST(TypeFromShortName, ExactNamesOnly) {
  for (DeviceType type = 0; type < kDeviceTypeCount; ++type) {
    EXPECT_EQ(TypeFromShortName(GetShortName(type)), type) << GetShortName(type);
  }
  struct Case {
    const char* name;
    DeviceType expected;
  };
  const Case cases[] = {
      {"PXR(-TP)", PXR},        {"PXR", kNoDeviceType},     {"kl1a", kNoDeviceType},
      {"KL1A ", kNoDeviceType}, {"Unknown", kNoDeviceType}, {"", kNoDeviceType},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TypeFromShortName(c.name), c.expected) << "'" << c.name << "'";
  }
}

// Builds a serial area the way a device stores it: each value coded as 232 - value, the next
// coded byte lying as many bytes further down as the low four bits of this one (0 meaning 16).
std::array<uint8_t, 64> CodeSerialArea(uint8_t value0, uint8_t value1, uint8_t letter,
                                       int8_t high) {
  std::array<uint8_t, 64> area{};
  area.fill(0x5A);  // filler the walk must never read
  const uint8_t values[] = {value0, value1, letter, static_cast<uint8_t>(high)};
  size_t position = 58;
  for (uint8_t value : values) {
    const uint8_t coded = static_cast<uint8_t>(232 - value);
    area[position] = coded;
    position -= (coded & 15) == 0 ? 16 : (coded & 15);
  }
  return area;
}

TEST(DecodeSerialNumber, OffsetCodedArea) {
  struct Case {
    uint8_t value0;
    uint8_t value1;
    uint8_t letter;
    int8_t high;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {34, 7, 'B', 6, "B-07-1234"},
      {8, 24, 'Z', 0, "Z-24-0008"},  // value0 coded 224 and value1 coded 208: both steps of 16
      {'A' + 0, 0, 'A', 49, "A-00-9865"},  // 49 * 200 + 65
      {0, 99, 'M', 127, "M-99-25400"},     // number above 9999 keeps all its digits
      {34, 7, 'a', 6, std::nullopt},       // lower case is not a letter here
      {34, 7, '@', 6, std::nullopt},
      {34, 7, '[', 6, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.value_or("none"));
    const auto area = CodeSerialArea(c.value0, c.value1, c.letter, c.high);
    EXPECT_EQ(DecodeSerialNumber(area.data()), c.text);
  }
}

TEST(DecodeSerialNumber, TheB07Example) {
  // Written out byte by byte: 232 - 34 = 0xC6 at 58, steps 6 to 52; 232 - 7 = 0xE1, step 1 to 51;
  // 232 - 'B' = 0xA6, step 6 to 45; 232 - 6 = 0xE2.
  std::array<uint8_t, 64> area{};
  area[58] = 0xC6;
  area[52] = 0xE1;
  area[51] = 0xA6;
  area[45] = 0xE2;
  EXPECT_EQ(DecodeSerialNumber(area.data()), std::optional<std::string>("B-07-1234"));
}

}  // namespace
}  // namespace veltr
