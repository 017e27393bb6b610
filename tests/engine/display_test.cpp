#include "engine/display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/device_info.h"
#include "engine/notice_queue.h"
#include "engine/text_codec.h"
#include "engine/upgrade_engine.h"
#include "transport/system_ports.h"

namespace veltr {
namespace {

// A display wired as every front end wires it: through the engine, into its one channel.
class WiredDisplay : public ::testing::Test {
 protected:
  void SetUp() override { engine.SetDisplay(&display); }

  IVeltrDisplay display;
  CVeltrPortMap portMap;
  UpgradeEngine engine{MakeSystemPorts(portMap)};
  CVeltrNoticeQueue& queue = engine.Notices();
};

TEST_F(WiredDisplay, OutOfRangeChangesAreRefusedAndNotAnnounced) {
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

TEST_F(WiredDisplay, NoticesCarryTheWholeLineInOrder) {
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

// A block line keeps its progress until it is set again; what is appended to it ends the step.
TEST_F(WiredDisplay, BlockLinesCarryTheirProgress) {
  display.SetProgressLine(1, 4, "   Uploading 3 block of 9 ...", {UploadStep::Logic, 3, 9});
  display.AppendLine(1, 4, " Failed: no response");
  display.SetLine(1, 4, "plain");
  display.SetProgressLine(1, 11, "   Uploading 1 block of 2 ...", {UploadStep::Bios, 1, 2});
  display.ClearPage(1);

  std::vector<UploadProgress> seen;
  while (const auto notice = queue.TryTake()) {
    seen.push_back(notice->change.progress);
  }
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].step, UploadStep::Logic);
  EXPECT_EQ(seen[0].block, 3u);
  EXPECT_EQ(seen[0].blocks, 9u);
  EXPECT_FALSE(seen[0].ended);
  EXPECT_EQ(seen[1].step, UploadStep::Logic) << "the appended result keeps the count";
  EXPECT_EQ(seen[1].block, 3u);
  EXPECT_TRUE(seen[1].ended);
  EXPECT_FALSE(seen[2].Any()) << "a plain line counts nothing";
  EXPECT_FALSE(display.GetProgress(1, 4).Any());
  EXPECT_FALSE(display.GetProgress(1, 11).Any()) << "cleared with its page";
}

// An appended text on an ordinary line is not a step's end.
TEST_F(WiredDisplay, AppendingToAPlainLineCarriesNoProgress) {
  display.SetLine(0, 1, "   Searching COM1 ...");
  display.AppendLine(0, 1, " Skipped");
  EXPECT_FALSE(display.GetProgress(0, 1).Any());
  EXPECT_FALSE(display.GetProgress(0, 1).ended);
}

// The job-finished notice goes into the same channel as the lines, behind the last of them:
// however fast the worker writes, the front end takes them in the order they were made.
TEST_F(WiredDisplay, ManyLinesThenFinishedArriveInOrderFromTheWorker) {
  constexpr int kLines = 5000;
  std::atomic<int> wakeUps{0};
  queue.SetWakeUp([&] { ++wakeUps; });
  ASSERT_TRUE(engine.StartJob(
      [](UpgradeEngine& e) {
        for (int i = 0; i < kLines; ++i) {
          e.Display()->SetLine(1, static_cast<uint32_t>(i % 15), std::to_string(i));
        }
      },
      JobRequest{}));
  int next = 0;
  for (;;) {
    const auto notice = queue.Take(std::chrono::seconds(30));
    ASSERT_TRUE(notice) << "stuck after " << next << " lines";
    if (notice->kind == Notice::Kind::JobFinished) {
      break;
    }
    ASSERT_EQ(notice->change.text, std::to_string(next)) << "out of order";
    ++next;
  }
  EXPECT_EQ(next, kLines) << "finished overtook a line";
  engine.WaitForWorker();
  EXPECT_EQ(wakeUps.load(), kLines + 1) << "one wake-up per notice";
  EXPECT_FALSE(queue.TryTake());
}

// A display handed to another engine, or taken back, no longer feeds the first one's channel.
TEST_F(WiredDisplay, TakingTheDisplayBackUnhooksIt) {
  engine.SetDisplay(nullptr);
  display.SetLine(0, 0, "x");
  EXPECT_FALSE(queue.TryTake());
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
