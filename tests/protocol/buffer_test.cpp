#include "base/buffer.h"

#include <gtest/gtest.h>

namespace veltr {
namespace {

TEST(BufferTest, ResizeSetsSizeAndFreesOnZero) {
  CVeltrBuffer buffer;
  EXPECT_EQ(buffer.GetSize(), 0u);
  EXPECT_EQ(buffer.Data(), nullptr);

  ASSERT_TRUE(buffer.Resize(5));
  EXPECT_EQ(buffer.GetSize(), 5u);
  EXPECT_NE(buffer.Data(), nullptr);
  EXPECT_EQ(buffer.At(3), buffer.Data() + 3);

  ASSERT_TRUE(buffer.Resize(0));
  EXPECT_EQ(buffer.GetSize(), 0u);
  EXPECT_EQ(buffer.Data(), nullptr);
}

TEST(BufferTest, ResizeToTheSameSizeKeepsBlockAndContents) {
  CVeltrBuffer buffer;
  ASSERT_TRUE(buffer.Resize(4));
  uint8_t* block = buffer.Data();
  *buffer.At(2) = 0x5A;

  ASSERT_TRUE(buffer.Resize(4));
  EXPECT_EQ(buffer.Data(), block);
  EXPECT_EQ(*buffer.At(2), 0x5A);
}

TEST(BufferTest, ResizeToAnotherSizeGivesAFreshBlock) {
  CVeltrBuffer buffer;
  ASSERT_TRUE(buffer.Resize(4));
  ASSERT_TRUE(buffer.Resize(2));
  EXPECT_EQ(buffer.GetSize(), 2u);
  ASSERT_TRUE(buffer.Resize(1000));
  EXPECT_EQ(buffer.GetSize(), 1000u);
  buffer.At(999)[0] = 1;  // the whole block is usable
}

// Counts the Resize calls that Reserve makes through the virtual slot.
class CountingBuffer : public CVeltrBuffer {
 public:
  bool Resize(uint32_t n) override {
    ++resizes;
    return CVeltrBuffer::Resize(n);
  }
  int resizes = 0;
};

TEST(BufferTest, ReserveGrowsThroughResizeAndNeverShrinks) {
  struct Case {
    uint32_t start;
    uint32_t reserve;
    uint32_t sizeAfter;
    int resizes;
  };
  const Case cases[] = {
      {0, 8, 8, 1},    // grows
      {8, 8, 8, 0},    // already big enough
      {10, 4, 10, 0},  // never shrinks
      {4, 10, 10, 1},  // grows
      {5, 0, 5, 0},    // zero never frees
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " reserve " << c.reserve);
    CountingBuffer buffer;
    ASSERT_TRUE(buffer.CVeltrBuffer::Resize(c.start));
    EXPECT_TRUE(buffer.Reserve(c.reserve));
    EXPECT_EQ(buffer.GetSize(), c.sizeAfter);
    EXPECT_EQ(buffer.resizes, c.resizes);
  }
}

}  // namespace
}  // namespace veltr
