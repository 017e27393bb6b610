#include "transport/device_identity.h"

#include <gtest/gtest.h>

#include <string>

namespace veltr {
namespace {

struct CodeCase {
  const char* name;
  uint8_t code;
  uint8_t variant;
  uint8_t number;
  DeviceType type;
};

class DeviceCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(DeviceCodeTest, DecodesToItsType) {
  const CodeCase& c = GetParam();
  EXPECT_EQ(DecodeDeviceType(c.code, c.variant, c.number), c.type);
}

// Every code of the table, with the variant and number bytes an answer without them carries.
INSTANTIATE_TEST_SUITE_P(
    EveryCode, DeviceCodeTest,
    ::testing::Values(
        CodeCase{"PL1TP", 0x10, 0xFF, 0xFF, 32}, CodeCase{"MT10RFX", 0x20, 0xFF, 0xFF, 27},
        CodeCase{"MT30RFX", 0x22, 0xFF, 0xFF, 29}, CodeCase{"MT20RFX", 0x24, 0xFF, 0xFF, 28},
        CodeCase{"VR8RFX", 0x28, 0xFF, 0xFF, 31}, CodeCase{"RIFEngineFirst", 0x31, 0xFF, 0xFF, 10},
        CodeCase{"RIFEngineMiddle", 0x35, 0xFF, 0xFF, 10},
        CodeCase{"RIFEngineLastOfDigits", 0x39, 0xFF, 0xFF, 10},
        CodeCase{"RIFEngineLetterA", 0x41, 0xFF, 0xFF, 10},
        CodeCase{"RIFEngineLetterB", 0x42, 0xFF, 0xFF, 10},
        CodeCase{"RIFEngineLetterC", 0x43, 0xFF, 0xFF, 10}, CodeCase{"HM1", 0x44, 0xFF, 0xFF, 18},
        CodeCase{"HS1", 0x45, 0xFF, 0xFF, 19}, CodeCase{"VR2TP", 0x47, 0xFF, 0xFF, 30},
        CodeCase{"MT10", 0x50, 0xFF, 0xFF, 5}, CodeCase{"MT10E", 0x51, 0xFF, 0xFF, 6},
        CodeCase{"MT30E", 0x52, 0xFF, 0xFF, 22}, CodeCase{"MT20E", 0x54, 0xFF, 0xFF, 7},
        CodeCase{"MT40E", 0x56, 0xFF, 0xFF, 8}, CodeCase{"KL1A", 0x60, 0xFF, 0xFF, 0},
        CodeCase{"KL1A96k", 0x61, 0xFF, 0xFF, 1}, CodeCase{"KL1AP", 0x62, 0xFF, 0xFF, 2},
        CodeCase{"KL1B", 0x70, 0xFF, 0xFF, 3}, CodeCase{"KL1B96k", 0x71, 0xFF, 0xFF, 4},
        CodeCase{"PX16In", 0x80, 0xFF, 0xFF, 13}, CodeCase{"PXP16In", 0x81, 0xFF, 0xFF, 16},
        CodeCase{"PX8_8", 0x83, 0xFF, 0xFF, 15}, CodeCase{"PXP8_8", 0x84, 0xFF, 0xFF, 17},
        CodeCase{"PX16Out", 0x86, 0xFF, 0xFF, 14}, CodeCase{"PXR", 0x90, 0xFF, 0xFF, 24}),
    [](const auto& info) { return std::string(info.param.name); });

// The codes whose type depends on the other bytes, and the codes around and between the rows.
INSTANTIATE_TEST_SUITE_P(
    SharedAndUnknownCodes, DeviceCodeTest,
    ::testing::Values(
        CodeCase{"PXRWithoutNumber", 0x91, 0xFF, 0xFF, 24},
        CodeCase{"PXRWithOtherNumber", 0x91, 0xFF, 12, 24},
        CodeCase{"VR2TPByNumber47", 0x91, 0xFF, 47, 30}, CodeCase{"FXVariant5", 0x94, 5, 0xFF, 27},
        CodeCase{"FXVariant6", 0x94, 6, 0xFF, 28}, CodeCase{"FXVariant7", 0x94, 7, 0xFF, 29},
        CodeCase{"FXVariant10", 0x94, 10, 0xFF, 31},
        CodeCase{"FXOlderAnswerWithoutVariant", 0x94, 0xFF, 0xFF, 25},
        CodeCase{"FXOtherVariant", 0x94, 0, 0xFF, 25}, CodeCase{"FXVariant8", 0x94, 8, 0xFF, 25},
        CodeCase{"VariantIgnoredElsewhere", 0x60, 5, 47, 0},
        CodeCase{"BelowRange", 0x0F, 0xFF, 0xFF, -1}, CodeCase{"AboveRange", 0x95, 5, 47, -1},
        CodeCase{"Zero", 0x00, 0, 0, -1}, CodeCase{"Top", 0xFF, 0xFF, 0xFF, -1},
        CodeCase{"GapAfterDigits", 0x40, 0xFF, 0xFF, -1},
        CodeCase{"GapBeforeDigits", 0x30, 0xFF, 0xFF, -1},
        CodeCase{"GapAfterLetters", 0x46, 0xFF, 0xFF, -1},
        CodeCase{"GapAt53", 0x53, 0xFF, 0xFF, -1}, CodeCase{"GapAt82", 0x82, 0xFF, 0xFF, -1},
        CodeCase{"GapAt92", 0x92, 0xFF, 0xFF, -1}),
    [](const auto& info) { return std::string(info.param.name); });

struct SerialCase {
  const char* name;
  uint8_t letter, number, high, low;
  const char* text;
};

class SerialNumberTextTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialNumberTextTest, Formats) {
  const SerialCase& c = GetParam();
  EXPECT_EQ(SerialNumberText(c.letter, c.number, c.high, c.low), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialNumberTextTest,
    ::testing::Values(SerialCase{"PaddedBothFields", 0x41, 7, 3, 25, "A07-0625"},
                      SerialCase{"LargestFourDigits", 0x42, 12, 49, 199, "B12-9999"},
                      SerialCase{"FiveDigitsHaveNoMaximum", 0x42, 12, 50, 0, "B12-10000"},
                      SerialCase{"LargestBytes", 0x5A, 255, 255, 255, "Z255-51255"},
                      SerialCase{"AllZeroNumbers", 0x43, 0, 0, 0, "C00-0000"},
                      SerialCase{"LowAboveTwoHundredCarriesOn", 0x44, 1, 0, 250, "D01-0250"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModeIndexTest, EveryModeByteFallsInItsFamily) {
  for (int byte = 0; byte < 256; ++byte) {
    int32_t expected = -1;
    if (byte == 0) {
      expected = 0;
    } else if (byte <= 3) {
      expected = 1;
    } else if (byte <= 6) {
      expected = 2;
    } else if (byte <= 9) {
      expected = 3;
    } else if (byte <= 12) {
      expected = 4;
    } else if (byte == 254) {
      expected = 5;
    }
    EXPECT_EQ(ModeIndex(static_cast<uint8_t>(byte)), expected) << "mode byte " << byte;
  }
}

TEST(ModeTextTest, NamesEveryIndex) {
  const struct {
    int32_t index;
    const char* text;
  } cases[] = {{0, "Veltrano"}, {1, "Halvik"},  {2, "Quillon/Brask"}, {3, "Tavo"},
               {4, "QSL"},      {5, "Upgrade"}, {-1, "Unknown"},      {6, "Unknown"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(ModeText(c.index), c.text) << c.index;
  }
  EXPECT_STREQ(ModeText(ModeIndex(254)), "Upgrade");
  EXPECT_STREQ(ModeText(ModeIndex(13)), "Unknown");
}

TEST(DeviceStatusTextTest, NamesEveryStatus) {
  const struct {
    int32_t status;
    const char* text;
  } cases[] = {{kDeviceOk, "Ok"},
               {kDeviceNotResponding, "Not responding"},
               {kDeviceNotAvailable, "Not available"},
               {kDeviceNotReachable, "Not reachable"},
               {4, "Undefined"},
               {-1, "Undefined"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(DeviceStatusText(c.status), c.text) << c.status;
  }
}

TEST(IdentifyRequestTest, EveryRequestEndsWithTheSumOfItsBytes) {
  const auto check = [](const uint8_t* bytes, size_t size) {
    ASSERT_EQ(bytes[0], size - 1) << "count byte";
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < size; ++i) {
      sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    EXPECT_EQ(bytes[size - 1], sum);
  };
  check(kIdentifyAddressed, sizeof kIdentifyAddressed);
  check(kIdentifyShort, sizeof kIdentifyShort);
  check(kModeAddressed, sizeof kModeAddressed);
  check(kModeShort, sizeof kModeShort);
}

}  // namespace
}  // namespace veltr
