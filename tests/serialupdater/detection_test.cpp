// Start-up against simulated devices: the search of COM1 and COM2, the cold boot question and
// wait, identification, the status lines, and the line speed of every build.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

#include "updater_rig.h"

namespace su_test {
namespace {

using namespace std::chrono_literals;

devsim::IdentityChanges Mt10Identity() {
  devsim::IdentityChanges c;
  c.uploaderVersion = 110;
  c.serialNumber = "B-07-1234";
  c.text1 = "Stage left";
  c.logicVersion = 211;
  c.processorVersion = 205;
  return c;
}

class DetectionTest : public UpdaterRig {};

TEST_F(DetectionTest, FindsTheDeviceOnCom1AndShowsWhatItSays) {
  Detect(57600, Device("MT10", Mt10Identity()));
  const std::vector<std::string> expected = {
      " Establish Connection ...",
      " Searching COM1 ...  Connection established.",
      " Searching COM2 ...  skipped.",
      "",
      " You are connected to MT10.",
      " Hardware Version: V1.01",
      " Uploader Version: V1.10",
      " Serial Number: B-07-1234",
      " Current Logic and DSP Firmware Version: V2.11",
      " Current Processor and HI Firmware Version: V2.05",
      " Current User Text 1: Stage left" + std::string(20, ' '),
      // An erased text reads as blanks.
      " Current User Text 2: " + std::string(30, ' '),
      "",
  };
  for (int i = 1; i <= 13; ++i) {
    EXPECT_EQ(updater->Line(i), expected[static_cast<std::size_t>(i - 1)]) << "line " << i;
  }
  EXPECT_EQ(updater->Caption(), "Update: MT10");
  EXPECT_EQ(view.captions.front(), "Update: AutoSelect COM Port ...");
  EXPECT_EQ(view.enables, (std::vector<bool>{false, true}));
  EXPECT_EQ(Sim().CurrentMode(), devsim::Mode::kProgram);
  EXPECT_TRUE(view.boxes.empty());
}

struct Com1Case {
  const char* name;
  const char* com1Result;
};

void PrintTo(const Com1Case& c, std::ostream* os) {
  *os << c.name;
}

class Com2Test : public UpdaterRig, public ::testing::WithParamInterface<Com1Case> {};

TEST_P(Com2Test, FindsTheDeviceOnCom2AfterCom1Failed) {
  const std::string name = GetParam().name;
  std::string com1;
  int lock = -1;
  if (name == "Missing") {
    com1 = MissingPort();
  } else {
    com1 = SilentPort();
    if (name == "HeldByAnotherProgram") {
      lock = open(com1.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
      ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    }
  }
  const std::string com2 = StartDevice(Device("MT10E"));
  MakeUpdater(115200, com1, com2);
  updater->Main();
  if (lock >= 0) {
    close(lock);
  }
  EXPECT_EQ(updater->Line(2), std::string(" Searching COM1 ...  ") + GetParam().com1Result);
  EXPECT_EQ(updater->Line(3), " Searching COM2 ...  Connection established.");
  EXPECT_EQ(updater->Line(5), " You are connected to MT10E.");
  EXPECT_EQ(updater->Caption(), "Update: MT10E");
  EXPECT_EQ(updater->CommPort(), 2);
  EXPECT_TRUE(updater->PortOpen());
  EXPECT_TRUE(view.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Com1, Com2Test,
    ::testing::Values(Com1Case{"Missing", "Com1 not available or used by another program."},
                      Com1Case{"HeldByAnotherProgram",
                               "Com1 not available or used by another program."},
                      Com1Case{"Silent", "No Device connected to COM1."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DetectionTest, NoDeviceAsksForAColdBootAndCancelEndsTheProgram) {
  MakeUpdater(57600, SilentPort(), MissingPort());
  view.answers = {su::BoxAnswer::kCancel};
  updater->Main();

  ASSERT_EQ(view.boxes.size(), 1u);
  const su::MessageBox& box = view.boxes[0];
  EXPECT_EQ(box.title, "AutoSelect");
  EXPECT_EQ(box.text,
            "No Device found at COM1 or COM2!\r"
            "If you click <Yes>, the program tries to ColdBoot from COM1.\r"
            "If you click  <No>, the program tries to ColdBoot from COM2.\r"
            "Hit <Cancel> if you want to quit.");
  EXPECT_EQ(box.buttons, su::BoxButtons::kYesNoCancel);
  EXPECT_EQ(box.icon, su::BoxIcon::kCritical);
  EXPECT_EQ(box.defaultButton, 3);
  EXPECT_TRUE(view.quit);
  EXPECT_EQ(updater->Line(2), " Searching COM1 ...  No Device connected to COM1.");
  EXPECT_EQ(updater->Line(3),
            " Searching COM2 ...  Com2 not available or used by another program.");
  // One search only: Cancel does not look again.
  EXPECT_EQ(view.history[1].size(), 1u);
}

struct ColdBootCase {
  const char* name;
  su::BoxAnswer answer;
  int port;
};

void PrintTo(const ColdBootCase& c, std::ostream* os) {
  *os << c.name;
}

class ColdBootTest : public UpdaterRig, public ::testing::WithParamInterface<ColdBootCase> {};

TEST_P(ColdBootTest, WaitsForTheDeviceOnTheChosenPortAndSkipsTheOther) {
  const ColdBootCase& c = GetParam();
  devsim::SimulatorOptions options;
  options.start = devsim::Mode::kDead;
  const std::string dead = StartDevice(Device("KL1B"), options);
  const std::string silent = SilentPort();
  MakeUpdater(19200, c.port == 1 ? dead : silent, c.port == 1 ? silent : dead);
  view.answers = {c.answer};
  // The user switches the device on a little while after answering.
  view.onAsk = [this](const su::MessageBox&) {
    helpers.emplace_back([this] {
      std::this_thread::sleep_for(2500ms);
      Sim().PowerUp();
    });
  };
  updater->Main();

  ASSERT_EQ(view.boxes.size(), 1u);
  ASSERT_TRUE(updater->PortOpen());
  EXPECT_EQ(updater->CommPort(), c.port);
  EXPECT_EQ(updater->Line(5), " You are connected to KL1B (Front of House device).");
  const int waitLine = c.port == 1 ? 2 : 3;
  const std::string label = c.port == 1 ? " ColdBoot COM1 ... " : " ColdBoot COM2 ... ";
  EXPECT_TRUE(view.Showed(waitLine, label + "10     "));
  // The result is added to whatever the countdown left on the line.
  EXPECT_EQ(updater->Line(waitLine).rfind(label, 0), 0u) << updater->Line(waitLine);
  EXPECT_TRUE(updater->Line(waitLine).ends_with("     Connection established."))
      << updater->Line(waitLine);
  if (c.port == 1) {
    EXPECT_EQ(updater->Line(3), " Searching COM2 ...  skipped.");
  } else {
    EXPECT_EQ(updater->Line(2), " Searching COM1 ...  skipped.");
  }
}

INSTANTIATE_TEST_SUITE_P(Ports, ColdBootTest,
                         ::testing::Values(ColdBootCase{"YesIsCom1", su::BoxAnswer::kYes, 1},
                                           ColdBootCase{"NoIsCom2", su::BoxAnswer::kNo, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DetectionTest, AnUnknownIdentifierIsNoSupportedDevice) {
  Detect(115200, Device("VR2-TP"));
  EXPECT_EQ(updater->Line(5), " No supported device found!");
  EXPECT_EQ(updater->Caption(), "Update: AutoSelect COM Port ...");
  EXPECT_EQ(updater->Device().typeCode, 0);

  // No file rule: the firmware job ends with the file failure.
  const std::size_t before = ports[0]->BytesReceived();
  updater->UploadFirmwareJob();
  EXPECT_TRUE(view.Showed(2, "    File missing or damaged!"));
  EXPECT_EQ(view.BoxTexts().back(), "Upload Firmware failed!");
  EXPECT_EQ(ports[0]->BytesReceived(), before);
}

struct BuildCase {
  const char* name;
  int baud;
  const char* device;
};

void PrintTo(const BuildCase& c, std::ostream* os) {
  *os << c.name;
}

class BuildSpeedTest : public UpdaterRig, public ::testing::WithParamInterface<BuildCase> {};

// The wake-up goes out at 57600 whatever the build; everything after it at the build's speed.
TEST_P(BuildSpeedTest, WakeUpAt57600ThenProgramModeAtTheBuildSpeed) {
  const BuildCase& c = GetParam();
  Detect(c.baud, Device(c.device));
  updater->EraseSettingsJob();
  EXPECT_EQ(view.BoxTexts().back(), "Settings erase succeeded.");

  const auto runs = Sim().ReceivedSpeeds();
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs[0].baud, 57600);
  if (c.baud == 57600) {
    EXPECT_EQ(runs.size(), 1u) << "the 57600 build never changes speed";
  } else {
    EXPECT_EQ(runs[0].count, 5u) << "only the wake-up sequence goes at 57600";
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].baud, c.baud);
    // Identification, information read, then the erase command and its 384 bytes.
    EXPECT_EQ(runs[1].count, 16u + 1u + 1u + 384u);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, BuildSpeedTest,
                         ::testing::Values(BuildCase{"A", 115200, "MT10E"},
                                           BuildCase{"B", 57600, "MT10"},
                                           BuildCase{"C", 19200, "KL1A"}),
                         [](const auto& info) {
                           return std::string("SerialUpdater") + info.param.name;
                         });

}  // namespace
}  // namespace su_test
