#include "package/text_file.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_folder.h"

namespace veltr {
namespace {

using TextFileTest = TempFolderTest;

std::string Numbered(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += static_cast<char>('0' + i % 10);
  }
  return text;
}

TEST_F(TextFileTest, ReadHeadTakesUpTo30BytesAsTheyAre) {
  struct Case {
    std::string content;
    std::string head;
  };
  const Case cases[] = {
      {Numbered(100), Numbered(30)},
      {"Build 2.11\r\n" + Numbered(40), "Build 2.11\r\n" + Numbered(18)},
      {"Build 211\n", "Build 211\n"},  // 10 bytes, the line break kept
      {Numbered(29), Numbered(29)},
      {Numbered(30), Numbered(30)},
      {Numbered(31), Numbered(30)},
      {std::string("a\0b\xFF\xE4", 5), std::string("a\0b\xFF\xE4", 5)},  // no conversion
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.content.size()) + " bytes");
    CVeltrTextFile file;
    ASSERT_TRUE(file.Open(Write("Build.txt", c.content)));
    EXPECT_TRUE(file.ReadHead());
    EXPECT_EQ(file.Text(), c.head);
    EXPECT_FALSE(file.ReadHead());  // the file is closed after one read
  }
}

TEST_F(TextFileTest, MissingFileReadsNothing) {
  CVeltrTextFile file;
  EXPECT_FALSE(file.Open(PathOf("Build.txt")));
  EXPECT_FALSE(file.ReadHead());
  EXPECT_EQ(file.Text(), "");
}

TEST_F(TextFileTest, FolderReportsFalse) {
  // A folder may open for reading, but it holds no build text.
  CVeltrTextFile file;
  EXPECT_FALSE(file.Open(folder_.string()) && file.ReadHead());
  EXPECT_EQ(file.Text(), "");
}

class TextFileSpecialTest : public TempFolderTest,
                            public ::testing::WithParamInterface<SpecialFile> {};

// A FIFO or a device under the name "Build.txt" is no build text, and never a wait.
TEST_P(TextFileSpecialTest, CountsAsNoFile) {
  const std::string path = MakeSpecial("Build.txt", GetParam());
  CVeltrTextFile file;
  const auto read = UnlessBlocked(path, [&] { return file.Open(path) && file.ReadHead(); });
  ASSERT_TRUE(read.has_value()) << "the read waited on the file";
  EXPECT_FALSE(*read);
  EXPECT_EQ(file.Text(), "");
}

INSTANTIATE_TEST_SUITE_P(TextFile, TextFileSpecialTest,
                         ::testing::Values(SpecialFile::Fifo, SpecialFile::LinkToRandom,
                                           SpecialFile::DanglingLink),
                         [](const auto& info) { return SpecialFileName(info.param); });

TEST_F(TextFileTest, HugeFileGivesOnlyItsHead) {
  const std::string path = MakeSparse("Build.txt", 5ull << 30);
  CVeltrTextFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_TRUE(file.ReadHead());
  EXPECT_EQ(file.Text(), std::string(30, '\0'));
}

}  // namespace
}  // namespace veltr
