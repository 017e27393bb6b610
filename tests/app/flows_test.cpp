// Whole runs of VeltrUpgrade's window against veltr-devsim over a pseudo-terminal: the settings
// store maps COM1 to COM4, the test answers every modal dialog as a user would.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/dlg_combo_selector.h"
#include "app/dlg_small.h"
#include "app/main_frame.h"
#include "app/settings.h"
#include "app/veltr_app.h"
#include "devsim/device_state.h"
#include "e2e/process.h"
#include "gui_helpers.h"
#include "support/image_bytes.h"

namespace veltr_app_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const std::string kBin = VELTR_BIN_DIR;
const std::string kOutput = VELTR_APP_TEST_OUTPUT_DIR;

using veltr::test::ImageBytes;

class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "veltr-app-flow-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    for (const char* sub : {"package", "device", "bin", "start"}) {
      fs::create_directories(folder_ / sub);
    }
    WritePackageFile("VeltrUpgrade.ini", std::string("[KL1A]\nVersion=211\n"));
    WritePackageFile("Build.txt", std::string("Build 13-12-10-A"));
  }
  void TearDown() override {
    app_.reset();
    if (sim_ != nullptr) {
      sim_->Stop();
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string StartDevice(std::vector<std::string> args) {
    args.push_back("--state");
    args.push_back((folder_ / "device").string());
    sim_ = std::make_unique<veltr::e2e::SimulatorProcess>();
    EXPECT_TRUE(sim_->Start(kBin + "/veltr-devsim", args));
    return sim_->SlavePath();
  }
  devsim::DeviceState Device() {
    EXPECT_TRUE(sim_->Stop());
    sim_.reset();
    std::string error;
    auto state = devsim::LoadState((folder_ / "device").string(), &error);
    EXPECT_TRUE(state) << error;
    return state ? *state : devsim::DeviceState{};
  }
  void WritePackageFile(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(folder_ / "package" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  void WritePackageFile(const std::string& name, const std::string& text) const {
    WritePackageFile(name, Bytes(text.begin(), text.end()));
  }
  std::string Missing(const std::string& name) const { return (folder_ / name).string(); }

  // The store as a user left it: the device type, the port rule and COM1 to COM4 as given.
  void StoreSettings(const std::vector<std::string>& com, int32_t port, bool autoselect,
                     bool selectDialog = false) {
    veltr::CVeltrSettings store;
    veltr::AppSettings settings;
    settings.selectDialog = selectDialog ? 1 : 0;
    settings.port = port;
    settings.autoselect = autoselect ? 1 : 0;
    ASSERT_TRUE(store.SaveSettings(settings));
    veltr::CVeltrPortMap map;
    for (size_t i = 0; i < com.size(); ++i) {
      map.Set(static_cast<int>(i), com[i]);
    }
    ASSERT_TRUE(store.SavePortMap(map));
  }

  // The program as started from the desktop with --package.
  void StartApp() {
    veltr::AppCommandLine line;
    line.packageFolder = (folder_ / "package").string();
    app_ = std::make_unique<veltr::CVeltrApp>(
        line, veltr::CVeltrApp::Folders{QString::fromStdString((folder_ / "bin").string()),
                                        QString::fromStdString((folder_ / "start").string())});
    ASSERT_TRUE(app_->InitInstance());
  }
  bool WaitIdle(std::chrono::milliseconds timeout = 60s) {
    return WaitUntil([this] { return !app_->Engine().IsBusy(); }, timeout);
  }
  void ConnectAtStartUp() {
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(app_->Engine().IsConnected()) << app_->Doc().GetLine(0, 1);
  }
  QAction* Command(int id) const { return app_->Frame()->Action(id); }
  bool PageHas(uint32_t page, const std::string& line) const {
    for (const auto& text : app_->Doc().GetPage(page)) {
      if (text == line) {
        return true;
      }
    }
    return false;
  }
  std::string PageText(uint32_t page) const {
    std::string all;
    for (const auto& text : app_->Doc().GetPage(page)) {
      all += text + "\n";
    }
    return all;
  }

  fs::path folder_;
  std::unique_ptr<veltr::e2e::SimulatorProcess> sim_;
  std::unique_ptr<veltr::CVeltrApp> app_;
};

TEST_F(FlowTest, StartUpConnectsShowsTheDeviceAndEnablesItsCommands) {
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--uploader", "110",
                                       "--serial", "B-07-1234", "--text1", "Stage left"});
  StoreSettings({tty, Missing("tty2"), Missing("tty3"), Missing("tty4")}, veltr::kPortCom1, true);
  ModalAnswerer answers;
  StartApp();
  ConnectAtStartUp();
  EXPECT_EQ(answers.Unexpected(), 0);

  const auto& doc = app_->Doc();
  EXPECT_EQ(doc.GetLine(0, 0), "Establishing connection");
  EXPECT_EQ(doc.GetLine(0, 1), "   Searching COM1 ... Connection established");
  EXPECT_TRUE(PageHas(0, "You are connected to KL1A (Stage Box device)")) << PageText(0);
  EXPECT_TRUE(PageHas(0, "   Serial Number: B-07-1234")) << PageText(0);
  EXPECT_TRUE(app_->Frame()->windowTitle().startsWith(QStringLiteral("Veltrano Upgrade - ")))
      << app_->Frame()->windowTitle().toStdString();
  EXPECT_TRUE(Command(veltr::kCmdEnterUpgradeMode)->isChecked());
  EXPECT_TRUE(Command(veltr::kCmdUploadFirmware)->isEnabled());
  EXPECT_TRUE(app_->Frame()->PackageFolderText().contains(QStringLiteral("package")));
  EXPECT_EQ(app_->PackageIniPath().toStdString(),
            (folder_ / "package" / "VeltrUpgrade.ini").string())
      << "beside the program there is none, so the package folder's";

  // For the record: the window as a technician sees it once connected.
  QApplication::processEvents();
  const QString shot = QString::fromStdString(kOutput + "/veltrupgrade-connected.png");
  EXPECT_TRUE(app_->Frame()->grab().save(shot)) << shot.toStdString();
}

TEST_F(FlowTest, SelectDeviceComesBeforeTheFirstSearchAndItsCancelStillSearches) {
  StoreSettings({Missing("tty1"), Missing("tty2"), Missing("tty3"), Missing("tty4")},
                veltr::kPortCom1, true, true);
  ModalAnswerer answers;
  std::string firstLineWhileSelecting = "not asked";
  answers.Then([&](QWidget* widget) {
    auto* select = qobject_cast<QDialog*>(widget);
    ASSERT_NE(select, nullptr);
    EXPECT_STREQ(widget->metaObject()->className(), "veltr::CVeltrSelectDlg");
    firstLineWhileSelecting = app_ != nullptr ? app_->Doc().GetLine(0, 0) : "";
    select->reject();
  });
  answers.Then([](QWidget* coldBoot) { qobject_cast<QDialog*>(coldBoot)->reject(); });
  StartApp();
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(answers.AllAnswered());
  EXPECT_EQ(firstLineWhileSelecting, "") << "no search while the dialog is open";
  EXPECT_EQ(app_->Doc().GetLine(0, 0), "Establishing connection");
  ASSERT_EQ(answers.ModalClasses().size(), 2u);
  EXPECT_EQ(answers.ModalClasses()[1], "veltr::CVeltrColdBootDlg");
}

TEST_F(FlowTest, FirmwareUpgradeEndsInTheSuccessDialogAndLeavesUpgradeMode) {
  const Bytes logic = ImageBytes(31146, 1);
  const Bytes processor = ImageBytes(10000, 2);
  WritePackageFile("pk1a1211.sop", logic);
  WritePackageFile("uk1a1211.bin", processor);
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--uploader", "110"});
  StoreSettings({tty, Missing("tty2"), Missing("tty3"), Missing("tty4")}, veltr::kPortCom1, true);
  ModalAnswerer answers;
  StartApp();
  ConnectAtStartUp();

  bool exitTicked = false;
  bool sawUploadPage = false;
  answers.ThenBox(QMessageBox::Yes);
  answers.Then([&](QWidget* widget) {
    auto* success = qobject_cast<veltr::CVeltrSuccessDlg*>(widget);
    ASSERT_NE(success, nullptr) << widget->metaObject()->className();
    exitTicked = success->ExitUpgradeModeBox()->isChecked();
    sawUploadPage = app_->Doc().GetShownPage() == 1;
    success->accept();
  });
  Command(veltr::kCmdUploadFirmware)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return answers.AllAnswered() && !app_->Engine().IsBusy(); }, 120s));
  EXPECT_EQ(answers.Unexpected(), 0);

  ASSERT_GE(answers.Boxes().size(), 1u);
  const auto& question = answers.Boxes()[0];
  EXPECT_EQ(question.caption, "Upgrade");
  EXPECT_EQ(question.text,
            "Ok to update Firmware of your system?\n\n"
            "WARNING: You cannot cancel the upload procedure!");
  EXPECT_EQ(question.icon, QMessageBox::Question);
  EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(exitTicked) << "a firmware upgrade offers to leave upgrade mode";
  EXPECT_TRUE(sawUploadPage);

  // The ticked box started the DeviceBoot job: the device has left program mode.
  const veltr::JobOutcome* boot = app_->Jobs().OutcomeOf(veltr::DeviceBoot);
  ASSERT_NE(boot, nullptr);
  EXPECT_TRUE(boot->Succeeded());
  EXPECT_FALSE(app_->Engine().IsConnected());
  EXPECT_FALSE(Command(veltr::kCmdEnterUpgradeMode)->isChecked());
  EXPECT_EQ(app_->Doc().GetShownPage(), 0u);
  EXPECT_FALSE(app_->Frame()->Progress()->isVisible());

  const auto device = Device();
  EXPECT_EQ(device.LogicBytes(logic.size()), logic);
  EXPECT_EQ(device.ProcessorBytes(processor.size()), processor);
}

TEST_F(FlowTest, FailedSearchOffersTheColdBootAndTheRetryFindsTheDevice) {
  // The device is dead until it is powered up, well after the first search gave up.
  const std::string tty =
      StartDevice({"--type", "KL1A", "--hw", "101", "--start", "dead", "--power-up-after", "5000"});
  StoreSettings({Missing("tty1"), Missing("tty2"), tty, Missing("tty4")}, veltr::kPortCom1, false);
  ModalAnswerer answers;
  QString coldBootMessage;
  QString preselected;
  answers.Then([&](QWidget* widget) {
    auto* coldBoot = qobject_cast<veltr::CVeltrColdBootDlg*>(widget);
    ASSERT_NE(coldBoot, nullptr) << widget->metaObject()->className();
    coldBootMessage = coldBoot->Message();
    preselected = coldBoot->PortBox()->currentText();
    ASSERT_TRUE(veltr::CVeltrComboSelector::SelectByData(coldBoot->PortBox(), veltr::kPortCom3));
    coldBoot->accept();
  });
  StartApp();
  ASSERT_TRUE(WaitIdle(60s));
  EXPECT_EQ(answers.Unexpected(), 0);
  EXPECT_EQ(coldBootMessage, QStringLiteral("Failed to find device at COM1 port."));
  EXPECT_EQ(preselected, QStringLiteral("COM1"));
  EXPECT_TRUE(app_->Engine().IsConnected()) << app_->Doc().GetLine(0, 3);
  EXPECT_EQ(app_->Settings().port, veltr::kPortCom3) << "the port picked is kept";
  EXPECT_TRUE(PageHas(0, "   Searching COM3 ... Connection established")) << PageText(0);
  // COM1 did not exist: the status bar says so in the system's words.
  EXPECT_TRUE(app_->Frame()->PortReason().isEmpty() ||
              app_->Frame()->PortReason().contains(QStringLiteral("COM1")));
}

TEST_F(FlowTest, DamagedImageIsRefusedWithTheFailureMessageAndNoPageSent) {
  WritePackageFile("pk1a1211.sop", ImageBytes(31145, 3));  // one byte short of a whole image
  WritePackageFile("uk1a1211.bin", ImageBytes(1000, 4));
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--uploader", "110"});
  StoreSettings({tty, Missing("tty2"), Missing("tty3"), Missing("tty4")}, veltr::kPortCom1, true);
  ModalAnswerer answers;
  StartApp();
  ConnectAtStartUp();

  answers.ThenBox(QMessageBox::Yes);
  answers.ThenBox(QMessageBox::Ok);
  Command(veltr::kCmdUploadFirmware)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return answers.AllAnswered() && !app_->Engine().IsBusy(); }, 60s));
  EXPECT_EQ(answers.Unexpected(), 0);
  ASSERT_EQ(answers.Boxes().size(), 2u);
  EXPECT_EQ(answers.Boxes()[1].text, "Firmware upgrade failed: damaged file.");
  EXPECT_EQ(answers.Boxes()[1].icon, QMessageBox::Critical);
  EXPECT_EQ(answers.Boxes()[1].caption, "Upgrade");
  EXPECT_TRUE(PageHas(1, "   Loading file ... Failed: damaged file")) << PageText(1);
  EXPECT_EQ(app_->Doc().GetShownPage(), 0u) << "back to the device page after the message";

  const auto device = Device();
  for (const auto& entry : device.writeLog) {
    EXPECT_NE(entry.kind, devsim::WriteKind::kLogicPage);
    EXPECT_NE(entry.kind, devsim::WriteKind::kProcessorPage);
    EXPECT_NE(entry.kind, devsim::WriteKind::kEepromWrite);
  }
}

}  // namespace
}  // namespace veltr_app_test
