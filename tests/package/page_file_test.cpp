#include "package/page_file.h"

#include <gtest/gtest.h>

#include <string>

#include "package/package_description.h"
#include "temp_folder.h"

namespace veltr {
namespace {

// Bytes 0, 1, 2, ... 255, 0, 1, ... so that a page shifted by one shows.
std::string Ramp(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>(i & 0xFF);
  }
  return bytes;
}

using PageFileTest = TempFolderTest;

TEST_F(PageFileTest, LoadsWholeFileIntoFfFilledPages) {
  struct Case {
    size_t length;
    uint32_t pageSize;
    uint32_t pages;
  };
  const Case cases[] = {
      {600, 256, 3}, {512, 512, 1}, {513, 512, 2}, {1, 256, 1}, {0, 256, 0}, {0, 512, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " bytes in pages of " + std::to_string(c.pageSize));
    const std::string bytes = Ramp(c.length);
    const std::string path = Write("image.sop", bytes);

    CVeltrPageFile file(c.pageSize);
    ASSERT_TRUE(file.Load(path));
    EXPECT_EQ(file.GetSize(), c.pages);
    EXPECT_EQ(file.GetFileLength(), c.length);
    EXPECT_EQ(file.ByteCount(), c.pages * c.pageSize);
    for (uint32_t i = 0; i < c.pages * c.pageSize; ++i) {
      const uint8_t expected = i < c.length ? static_cast<uint8_t>(bytes[i]) : 0xFF;
      ASSERT_EQ(file.Data()[i], expected) << "byte " << i;
    }
    for (uint32_t page = 0; page < c.pages; ++page) {
      EXPECT_EQ(file.At(page), file.Data() + page * c.pageSize);
    }
  }
}

TEST_F(PageFileTest, PageSizeZeroFailsBeforeOpening) {
  const std::string path = Write("uk1ausu1101.bin", Ramp(100));
  CVeltrPageFile file(0);
  EXPECT_FALSE(file.Load(path));
  // The length is recorded right after opening; it stays untouched.
  EXPECT_EQ(file.GetFileLength(), 0u);
  EXPECT_EQ(file.GetSize(), 0u);
}

TEST_F(PageFileTest, MissingFileOrFolderFails) {
  CVeltrPageFile missing(256);
  EXPECT_FALSE(missing.Load(PathOf("pk1a1211.sop")));
  EXPECT_EQ(missing.GetSize(), 0u);

  CVeltrPageFile folder(256);
  EXPECT_FALSE(folder.Load(folder_.string()));
}

class PageFileSpecialTest : public TempFolderTest,
                            public ::testing::WithParamInterface<SpecialFile> {};

// Nothing but a plain file is an image: a FIFO would hold the open until a writer came, a device
// would stream without end.
TEST_P(PageFileSpecialTest, RefusedWithoutBlocking) {
  const std::string path = MakeSpecial("uk1a1211.bin", GetParam());
  CVeltrPageFile file(256);
  const auto loaded = UnlessBlocked(path, [&] { return file.Load(path); });
  ASSERT_TRUE(loaded.has_value()) << "the load waited on the file";
  EXPECT_FALSE(*loaded);
  EXPECT_EQ(file.GetFileLength(), 0u);
  EXPECT_EQ(file.GetSize(), 0u);
}

INSTANTIATE_TEST_SUITE_P(PageFile, PageFileSpecialTest,
                         ::testing::Values(SpecialFile::Fifo, SpecialFile::LinkToRandom,
                                           SpecialFile::DanglingLink),
                         [](const auto& info) { return SpecialFileName(info.param); });

TEST_F(PageFileTest, LongerThanTheLimitIsRefusedUnread) {
  constexpr uint64_t kFiveGiB = 5ull << 30;
  struct Case {
    uint64_t length;
    uint64_t limit;
    bool loads;
  };
  const Case cases[] = {
      {14336, 14336, true},
      {14337, 14336, false},
      {kFiveGiB, 14336, false},
      {kFiveGiB, CVeltrPageFile::kMaxLength, false},  // more than the 32-bit block holds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " bytes, limit " + std::to_string(c.limit));
    const std::string path = MakeSparse("image.bin", c.length);
    CVeltrPageFile file(256);
    EXPECT_EQ(file.Load(path, c.limit), c.loads);
    // The length is known either way: the caller tells a file too long from one not there.
    EXPECT_EQ(file.GetFileLength(), c.length);
    EXPECT_EQ(file.ByteCount(), c.loads ? c.length : 0u) << "nothing held of a refused file";
  }
}

TEST_F(PageFileTest, ByteSumCountsFileBytesOnly) {
  struct Case {
    std::string bytes;
    uint64_t sum;
  };
  const Case cases[] = {
      {"", 0},
      {std::string(3, '\xFF'), 765},  // unsigned, and the FF fill of the page is not counted
      {std::string("\x01\x02\x80", 3), 131},
      {std::string(1000, '\xFE'), 254000},
  };
  for (const Case& c : cases) {
    const std::string path = Write("image.bin", c.bytes);
    CVeltrPageFile file(256);
    ASSERT_TRUE(file.Load(path));
    EXPECT_EQ(file.ByteSum(), c.sum) << c.bytes.size() << " bytes";
  }
}

TEST(PageBuffer, ResizeCountsPagesAndFillsFf) {
  CVeltrPageBuffer buffer(256);
  ASSERT_TRUE(buffer.Resize(3));
  EXPECT_EQ(buffer.GetSize(), 3u);
  EXPECT_EQ(buffer.ByteCount(), 768u);
  buffer.At(1)[0] = 0x12;
  EXPECT_EQ(buffer.Data()[256], 0x12);

  // Reserve works in pages too: it grows to 4 pages and leaves a larger buffer alone.
  ASSERT_TRUE(buffer.Reserve(4));
  EXPECT_EQ(buffer.GetSize(), 4u);
  for (uint32_t i = 0; i < buffer.ByteCount(); ++i) {
    ASSERT_EQ(buffer.Data()[i], 0xFF) << "byte " << i;
  }
  ASSERT_TRUE(buffer.Reserve(2));
  EXPECT_EQ(buffer.GetSize(), 4u);
}

TEST(PageBuffer, PageCountWhoseBytesDoNotFitIsRefused) {
  struct Case {
    uint32_t pageSize;
    uint32_t pages;
  };
  // 2^24 pages of 256 bytes would wrap the 32-bit byte count to 0.
  const Case cases[] = {{256, 1u << 24}, {512, (1u << 23) + 1}, {256, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    CVeltrPageBuffer buffer(c.pageSize);
    ASSERT_TRUE(buffer.Resize(2));
    EXPECT_FALSE(buffer.Resize(c.pages)) << c.pages << " pages of " << c.pageSize;
    EXPECT_EQ(buffer.GetSize(), 0u);
    EXPECT_EQ(buffer.ByteCount(), 0u);
  }
}

// A BIOS image of the right length whose bytes add up to sum.
std::string BiosImage(uint64_t sum) {
  const size_t length = 14848;
  std::string bytes(length, static_cast<char>(sum / length));
  for (size_t i = 0; i < sum % length; ++i) {
    bytes[i] = static_cast<char>(sum / length + 1);
  }
  return bytes;
}

TEST_F(PageFileTest, BiosImageMustMatchItsType) {
  struct Case {
    DeviceType type;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {PXR, BiosImage(2149098), true},
      {PXRFX, BiosImage(2149098), false},
      {PXRFX, BiosImage(2149384), true},
      {VR8RFX, BiosImage(2149384), true},
      {PXR, BiosImage(2149384), false},
      {PXR, BiosImage(2149098).substr(1), false},
      {PXR, BiosImage(2149098) + '\0', false},
      {KL1A, BiosImage(2149098), false},
      {KL1A, "", true},
      {kNoDeviceType, BiosImage(2149384), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(GetShortName(c.type)) + ", " + std::to_string(c.bytes.size()));
    const std::string path = Write("ubpxr1213.bin", c.bytes);
    CVeltrPageFile file(256);
    ASSERT_TRUE(file.Load(path));
    EXPECT_EQ(IsBiosImageValid(c.type, file.GetFileLength(), file.ByteSum()), c.valid);
  }
}

TEST(ImageValidation, LogicImageLengthByTypeAndHardware) {
  struct Case {
    DeviceType type;
    HardwareVersion hw;
    uint64_t length;
    bool valid;
  };
  const Case cases[] = {
      {KL1A, {0, 101}, 31146, true},
      {KL1A, {0, 101}, 31145, false},
      {KL1A, {0, 101}, 31147, false},
      {KL1B, {0, 210}, 97652, true},
      {HM1, {0, 110}, 212392, true},
      {HM1, {0, 109}, 212392, false},
      {MT50P, {0, 101}, 0, true},
      {MT50P, {0, 101}, 1, false},
      {KL1A, {0, 101}, 31146 + (1ull << 32), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsLogicImageValid(c.type, c.hw, c.length), c.valid)
        << GetShortName(c.type) << " hw " << c.hw.Word() << " length " << c.length;
  }
}

TEST(ImageValidation, ProcessorImageLengthOnlyForLnk40e) {
  PackageVersionTable builtIn;
  PackageVersionTable described;
  described.lnk40eProcessorLength = 2280;
  struct Case {
    DeviceType type;
    uint64_t length;
    const PackageVersionTable* table;
    bool valid;
  };
  const Case cases[] = {
      {LNK40E, 6070, &builtIn, true},   {LNK40E, 6072, &builtIn, false},
      {LNK40E, 2280, &described, true}, {LNK40E, 6070, &described, false},
      {KL1A, 6072, &builtIn, true},     {PXR, 1, &described, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsProcessorImageValid(c.type, c.length, *c.table), c.valid)
        << GetShortName(c.type) << " length " << c.length;
  }
}

}  // namespace
}  // namespace veltr
