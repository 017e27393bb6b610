#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/result_code.h"
#include "protocol/sums.h"

namespace veltr {
namespace {

TEST(SumsTest, Sum8IsTheByteSumModulo256) {
  struct Case {
    std::vector<uint8_t> bytes;
    uint8_t sum;
  };
  const Case cases[] = {
      {{}, 0x00},
      {{0x08, 0x57, 0xFF, 0xFF, 0xC9, 0x00, 0x01, 0x29}, 0x50},  // the jump's own sum byte
      {{0x04, 0x57, 0xFF, 0xFF}, 0x59},
      {{0x04, 0x56, 0xFF, 0xFF}, 0x58},
      {{0x04, 0x55, 0x1A, 0x1B}, 0x8E},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sum8(c.bytes.data(), c.bytes.size()), c.sum);
  }
}

TEST(SumsTest, Sum16IsTheByteSumModulo65536) {
  struct Case {
    std::vector<uint8_t> bytes;
    uint16_t sum;
  };
  const Case cases[] = {
      {{}, 0x0000},
      {std::vector<uint8_t>(256, 0xFF), 0xFF00},
      {std::vector<uint8_t>(258, 0xFF), 0x00FE},  // 65790 wraps past 65535
      {{0x01, 0x02, 0xFE}, 0x0101},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sum16(c.bytes.data(), c.bytes.size()), c.sum);
  }
}

TEST(ResultTextTest, EveryCodeHasItsTextAndOthersAreUndefined) {
  struct Case {
    int32_t code;
    std::string text;
  };
  const Case cases[] = {
      {Ok, "Ok"},
      {FailedOpenPort, "failed open port"},
      {NoResponse, "no response"},
      {CommunicationFailed, "communication failed"},
      {InvalidParameter, "invalid parameter"},
      {FailedLoadFile, "failed load file"},
      {DamagedFile, "damaged file"},
      {Crc, "CRC"},
      {InternalError, "internall error"},
      {9, "undefined error"},
      {-1, "undefined error"},
      {0x7FFFFFFF, "undefined error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResultText(c.code), c.text) << c.code;
  }
}

}  // namespace
}  // namespace veltr
