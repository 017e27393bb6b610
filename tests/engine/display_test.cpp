#include "engine/display.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/device_info.h"
#include "engine/notice_queue.h"
#include "engine/text_codec.h"

namespace veltr {
namespace {

TEST(Display, OutOfRangeChangesAreRefusedAndNotAnnounced) {
  IVeltrDisplay display;
  CVeltrNoticeQueue queue;
  display.SetNotices(&queue);
  EXPECT_FALSE(display.SetLine(0, 15, "x"));
  EXPECT_FALSE(display.SetLine(2, 0, "x"));
  EXPECT_FALSE(display.AppendLine(0, 15, "x"));
  EXPECT_FALSE(display.ClearPage(2));
  EXPECT_FALSE(display.ShowPage(2));
  EXPECT_FALSE(queue.TryTake());
  EXPECT_EQ(display.GetShownPage(), 0u);
}

TEST(Display, ClearPageKeepsFifteenEmptyLines) {
  IVeltrDisplay display;
  display.SetLine(1, 14, "last");
  ASSERT_TRUE(display.ClearPage(1));
  const auto page = display.GetPage(1);
  EXPECT_EQ(page.size(), 15u);
  for (const auto& line : page) {
    EXPECT_TRUE(line.empty());
  }
}

TEST(Display, NoticesCarryTheWholeLineInOrder) {
  IVeltrDisplay display;
  CVeltrNoticeQueue queue;
  display.SetNotices(&queue);
  display.SetLine(0, 1, "   Searching COM1 ...");
  display.AppendLine(0, 1, " Skipped");
  display.SetTitle("MT10E");
  const auto first = queue.TryTake();
  const auto second = queue.TryTake();
  const auto third = queue.TryTake();
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(first->change.text, "   Searching COM1 ...");
  EXPECT_EQ(second->change.text, "   Searching COM1 ... Skipped");
  EXPECT_EQ(third->change.kind, DisplayChange::Kind::Title);
  EXPECT_EQ(display.GetTitle(), "MT10E");
}

// A reader on another thread sees every line either before or after a change, never in between.
TEST(Display, ReaderNeverSeesAHalfReplacedLine) {
  IVeltrDisplay display;
  const std::string a(200, 'a');
  const std::string b(200, 'b');
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) {
      display.SetLine(1, 4, (i % 2) != 0 ? a : b);
    }
  });
  for (int i = 0; i < 20000; ++i) {
    const std::string line = display.GetLine(1, 4);
    ASSERT_TRUE(line.empty() || line == a || line == b);
  }
  writer.join();
}

TEST(DeviceInfoLines, DescribeTheDeviceOnPage0) {
  IVeltrDisplay display;
  DeviceInfo info;
  info.type = 1;  // KL1A-96k
  info.hardwareVersion = VersionWord::Of(220);
  info.uploaderVersion = VersionWord::Of(108);
  info.logicVersion = VersionWord::Of(211);
  info.processorVersion = VersionWord::Of(5);
  info.serialNumber = "B-07-1234";
  info.userText[0] = "Stage \xA7 1";
  WriteDeviceInfoLines(&display, info);
  EXPECT_EQ(display.GetLine(0, 6), "You are connected to KL1A-96k (Stage Box device)");
  EXPECT_EQ(display.GetLine(0, 7), "   Hardware Version: V2.20");
  EXPECT_EQ(display.GetLine(0, 8), "   Uploader Version: V1.08");
  EXPECT_EQ(display.GetLine(0, 9), "   Serial Number: B-07-1234");
  EXPECT_EQ(display.GetLine(0, 10), "   Current Logic and DSP Firmware Version: V2.11");
  EXPECT_EQ(display.GetLine(0, 11), "   Current Processor and HI Firmware Version: V0.05");
  EXPECT_EQ(display.GetLine(0, 12), "   Current User Text 1: \"Stage \xC2\xA7 1\"");
  EXPECT_EQ(display.GetLine(0, 13), "   Current User Text 2: \"\"");
  EXPECT_TRUE(display.GetLine(0, 5).empty());
  EXPECT_TRUE(display.GetLine(0, 14).empty());
  EXPECT_EQ(display.GetTitle(), "KL1A-96k (Stage Box device)");
}

TEST(TextCodec, EveryByteRoundTripsAndForeignCharactersBecomeQuestionMarks) {
  std::string all;
  for (int i = 0; i < 256; ++i) {
    all += static_cast<char>(i);
  }
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(AnsiToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("\xC4\x89x"), "?x");  // c with circumflex is not in 1252
  EXPECT_EQ(Utf8ToAnsi("\xFF\xC3"), "??");   // not UTF-8 at all
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82"), "??");   // cut short
}

// What a device field cannot hold is refused with the character and where it stands; what it can
// hold (any 1252 character but FF and the controls, up to 30 of them) passes.
TEST(TextCodec, UserTextProblemNamesTheCharacterAndItsPlace) {
  struct Case {
    const char* text;
    const char* problem;  // empty: kept as it is
  };
  const Case cases[] = {
      {"Caf\xC3\xA9 \xE2\x82\xAC \xC5\xB8", ""},  // e acute, euro, Y diaeresis (9F): printable
      {"", ""},
      {"123456789012345678901234567890", ""},
      {"1234567890123456789012345678901",
       "user text 1 has 31 characters; the device keeps at most 30"},
      {"a\xC3\xBF"
       "b",
       "user text 1: character 2 (\"\xC3\xBF\", byte FF) ends a text field on the device"},
      {"\x1B[0m", "user text 1: character 1 is a control character (\\x1b)"},
      {"ok\x7F", "user text 1: character 3 is a control character (\\x7f)"},
      {"\xE2\x82\xAC\t", "user text 1: character 2 is a control character (\\x09)"},
      {"x\xC2\x81", "user text 1: character 2 is a control character (\\u0081)"},  // 1252 81
      {"x\xC2\x9B", "user text 1: character 2 is a control character (\\u009b)"},  // not in 1252
      {"\xE2\x98\x83",
       "user text 1: character 1 (\"\xE2\x98\x83\") has no byte in the device's code page "
       "(Windows-1252)"},
      {"ab\xFF", "user text 1: character 3 (byte FF) is not UTF-8 text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(UserTextProblem(1, c.text), c.problem);
  }
  EXPECT_EQ(UserTextProblem(2, "\x07"), "user text 2: character 1 is a control character (\\x07)");
}

}  // namespace
}  // namespace veltr
