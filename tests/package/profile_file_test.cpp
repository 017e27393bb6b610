#include "package/profile_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace veltr {
namespace {

class ProfileFileTest : public TempFolderTest {
 protected:
  CVeltrProfileFile LoadText(const std::string& text) {
    CVeltrProfileFile profile;
    EXPECT_TRUE(profile.Load(Write("test.ini", text)));
    return profile;
  }
};

TEST_F(ProfileFileTest, LooksUpLikeThePlatform) {
  const CVeltrProfileFile profile = LoadText(
      "Version=999\r\n"  // before any section: belongs to none
      "[KL1A]\r\n"
      "  Version  =  211  \r\n"
      "version=212\r\n"  // a second key of the same name is never seen
      "; Version=213\r\n"
      "[kl1a]\r\n"
      "Version=300\r\n"  // a second section of the same name is never seen
      "Extra=1\r\n"
      "[  Padded  ]\n"
      "Name = \"quoted value\" \n"
      "Single='305'\n"
      "Lone=\"305\n"
      "Mixed=\"305'\n"
      "Inner=a \"b\" c\n"
      "Empty=\n"
      "NoEquals\n"
      "[Broken\n"
      "Kept=1\n");
  struct Case {
    const char* section;
    const char* key;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"KL1A", "Version", "211"},
      {"kl1A", "VERSION", "211"},
      {"KL1A", "Extra", std::nullopt},
      {"KL1A", "; Version", std::nullopt},
      {"  Padded  ", "name", "quoted value"},
      {"Padded", "Name", std::nullopt},
      {"  Padded  ", "Single", "305"},
      {"  Padded  ", "Lone", "\"305"},
      {"  Padded  ", "Mixed", "\"305'"},
      {"  Padded  ", "Inner", "a \"b\" c"},
      {"  Padded  ", "Empty", ""},
      {"  Padded  ", "NoEquals", std::nullopt},
      {"  Padded  ", "Kept", "1"},  // a header without its bracket starts no section
      {"Broken", "Kept", std::nullopt},
      {"", "Version", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("[") + c.section + "] " + c.key);
    EXPECT_EQ(profile.GetString(c.section, c.key), c.value);
  }
}

TEST_F(ProfileFileTest, GetIntReadsLeadingDigits) {
  const CVeltrProfileFile profile = LoadText(
      "[S]\n"
      "Plain=305\n"
      "Tail=305abc\n"
      "Negative=-12\n"
      "Plus=+7\n"
      "Letters=abc\n"
      "Empty=\n"
      "Quoted=\"211\"\n"
      "QuotedBlank=\" 42\"\n"
      "Hex=0x10\n"
      "Decimal=2.11\n"
      "SignOnly=-\n"
      "Wraps=4294967297\n");
  struct Case {
    const char* key;
    int32_t value;
  };
  const Case cases[] = {
      {"Plain", 305},  {"Tail", 305},   {"Negative", -12},   {"Plus", 7}, {"Letters", 0},
      {"Empty", 0},    {"Quoted", 211}, {"QuotedBlank", 42}, {"Hex", 0},  {"Decimal", 2},
      {"SignOnly", 0}, {"Wraps", 1},    {"Missing", -5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(profile.GetInt("s", c.key, -5), c.value) << c.key;
  }
  EXPECT_EQ(profile.GetInt("NoSuchSection", "Plain", 17), 17);
}

TEST_F(ProfileFileTest, GetStructNeedsLengthAndSum) {
  // Bytes 01 02 03 have sum8 06; FF FF has sum8 FE.
  const CVeltrProfileFile profile = LoadText(
      "[General]\n"
      "Good=01020306\n"
      "Lower=ffFFfe\n"
      "WrongSum=01020307\n"
      "Short=010203\n"
      "Long=0102030600\n"
      "NotHex=01020G06\n"
      "Spaced= 01020306 \n");
  struct Case {
    const char* key;
    size_t size;
    std::optional<std::vector<uint8_t>> bytes;
  };
  const Case cases[] = {
      {"Good", 3, std::vector<uint8_t>{1, 2, 3}},
      {"Lower", 2, std::vector<uint8_t>{0xFF, 0xFF}},
      {"WrongSum", 3, std::nullopt},
      {"Short", 3, std::nullopt},
      {"Long", 3, std::nullopt},
      {"Good", 2, std::nullopt},
      {"NotHex", 3, std::nullopt},
      {"Spaced", 3, std::vector<uint8_t>{1, 2, 3}},
      {"Missing", 3, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(profile.GetStruct("general", c.key, c.size), c.bytes) << c.key << " as " << c.size;
  }
}

TEST_F(ProfileFileTest, SectionNamesStopAtTheFirstThatDoesNotFit) {
  // In a buffer the names take "AB\0CDE\0F\0AB\0" and one closing zero: 13 characters.
  const CVeltrProfileFile profile = LoadText("[AB]\n[CDE]\n[]\n[F]\n[AB]\n");
  using Names = std::vector<std::string>;
  struct Case {
    size_t bufferChars;
    Names names;
  };
  const Case cases[] = {
      {0, {}},
      {1, {}},
      {3, {}},  // "AB\0" leaves no room for the closing zero
      {4, {"AB"}},
      {7, {"AB"}},  // "CDE" would be cut to "CD": lost whole, and "F" after it
      {8, {"AB", "CDE"}},
      {10, {"AB", "CDE", "F"}},
      {12, {"AB", "CDE", "F"}},
      {13, {"AB", "CDE", "F", "AB"}},  // a repeated name takes its place again
      {512, {"AB", "CDE", "F", "AB"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(profile.SectionNames(c.bufferChars), c.names) << c.bufferChars << " characters";
  }
}

TEST_F(ProfileFileTest, MissingFileDoesNotLoad) {
  CVeltrProfileFile profile;
  EXPECT_FALSE(profile.Load(PathOf("VeltrUpgrade.ini")));
  EXPECT_EQ(profile.GetInt("KL1A", "Version", 211), 211);
}

// A FIFO under the description's name is not waited on, and a huge file is not read into memory.
TEST_F(ProfileFileTest, FifoOrHugeFileDoesNotLoad) {
  const std::string fifo = MakeSpecial("fifo.ini", SpecialFile::Fifo);
  CVeltrProfileFile profile;
  const auto loaded = UnlessBlocked(fifo, [&] { return profile.Load(fifo); });
  ASSERT_TRUE(loaded.has_value()) << "the load waited on the FIFO";
  EXPECT_FALSE(*loaded);
  EXPECT_FALSE(profile.Load(MakeSparse("huge.ini", CVeltrProfileFile::kMaxLength + 1)));
}

}  // namespace
}  // namespace veltr
