// The updater's own tables: type codes from identifiers, texts, variants, serial numbers and the
// firmware package rules.
#include <gtest/gtest.h>

#include "devsim/serial_number.h"
#include "serialupdater/device_tables.h"
#include "serialupdater/updater.h"

namespace {

struct IdentifierCase {
  const char* name;
  const char* identifier;
  int type;
};

void PrintTo(const IdentifierCase& c, std::ostream* os) {
  *os << c.name;
}

class TypeFromIdentifierTest : public ::testing::TestWithParam<IdentifierCase> {};

TEST_P(TypeFromIdentifierTest, LastMatchingRowWins) {
  EXPECT_EQ(su::TypeFromIdentifier(GetParam().identifier), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, TypeFromIdentifierTest,
    ::testing::Values(
        IdentifierCase{"KL1A", "   KL1 A", 10}, IdentifierCase{"KL1AP", "  KL1 AP", 10},
        IdentifierCase{"KL1B", "   KL1 B", 11}, IdentifierCase{"MT10", "    MT10", 20},
        IdentifierCase{"MT10E", "   MT10E", 21}, IdentifierCase{"MT50P", "   MT50P", 28},
        IdentifierCase{"PX16In", " PX 16IN", 30}, IdentifierCase{"PX16In1dB", "PX 16IN1", 35},
        IdentifierCase{"MorvexEngine", "MorvexIE", 50}, IdentifierCase{"SX7", "  RIFSX7", 52},
        IdentifierCase{"HM1", "     HM1", 54}, IdentifierCase{"LNK40E", "   LNK4E", 61},
        // "PXR" in the last three characters, then the FX row by the middle ones.
        IdentifierCase{"PXR", "     PXR", 90}, IdentifierCase{"PXRFX", "  PXR-FX", 94},
        IdentifierCase{"MT10RFX", "MT10R-FX", 40}, IdentifierCase{"MT30RFX", "MT30R-FX", 42},
        IdentifierCase{"MT20RFX", "MT20R-FX", 44}, IdentifierCase{"RC16", "    RC16", 1},
        IdentifierCase{"MXU4400", " MXU4400", 100}, IdentifierCase{"HUSB210", " HUSB210", 110},
        IdentifierCase{"HUSB310", " HUSB310", 111}, IdentifierCase{"BlanksAtTheEnd", "KL1 A   ", 0},
        IdentifierCase{"Unknown", "  VR2-TP", 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct VariantCase {
  const char* name;
  int hw;
  int type;
  char variant;
};

void PrintTo(const VariantCase& c, std::ostream* os) {
  *os << c.name;
}

class HwVariantTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(HwVariantTest, LaterRuleOverridesEarlier) {
  EXPECT_EQ(su::HwVariantOf(GetParam().hw, GetParam().type), GetParam().variant);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HwVariantTest,
    ::testing::Values(VariantCase{"NoRule", 100, 20, '0'}, VariantCase{"Hw101", 101, 20, '1'},
                      VariantCase{"Hw102KL1A", 102, 10, '2'}, VariantCase{"Hw102PX", 102, 30, '1'},
                      VariantCase{"Hw102MT10", 102, 20, '0'}, VariantCase{"Hw110HM1", 110, 54, '2'},
                      VariantCase{"Hw110MT10E", 110, 21, 'v'},
                      VariantCase{"Hw120MT40E", 120, 26, '2'},
                      VariantCase{"Hw120MT10", 120, 20, '0'},
                      VariantCase{"Hw201KL1A", 201, 10, '3'},
                      VariantCase{"Hw230KL1A", 230, 10, '4'},
                      VariantCase{"Hw230KL1B", 230, 11, '3'}, VariantCase{"Hw201RC16", 201, 1, '1'},
                      VariantCase{"Hw202", 202, 20, '1'}, VariantCase{"Hw203", 203, 20, '2'}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TypeTexts, KL1TextsFollowTheHardwareVersion) {
  EXPECT_EQ(su::ConnectedText(10, 219), " You are connected to KL1A (Stage Box device).");
  EXPECT_EQ(su::ConnectedText(10, 220), " You are connected to KL1A-96k (Stage Box device).");
  EXPECT_EQ(su::ConnectedText(10, 231), " You are connected to KL1AP (Stage Box device).");
  EXPECT_EQ(su::ConnectedText(10, 225), std::nullopt) << "no text: the line keeps its own";
  EXPECT_EQ(su::ConnectedText(11, 221), std::nullopt);
  EXPECT_EQ(su::CaptionOf(10, 230), "Update: KL1AP");
  EXPECT_EQ(su::CaptionOf(10, 231), std::nullopt);
  EXPECT_EQ(su::CaptionOf(11, 220), "Update: KL1B");
  EXPECT_EQ(su::ConnectedText(35, 102), " You are connected to PX-16In-1dB.");
  EXPECT_EQ(su::CaptionOf(35, 102), "Update: PXP-16In (1dB)");
  EXPECT_EQ(su::ConnectedText(0, 101), " No supported device found!");
  EXPECT_EQ(su::CaptionOf(0, 101), std::nullopt);
}

TEST(TypeTexts, VersionsShowWithTwoDecimals) {
  EXPECT_EQ(su::VersionText(214), "V2.14");
  EXPECT_EQ(su::VersionText(102), "V1.02");
  EXPECT_EQ(su::VersionText(0), "V0.00");
}

// The simulator's own coding of the serial number area, read back by the updater's decoding.
su::InfoBlock BlockWithSerial(const std::string& text) {
  const auto area = devsim::EncodeSerialNumber(text);
  EXPECT_TRUE(area.has_value()) << text;
  su::InfoBlock block{};
  // The device sends area byte 0 first, and the first byte received is index 127.
  for (std::size_t i = 0; area && i < area->size(); ++i) {
    block[127 - i] = (*area)[i];
  }
  return block;
}

struct ReceivedByteCase {
  const char* name;
  std::size_t index;
  std::uint8_t received;
  std::uint8_t kept;
};

void PrintTo(const ReceivedByteCase& c, std::ostream* os) {
  *os << c.name;
}

class InfoBlockByteTest : public ::testing::TestWithParam<ReceivedByteCase> {};

// Only the user texts read an erased byte as a blank; the versions, the unused bytes and the serial
// number area keep it.
TEST_P(InfoBlockByteTest, ErasedBytesBecomeBlanksOnlyInTheTexts) {
  EXPECT_EQ(su::InfoBlockByte(GetParam().index, GetParam().received), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Indexes, InfoBlockByteTest,
    ::testing::Values(ReceivedByteCase{"LastVersionByteStaysErased", 3, 0xFF, 0xFF},
                      ReceivedByteCase{"LastCharacterOfText2", 4, 0xFF, ' '},
                      ReceivedByteCase{"FirstCharacterOfText1", 63, 0xFF, ' '},
                      ReceivedByteCase{"UnusedByteAfterTheTextsStaysErased", 64, 0xFF, 0xFF},
                      ReceivedByteCase{"SerialAreaStaysErased", 69, 0xFF, 0xFF},
                      ReceivedByteCase{"OtherTextBytesPassUnchanged", 40, 0xFE, 0xFE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialNumber, DecodesWhatTheDeviceStored) {
  for (const char* text : {"B-07-1234", "Z-99-0000", "A-00-9999", "K-42-0205"}) {
    EXPECT_EQ(su::DecodeSerialNumber(BlockWithSerial(text)), text);
  }
}

TEST(SerialNumber, ALetterOutsideAToZGivesNoText) {
  su::InfoBlock block = BlockWithSerial("B-07-1234");
  // The letter is the third value; find it by following the chain and spoil it.
  std::size_t p = 69;
  for (int k = 0; k < 2; ++k) {
    p += (block[p] & 0x0F) != 0 ? (block[p] & 0x0F) : 16;
  }
  block[p] = static_cast<std::uint8_t>(232 - '4');
  EXPECT_EQ(su::DecodeSerialNumber(block), "");
}

TEST(FileRules, NamesCarryVariantAndPackageVersion) {
  const auto kl1a = su::FileRuleOf(10);
  ASSERT_TRUE(kl1a);
  EXPECT_EQ(su::LogicFileName(*kl1a, '3', 10), "PL1A3214.sop");
  EXPECT_EQ(su::ProcFileName(*kl1a, '3', 10), "UL1A3214.bin");
  const auto lnk = su::FileRuleOf(su::kLnk40eType);
  ASSERT_TRUE(lnk);
  EXPECT_EQ(su::ProcFileName(*lnk, '1', su::kLnk40eType), "UL4E1212.bin");
  EXPECT_FALSE(su::FileRuleOf(0));
  EXPECT_EQ(su::FileRuleOf(28)->logicCode, nullptr) << "MT50P has no logic step";
}

TEST(FileRules, LogicLengthsByHardware) {
  EXPECT_EQ(su::RequiredLogicLength(10, 199, '0'), 31146u);
  EXPECT_EQ(su::RequiredLogicLength(10, 200, '0'), std::nullopt);
  EXPECT_EQ(su::RequiredLogicLength(11, 201, '3'), 97652u);
  EXPECT_EQ(su::RequiredLogicLength(21, 115, 'v'), std::nullopt);
  EXPECT_EQ(su::RequiredLogicLength(24, 120, '2'), 212392u);
  EXPECT_EQ(su::RequiredLogicLength(54, 104, '1'), 163172u);
  EXPECT_EQ(su::RequiredLogicLength(100, 101, '1'), 22395u);
  EXPECT_EQ(su::RequiredLogicLength(100, 203, '2'), 22268u);
  EXPECT_EQ(su::RequiredLogicLength(100, 100, '0'), std::nullopt);
}

TEST(FileRules, LoadersRebootsAndEraseCounts) {
  EXPECT_EQ(su::ProcLoaderOf(1, 201), su::ProcLoader::kConsole);
  EXPECT_EQ(su::ProcLoaderOf(10, 199), su::ProcLoader::kWords);
  EXPECT_EQ(su::ProcLoaderOf(10, 200), su::ProcLoader::kNone);
  EXPECT_EQ(su::ProcLoaderOf(11, 201), su::ProcLoader::kBlocks);
  EXPECT_EQ(su::ProcLoaderOf(100, 101), su::ProcLoader::kWords);
  EXPECT_EQ(su::ProcLoaderOf(111, 110), su::ProcLoader::kBlocks);
  EXPECT_EQ(su::ProcLoaderOf(0, 101), su::ProcLoader::kNone);
  EXPECT_TRUE(su::RebootsBetweenImages(1, 201));
  EXPECT_TRUE(su::RebootsBetweenImages(100, 101));
  EXPECT_TRUE(su::RebootsBetweenImages(10, 199));
  EXPECT_FALSE(su::RebootsBetweenImages(10, 200));
  EXPECT_FALSE(su::RebootsBetweenImages(28, 101));
  EXPECT_FALSE(su::RebootsBetweenImages(110, 110));
  EXPECT_EQ(su::EraseCount(10, 201), 896);
  EXPECT_EQ(su::EraseCount(11, 201), 896);
  EXPECT_EQ(su::EraseCount(10, 202), 384);
  EXPECT_EQ(su::EraseCount(20, 201), 384);
}

TEST(FileRules, PackageVersionsAsNumbers) {
  EXPECT_EQ(su::VersionNumber(su::LogicVersionText(50)), 134);
  EXPECT_EQ(su::VersionNumber(su::ProcVersionText(52)), 221);
  EXPECT_EQ(su::VersionNumber(su::LogicVersionText(1)), 102);
  EXPECT_EQ(su::LogicVersionText(0), "");
}

}  // namespace
