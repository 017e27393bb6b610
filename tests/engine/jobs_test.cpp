#include "engine/jobs.h"

#include <gtest/gtest.h>

#include <future>
#include <ostream>
#include <utility>
#include <vector>

#include "engine/connection.h"
#include "engine/notice_queue.h"
#include "engine_fixture.h"
#include "fake_device.h"

namespace veltr::test {
namespace {

// Answers every dialog as told and remembers what it was shown.
class FakeUi : public IVeltrJobUi {
 public:
  bool Confirm(const std::string& question) override {
    questions.push_back(question);
    return confirm;
  }
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    messages.emplace_back(text, icon);
  }
  bool ShowSuccess(const std::string& message, bool exitUpgradeMode) override {
    successes.emplace_back(message, exitUpgradeMode);
    return exitUpgradeMode;
  }
  std::optional<PortId> ColdBoot(PortId searchedPort, bool searchedAll) override {
    coldBoots.emplace_back(searchedPort, searchedAll);
    return coldBootPort;
  }
  std::optional<FoundDevice> SelectDevice(PortId port,
                                          const std::vector<FoundDevice>& found) override {
    selections.emplace_back(port, found);
    if (!pick || *pick >= found.size()) {
      return std::nullopt;
    }
    return found[*pick];
  }
  std::optional<std::array<std::string, 2>> EditUserTexts(
      const std::array<std::string, 2>& current) override {
    shownTexts = current;
    return newTexts;
  }

  bool confirm = true;
  std::optional<PortId> coldBootPort;
  std::optional<size_t> pick;  // the entry SelectDevice picks; none cancels
  std::optional<std::array<std::string, 2>> newTexts;
  std::vector<std::string> questions;
  std::vector<std::pair<std::string, MessageIcon>> messages;
  std::vector<std::pair<std::string, bool>> successes;
  std::vector<std::pair<PortId, bool>> coldBoots;
  std::vector<std::pair<PortId, std::vector<FoundDevice>>> selections;
  std::array<std::string, 2> shownTexts;
};

class JobsTest : public EngineTest {
 protected:
  JobsTest() = default;
  explicit JobsTest(CVeltrPortSet ports) : EngineTest(std::move(ports)) {}

  void SetUp() override {
    EngineTest::SetUp();
    // Nothing answers on any COM port: every open fails at once.
    for (int i = 0; i < 4; ++i) {
      portMap_.Set(i, (folder_ / ("no-tty-" + std::to_string(i))).string());
    }
  }

  // Plays the front end's thread: takes the notices and runs the job end, until no job is left.
  void RunUntilIdle() {
    while (engine_.IsBusy()) {
      const auto notice = queue_.Take(std::chrono::seconds(30));
      ASSERT_TRUE(notice) << "no job-finished notice";
      if (notice->kind == Notice::Kind::JobFinished) {
        ++finishedNotices_;
        jobs_.OnJobFinished();
      }
    }
    // The job end may still show page 0; no job may still be finishing.
    while (const auto notice = queue_.TryTake()) {
      EXPECT_EQ(notice->kind, Notice::Kind::Display) << "a second job-finished notice";
    }
  }

  CVeltrNoticeQueue& queue_ = engine_.Notices();
  FakeUi ui_;
  CVeltrJobs jobs_{engine_, ui_};
  int finishedNotices_ = 0;
};

TEST_F(JobsTest, FailedSearchOffersTheColdBootAndCancelEndsQuietly) {
  jobs_.OnEnterUpgradeMode();
  ASSERT_TRUE(jobs_.Started());
  RunUntilIdle();

  EXPECT_EQ(Line(0, 0), "Establishing connection");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Line(0, i + 1), "   Searching COM" + std::to_string(i + 1) +
                                  " ... Port not available or used by other program");
  }
  ASSERT_EQ(ui_.coldBoots.size(), 1u);
  EXPECT_EQ(ui_.coldBoots[0], std::make_pair(kPortCom1, true));
  EXPECT_TRUE(ui_.messages.empty());
  ASSERT_EQ(jobs_.Outcomes().size(), 1u);
  EXPECT_EQ(jobs_.Outcomes()[0].kind, Connecting);
  EXPECT_EQ(jobs_.Outcomes()[0].SearchResult(), ConnectResult::NoDeviceFound);
  EXPECT_EQ(finishedNotices_, 1);
  EXPECT_EQ(engine_.connectionDetails.size(), 4u) << "each failed open keeps its reason";
}

TEST_F(JobsTest, ColdBootPassTriesOnlyThePortPickedThenGivesUp) {
  ui_.coldBootPort = kPortCom3;
  jobs_.OnEnterUpgradeMode();
  RunUntilIdle();

  EXPECT_EQ(settings_.port, 2);
  EXPECT_EQ(Line(0, 1), "   Searching COM1 ... Skipped");
  EXPECT_EQ(Line(0, 2), "   Searching COM2 ... Skipped");
  EXPECT_EQ(Line(0, 3), "   Searching COM3 ... Port not available or used by other program");
  EXPECT_EQ(Line(0, 4), "   Searching COM4 ... Skipped");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].first, "Cannot establish connection!");
  EXPECT_EQ(ui_.messages[0].second, MessageIcon::Exclamation);
  EXPECT_EQ(finishedNotices_, 2);
  EXPECT_FALSE(engine_.IsBusy());
}

TEST_F(JobsTest, WithoutAutoselectOnlyTheChosenPortIsTried) {
  settings_.autoselect = 0;
  settings_.port = 1;
  jobs_.OnEnterUpgradeMode();
  RunUntilIdle();
  EXPECT_EQ(Line(0, 1), "   Searching COM1 ... Skipped");
  EXPECT_EQ(Line(0, 2), "   Searching COM2 ... Port not available or used by other program");
  EXPECT_EQ(Line(0, 3), "   Searching COM3 ... Skipped");
  EXPECT_EQ(Line(0, 4), "   Searching COM4 ... Skipped");
  EXPECT_EQ(ui_.coldBoots[0], std::make_pair(kPortCom2, false));
}

struct CheckCase {
  const char* name;
  DeviceType type;
  uint16_t hardware;
  uint16_t uploader;
  int32_t bios;
  const char* message;  // empty: the confirmation is asked
};

// The row's name where a test lists its parameter, instead of the bytes of the row.
void PrintTo(const CheckCase& c, std::ostream* os) {
  *os << c.name;
}

class FirmwareCheckTest : public JobsTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(FirmwareCheckTest, ChecksComeBeforeTheConfirmation) {
  const auto& c = GetParam();
  engine_.info.type = c.type;
  engine_.info.hardwareVersion = VersionWord::Of(c.hardware);
  engine_.info.uploaderVersion = VersionWord::Of(c.uploader);
  settings_.uploadBios = c.bios;
  ui_.confirm = false;
  jobs_.OnUploadFirmware();
  EXPECT_FALSE(jobs_.Started());
  if (*c.message == '\0') {
    EXPECT_EQ(ui_.questions.size(), 1u);
    EXPECT_TRUE(ui_.messages.empty());
  } else {
    EXPECT_TRUE(ui_.questions.empty());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].first, c.message);
    EXPECT_EQ(ui_.messages[0].second, MessageIcon::None);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, FirmwareCheckTest,
    ::testing::Values(
        CheckCase{"OldMT30E", MT30E, 110, 100, 0,
                  "This hardware revision is not supported in this release.\n"
                  "Please, contact factory to obtain firmware for your device."},
        CheckCase{"PxrBios107", PXR, 101, 107, 0,
                  "BIOS V1.07 found. Please, upgrade to BIOS V1.08 before upgrading the firmware."},
        CheckCase{"PxrFxBios100", PXRFX, 101, 100, 0,
                  "BIOS V1.00 found. Please, upgrade to BIOS V1.08 before upgrading the firmware."},
        CheckCase{"PxrBios107WithBiosSwitch", PXR, 101, 107, 1, ""},
        CheckCase{"PxrBios108", PXR, 101, 108, 0, ""}, CheckCase{"KL1A", KL1A, 101, 0, 0, ""}),
    [](const auto& info) { return info.param.name; });

TEST(JobTexts, FailureAndSuccessTexts) {
  const struct {
    JobKind kind;
    int32_t result;
    const char* text;
  } cases[] = {
      {FirmwareUpgrade, 12, "Firmware upgrade failed: undefined error."},
      {UserTextUpgrade, 2, "User text upgrade failed: no response."},
      {SettingsErase, 7, "Settings erasing failed: CRC."},
      {DeviceBoot, 3, "Device booting failed: communication failed."},
      {FirmwareUpgrade, 8, "Firmware upgrade failed: internall error."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureText(c.kind, static_cast<ResultCode>(c.result)), c.text);
  }
  EXPECT_EQ(SuccessText(FirmwareUpgrade), "Firmware upgrade succeeded.");
  EXPECT_EQ(SuccessText(UserTextUpgrade), "User text upgrade succeeded.");
  EXPECT_EQ(SuccessText(SettingsErase), "Settings erasing succeeded.");
}

TEST_F(JobsTest, DeclinedEraseStartsNothing) {
  ui_.confirm = false;
  jobs_.OnEraseSettings();
  EXPECT_FALSE(jobs_.Started());
  EXPECT_FALSE(engine_.IsBusy());
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0],
            "Ok to erase all EEProm Settings of your system?\n\n"
            "WARNING: You cannot cancel EEProm erase!");
}

TEST_F(JobsTest, JobWhileConnectedRunsNoSearchAndLeavesPage0) {
  FakeDevicePort device;
  Connect(KL1B, 201, device);
  display_.SetLine(0, 6, "You are connected to KL1B (Front of House device)");
  jobs_.OnEraseSettings();
  RunUntilIdle();
  EXPECT_EQ(device.erasedBytes, 896u);
  EXPECT_EQ(Line(0, 0), "");
  EXPECT_EQ(Line(0, 6), "You are connected to KL1B (Front of House device)");
  ASSERT_EQ(ui_.successes.size(), 1u);
  EXPECT_EQ(ui_.successes[0], std::make_pair(std::string("Settings erasing succeeded."), false));
  EXPECT_TRUE(engine_.IsConnected()) << "the device stays in upgrade mode";
}

TEST_F(JobsTest, FirmwareSuccessLeavesUpgradeModeAfterwards) {
  FakeDevicePort device;
  Connect(KL1A, 101, device);
  settings_.uploadLogic = 0;
  settings_.uploadProcessor = 0;  // only the closing step
  jobs_.OnUploadFirmware();
  ASSERT_TRUE(jobs_.Started());
  RunUntilIdle();
  EXPECT_TRUE(device.pages.empty());
  EXPECT_EQ(device.eepromWrite.size(), 64u);
  ASSERT_EQ(ui_.successes.size(), 1u);
  EXPECT_EQ(ui_.successes[0], std::make_pair(std::string("Firmware upgrade succeeded."), true));
  EXPECT_EQ(device.exits, 1);
  EXPECT_FALSE(engine_.IsConnected());
  ASSERT_EQ(jobs_.Outcomes().size(), 2u);
  EXPECT_EQ(jobs_.Outcomes()[1].kind, DeviceBoot);
  EXPECT_TRUE(jobs_.Outcomes()[1].Succeeded());
  EXPECT_EQ(display_.GetShownPage(), 0u);
  EXPECT_EQ(Line(0, 10), "   Current Logic and DSP Firmware Version: V2.11");
}

TEST_F(JobsTest, FailedUploadShowsTheStopMessageAndPage0) {
  FakeDevicePort device;
  Connect(KL1A, 101, device);
  jobs_.OnUploadFirmware();
  RunUntilIdle();
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].first, "Firmware upgrade failed: failed load file.");
  EXPECT_EQ(ui_.messages[0].second, MessageIcon::Stop);
  EXPECT_EQ(display_.GetShownPage(), 0u);
  EXPECT_EQ(Line(1, 2), "   Loading file ... Failed: missing file");
  EXPECT_TRUE(engine_.IsConnected());
}

TEST_F(JobsTest, UserTextDialogShowsTheDeviceTextsAsUtf8) {
  FakeDevicePort device;
  Connect(KL1A, 101, device);
  engine_.info.userText[0] = "Caf\xE9";                                 // 1252: e with acute
  ui_.newTexts = std::array<std::string, 2>{"Foyer \xE2\x82\xAC", ""};  // euro sign
  jobs_.OnUploadUserText();
  RunUntilIdle();
  EXPECT_EQ(ui_.shownTexts[0], "Caf\xC3\xA9");
  EXPECT_EQ(device.eepromWrite[6], 0x80) << "the euro sign is 0x80 in 1252";
  EXPECT_EQ(Line(0, 12), "   Current User Text 1: \"Foyer \xE2\x82\xAC\"");
  EXPECT_EQ(Line(0, 13), "   Current User Text 2: \"\"");
}

TEST_F(JobsTest, DisconnectSendsTheExitAndClosesThePort) {
  FakeDevicePort device;
  Connect(KL1A, 101, device);
  EXPECT_EQ(Disconnect(engine_), 0);
  EXPECT_EQ(device.exits, 1);
  EXPECT_FALSE(engine_.IsConnected());
  EXPECT_EQ(Disconnect(engine_), 0) << "nothing to leave";
  EXPECT_EQ(device.exits, 1);
}

// One side waits at a point of the job until the other lets it go on.
class Hold {
 public:
  // Worker side: tells that the job is there and waits.
  void ArriveAndWait() {
    reached_.set_value();
    release_.get_future().wait();
  }
  // Test side.
  void WaitUntilReached() {
    ASSERT_EQ(reached_.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  }
  void Release() { release_.set_value(); }

 private:
  std::promise<void> reached_;
  std::promise<void> release_;
};

struct FlagChange {
  const char* name;
  int32_t uploadLogic;
  int32_t uploadProcessor;
  int32_t uploadBios;
};

void PrintTo(const FlagChange& c, std::ostream* os) {
  *os << c.name;
}

class FirmwareSnapshotTest : public JobsTest, public ::testing::WithParamInterface<FlagChange> {};

TEST_P(FirmwareSnapshotTest, FirmwareJobKeepsTheUploadFlagsItStartedWith) {
  const auto& c = GetParam();
  FakeDevicePort device;
  Connect(KL1A, 101, device);
  WriteFile("pk1a1211.sop", ImageBytes(31146));
  WriteFile("uk1a1211.bin", ImageBytes(600));
  Hold hold;
  device.onPage = [&hold](uint32_t frame) {
    if (frame == 1) {
      hold.ArriveAndWait();
    }
  };
  jobs_.OnUploadFirmware();
  ASSERT_TRUE(jobs_.Started());
  hold.WaitUntilReached();
  // The preferences change while the logic image is on its way.
  settings_.uploadLogic = c.uploadLogic;
  settings_.uploadProcessor = c.uploadProcessor;
  settings_.uploadBios = c.uploadBios;
  hold.Release();
  RunUntilIdle();

  ASSERT_EQ(device.pages.size(), 122u + 4u) << "logic, then processor and placeholder";
  EXPECT_EQ(device.pages.back().code, 0x20);
  EXPECT_EQ(Line(1, 7), "Loading Processor and HI Files") << "not the BIOS";
  ASSERT_EQ(ui_.successes.size(), 1u);
  EXPECT_EQ(ui_.successes[0].first, "Firmware upgrade succeeded.");
}

INSTANTIATE_TEST_SUITE_P(Jobs, FirmwareSnapshotTest,
                         ::testing::Values(FlagChange{"EverythingOff", 0, 0, 0},
                                           FlagChange{"BiosOnly", 0, 0, 1}),
                         [](const auto& info) { return info.param.name; });

// The search side of the same: a job that waits in its first Open keeps the port, automatic
// selection and device type it started with.
class JobsOnFakeDevicesTest : protected FakeDevicePorts, public JobsTest {
 protected:
  JobsOnFakeDevicesTest() : JobsTest(TakePorts()) {}
};

TEST_F(JobsOnFakeDevicesTest, SearchKeepsThePortChoiceItStartedWith) {
  Hold hold;
  bool first = true;
  serial_.SetOpenHook([&](const PortSettings&) {
    if (first) {
      first = false;
      hold.ArriveAndWait();
    }
    return ConnectResult::PortNotAvailable;
  });
  jobs_.OnEnterUpgradeMode();
  hold.WaitUntilReached();
  settings_.port = kPortUsb;
  settings_.autoselect = 0;
  settings_.deviceType = MT10E;
  hold.Release();
  RunUntilIdle();

  ASSERT_EQ(serial_.Opens().size(), 4u) << "every serial port, as automatic selection was on";
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(serial_.Opens()[i].name, "COM" + std::to_string(i + 1));
    EXPECT_EQ(serial_.Opens()[i].baudRate, 19200) << "the KL1A's speed";
    EXPECT_EQ(Line(0, i + 1), "   Searching COM" + std::to_string(i + 1) +
                                  " ... Port not available or used by other program");
  }
  EXPECT_TRUE(usb_.Opens().empty());
  ASSERT_EQ(ui_.coldBoots.size(), 1u);
  EXPECT_EQ(ui_.coldBoots[0], std::make_pair(kPortCom1, true)) << "what the job searched";
}

struct SelectionCase {
  const char* name;
  PortId port;
  std::optional<size_t> pick;
};

void PrintTo(const SelectionCase& c, std::ostream* os) {
  *os << c.name;
}

class DeviceSelectionTest : public JobsOnFakeDevicesTest,
                            public ::testing::WithParamInterface<SelectionCase> {
 protected:
  FakeDevicePort& Device() { return GetParam().port == kPortUsb ? usb_ : ethernet_; }
  static std::string Chosen(const PortSettings& settings, PortId port) {
    return port == kPortUsb ? settings.serialNumber : settings.address;
  }
};

// Several devices answer a listing Open: the choice sees the list, and the job starts again with
// the device picked, which the port's Open then asks for.
TEST_P(DeviceSelectionTest, ChoiceGetsTheListAndTheRestartOpensThePickedDevice) {
  const auto& c = GetParam();
  FakeDevicePort& device = Device();
  const std::vector<FoundDevice> found = {
      {PXR, kModeUpgradeCode, 0, "B-07-1234", "10.77.0.11"},
      {PXR, kModeUpgradeCode, 0, "B-07-2000", "10.77.0.12"},
  };
  device.SetFoundDevices(found);
  device.SetIdentity("     PXR", 101, 108);
  device.SetMode(kModeUpgradeCode);
  device.SetOpenHook([port = c.port](const PortSettings& settings) {
    return Chosen(settings, port).empty() ? ConnectResult::SelectionRequired
                                          : ConnectResult::Connected;
  });
  settings_.port = c.port;
  ui_.pick = c.pick;

  jobs_.OnEnterUpgradeMode();
  RunUntilIdle();

  ASSERT_EQ(ui_.selections.size(), 1u);
  EXPECT_EQ(ui_.selections[0].first, c.port);
  ASSERT_EQ(ui_.selections[0].second.size(), 2u);
  EXPECT_EQ(ui_.selections[0].second[1].serialNumber, "B-07-2000");
  EXPECT_EQ(ui_.selections[0].second[1].address, "10.77.0.12");
  EXPECT_TRUE(ui_.coldBoots.empty());
  EXPECT_TRUE(ui_.messages.empty());
  ASSERT_EQ(jobs_.Outcomes().size(), 1u);
  EXPECT_TRUE(serial_.Opens().empty());

  if (!c.pick) {
    EXPECT_EQ(device.Opens().size(), 1u);
    EXPECT_EQ(jobs_.Outcomes()[0].SearchResult(), ConnectResult::SelectionRequired);
    EXPECT_EQ(finishedNotices_, 1);
    EXPECT_FALSE(engine_.IsConnected());
    return;
  }
  ASSERT_EQ(device.Opens().size(), 2u);
  EXPECT_EQ(Chosen(device.Opens()[0], c.port), "") << "the first Open lists";
  const FoundDevice& picked = found[*c.pick];
  EXPECT_EQ(Chosen(device.Opens()[1], c.port),
            c.port == kPortUsb ? picked.serialNumber : picked.address);
  EXPECT_EQ(finishedNotices_, 2);
  EXPECT_TRUE(jobs_.Outcomes()[0].Succeeded());
  EXPECT_TRUE(engine_.IsConnected());
  EXPECT_EQ(engine_.info.type, PXR);
  EXPECT_EQ(Line(0, 1),
            std::string("   Searching ") + PortNameOf(c.port) + " ... Connection established");
}

// A serial number given up front goes to the first Open: no listing, no choice.
TEST_F(JobsOnFakeDevicesTest, PresetUsbDeviceIsAskedForAtOnce) {
  usb_.SetIdentity("     PXR", 101, 108);
  usb_.SetMode(kModeUpgradeCode);
  usb_.SetOpenHook([](const PortSettings& settings) {
    return settings.serialNumber == "B07-1234" ? ConnectResult::Connected
                                               : ConnectResult::SelectionRequired;
  });
  settings_.port = kPortUsb;
  jobs_.PresetUsbDevice("B07-1234");

  jobs_.OnEnterUpgradeMode();
  RunUntilIdle();

  ASSERT_EQ(usb_.Opens().size(), 1u);
  EXPECT_EQ(usb_.Opens()[0].serialNumber, "B07-1234");
  EXPECT_TRUE(ui_.selections.empty());
  EXPECT_TRUE(engine_.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Jobs, DeviceSelectionTest,
                         ::testing::Values(SelectionCase{"UsbSecondDevice", kPortUsb, 1},
                                           SelectionCase{"EthernetFirstDevice", kPortEthernet, 0},
                                           SelectionCase{"UsbCancelled", kPortUsb, std::nullopt}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace veltr::test
