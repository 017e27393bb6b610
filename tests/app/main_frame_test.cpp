// The main window without a device: its menu, tool bar and status bar, the command rules while a
// job runs, the close and session guards, and the document's notices reaching the window.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "app/main_frame.h"
#include "app/signal_guard.h"
#include "app/toolbar_images.h"
#include "gui_helpers.h"
#include "window_rig.h"

namespace veltr_app_test {
namespace {

using namespace std::chrono_literals;
using veltr::CMainFrame;

std::vector<std::string> MenuLines(const QMenuBar* bar) {
  std::vector<std::string> lines;
  for (QAction* top : bar->actions()) {
    lines.push_back(top->text().toStdString());
    for (QAction* item : top->menu()->actions()) {
      if (item->isSeparator()) {
        lines.push_back("  ---");
        continue;
      }
      std::string line = "  " + item->text().toStdString();
      if (!item->shortcut().isEmpty()) {
        line += "\t" + item->shortcut().toString().toStdString();
      }
      lines.push_back(line);
    }
  }
  return lines;
}

class FrameTest : public WindowRig {};

TEST_F(FrameTest, MenuHasTheCaptionsAcceleratorsAndOrderOfTheCommandTable) {
  const std::vector<std::string> expected = {
      "&File",
      "  &Preferences...",
      "  ---",
      "  E&xit",
      "&View",
      "  &Toolbar",
      "  &Status Bar",
      "&Upgrade",
      "  Enter &Upgrade Mode\tF2",
      "  ---",
      "  &Erase All Settings\tF3",
      "  Upload &Firmware\tF4",
      "  Upload User &Text...\tF5",
      "&Help",
      "  &Help Topics\tF1",
      "  ---",
      "  &About Veltrano Upgrade...",
  };
  EXPECT_EQ(MenuLines(frame_->menuBar()), expected);
}

TEST_F(FrameTest, ToolBarHoldsTheButtonsInOrderWithSharpImagesAtEveryDensity) {
  std::vector<int> order;
  for (QAction* action : frame_->ToolBar()->actions()) {
    order.push_back(action->isSeparator() ? 0 : action->data().toInt());
  }
  EXPECT_EQ(order, (std::vector<int>{veltr::kCmdEnterUpgradeMode, 0, veltr::kCmdEraseSettings,
                                     veltr::kCmdUploadFirmware, veltr::kCmdUploadUserText, 0,
                                     veltr::kCmdPreferences}));
  EXPECT_EQ(frame_->ToolBar()->iconSize(), QSize(16, 15));
  EXPECT_EQ(frame_->ToolBar()->windowTitle(), QStringLiteral("Upgrade"));
  for (int command :
       {veltr::kCmdEnterUpgradeMode, veltr::kCmdEraseSettings, veltr::kCmdUploadFirmware,
        veltr::kCmdUploadUserText, veltr::kCmdPreferences}) {
    const QIcon icon = frame_->Action(command)->icon();
    // A copy drawn for each density, not one image scaled up.
    EXPECT_EQ(icon.pixmap(QSize(16, 15), 1.0).size(), QSize(16, 15)) << command;
    EXPECT_EQ(icon.pixmap(QSize(16, 15), 2.0).size(), QSize(32, 30)) << command;
    EXPECT_FALSE(icon.pixmap(QSize(16, 15), 2.0).toImage().isGrayscale()) << command;
  }
}

struct PromptCase {
  const char* name;
  int command;
  const char* statusText;
  const char* toolTip;
};

void PrintTo(const PromptCase& c, std::ostream* os) {
  *os << c.name;
}

class PromptTest : public WindowRig, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(PromptTest, StatusBarTextAndToolTip) {
  const QAction* action = frame_->Action(GetParam().command);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(action->statusTip().toStdString(), GetParam().statusText);
  EXPECT_EQ(action->toolTip().toStdString(), GetParam().toolTip);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PromptTest,
    ::testing::Values(PromptCase{"Preferences", veltr::kCmdPreferences,
                                 "Set application preferences", "Preferences"},
                      PromptCase{"EraseSettings", veltr::kCmdEraseSettings,
                                 "Erase all device settings", "Erase settings"},
                      PromptCase{"UploadFirmware", veltr::kCmdUploadFirmware,
                                 "Upload firmware to device", "Upload firmware"},
                      PromptCase{"UploadUserText", veltr::kCmdUploadUserText,
                                 "Upload user text to device", "Upload user text"},
                      PromptCase{"EnterUpgradeMode", veltr::kCmdEnterUpgradeMode,
                                 "Connect to device and enter upgrade mode", "Enter upgrade mode"}),
    [](const auto& info) { return std::string(info.param.name); });

struct EnablingCase {
  const char* name;
  bool busy;
  bool connected;
  bool enterEnabled;
  bool enterChecked;
  bool deviceCommandsEnabled;  // erase, firmware, user text
  bool exitEnabled;
};

void PrintTo(const EnablingCase& c, std::ostream* os) {
  *os << c.name;
}

class EnablingTest : public WindowRig, public ::testing::WithParamInterface<EnablingCase> {};

TEST_P(EnablingTest, CommandsFollowTheBusyAndConnectedState) {
  const auto& c = GetParam();
  if (c.busy) {
    StartHeldJob(c.connected);
  } else {
    engine_.SetConnected(c.connected);
    frame_->UpdateCommands();
  }
  EXPECT_EQ(frame_->Action(veltr::kCmdEnterUpgradeMode)->isEnabled(), c.enterEnabled);
  EXPECT_EQ(frame_->Action(veltr::kCmdEnterUpgradeMode)->isChecked(), c.enterChecked);
  for (int command :
       {veltr::kCmdEraseSettings, veltr::kCmdUploadFirmware, veltr::kCmdUploadUserText}) {
    EXPECT_EQ(frame_->Action(command)->isEnabled(), c.deviceCommandsEnabled) << command;
  }
  EXPECT_EQ(frame_->Action(veltr::kCmdExit)->isEnabled(), c.exitEnabled);
  EXPECT_TRUE(frame_->Action(veltr::kCmdPreferences)->isEnabled());
  EXPECT_TRUE(frame_->Action(veltr::kCmdAbout)->isEnabled());
  if (c.busy) {
    // A command that reaches the handler anyway (a queued key press) starts nothing.
    frame_->Action(veltr::kCmdEnterUpgradeMode)->trigger();
    EXPECT_FALSE(jobs_.Started());
    ReleaseJob();
    EXPECT_TRUE(frame_->Action(veltr::kCmdEnterUpgradeMode)->isEnabled());
    EXPECT_TRUE(frame_->Action(veltr::kCmdExit)->isEnabled());
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, EnablingTest,
    ::testing::Values(EnablingCase{"IdleNotConnected", false, false, true, false, false, true},
                      EnablingCase{"IdleConnected", false, true, true, true, true, true},
                      EnablingCase{"JobRunsConnected", true, true, false, true, false, false},
                      EnablingCase{"JobRunsNotConnected", true, false, false, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameTest, ClosingWhileAJobRunsIsRefusedWithTheWaitMessageAndTheJobGoesOn) {
  StartHeldJob(true);
  ModalAnswerer answers;
  answers.ThenBox(QMessageBox::Ok);
  EXPECT_FALSE(frame_->close());
  EXPECT_TRUE(frame_->isVisible());
  EXPECT_TRUE(engine_.IsBusy());
  ASSERT_EQ(answers.Boxes().size(), 1u);
  EXPECT_EQ(answers.Boxes()[0].caption, "Upgrade");
  EXPECT_EQ(answers.Boxes()[0].text, "Please, wait for upload completion.");
  EXPECT_EQ(answers.Boxes()[0].icon, QMessageBox::Warning);
  EXPECT_EQ(answers.Boxes()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

  ReleaseJob();
  EXPECT_TRUE(frame_->close());
  EXPECT_EQ(answers.Boxes().size(), 1u) << "no message once the job has ended";
}

TEST_F(FrameTest, SessionEndWhileAJobRunsIsRefusedUnlessTheJobEndedMeanwhile) {
  EXPECT_TRUE(frame_->AllowSessionEnd()) << "idle: the session may end at once";

  StartHeldJob(true);
  {
    ModalAnswerer answers;
    answers.ThenBox(QMessageBox::Ok);
    EXPECT_FALSE(frame_->AllowSessionEnd());
    ASSERT_EQ(answers.Boxes().size(), 1u);
    EXPECT_EQ(answers.Boxes()[0].text, "Please, wait for upload completion before PC shutdown.");
    EXPECT_EQ(answers.Boxes()[0].icon, QMessageBox::Warning);
  }
  {
    // The job ends while the message is open: the answer is the normal one.
    ModalAnswerer answers;
    answers.Then([this](QWidget* box) {
      ReleaseJob();
      qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    EXPECT_TRUE(frame_->AllowSessionEnd());
  }
}

TEST_F(FrameTest, TerminationSignalDuringAJobClosesTheWindowOnlyAfterTheJob) {
  veltr::CVeltrSignalGuard guard;
  ASSERT_TRUE(guard.Installed());
  QObject::connect(&guard, &veltr::CVeltrSignalGuard::QuitRequested, frame_.get(),
                   [this](int) { frame_->RequestQuit(); });
  StartHeldJob(true);
  ModalAnswerer answers;
  raise(SIGTERM);
  ASSERT_TRUE(WaitUntil([this] { return frame_->QuitPending(); }, 5s));
  EXPECT_TRUE(frame_->isVisible());
  EXPECT_TRUE(engine_.IsBusy()) << "the job goes on";
  EXPECT_EQ(answers.Unexpected(), 0) << "no box: nobody may be at the screen";
  ReleaseJob();
  EXPECT_TRUE(WaitUntil([this] { return !frame_->isVisible(); }, 5s));
}

TEST_F(FrameTest, QuitWhileTheJobEndWaitsOnADialogCancelsItAndCloses) {
  // No port opens: the failed search leads into the cold boot dialog, which nobody answers.
  ModalAnswerer answers;
  answers.Then([this](QWidget*) { frame_->RequestQuit(); });
  frame_->Action(veltr::kCmdEnterUpgradeMode)->trigger();
  ASSERT_TRUE(WaitUntil([this] { return !frame_->isVisible(); }, 20s));
  EXPECT_FALSE(engine_.IsBusy());
  ASSERT_EQ(answers.ModalClasses().size(), 1u);
  EXPECT_EQ(answers.ModalClasses()[0], "veltr::CVeltrColdBootDlg");
}

TEST_F(FrameTest, CaptionIsTheFrameTitleAndTheDeviceName) {
  EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Veltrano Upgrade"));
  doc_.SetTitle("MT10E (Input Output device)");
  Settle();
  EXPECT_EQ(frame_->windowTitle(),
            QStringLiteral("Veltrano Upgrade - MT10E (Input Output device)"));
  doc_.SetTitle("");
  Settle();
  EXPECT_EQ(frame_->windowTitle(), QStringLiteral("Veltrano Upgrade"));
}

TEST_F(FrameTest, EveryLineOfAJobReachesTheWindowBeforeItsEndHandlerRuns) {
  int updates = 0;
  int updatesAtEnd = -1;
  QObject::connect(&doc_, &veltr::CVeltrDoc::DisplayUpdated, [&] { ++updates; });
  QObject::connect(&doc_, &veltr::CVeltrDoc::JobFinished, [&] { updatesAtEnd = updates; });
  ASSERT_TRUE(engine_.StartJob(
      [](veltr::UpgradeEngine& engine) {
        for (uint32_t i = 0; i < 200; ++i) {
          engine.Display()->SetLine(0, i % 15, "line " + std::to_string(i));
        }
      },
      veltr::JobRequest{}));
  ASSERT_TRUE(WaitUntil([this] { return !engine_.IsBusy(); }, 10s));
  EXPECT_EQ(updatesAtEnd, 200);
  EXPECT_EQ(doc_.GetLine(0, 199 % 15), "line 199");
}

TEST_F(FrameTest, ProgressBarFollowsTheBlockLinesAndGoesWhenTheStepEnds) {
  veltr::UploadProgress progress;
  progress.step = veltr::UploadStep::Processor;
  progress.block = 3;
  progress.blocks = 40;
  doc_.SetProgressLine(1, 4, "   Uploading 3 block of 40 ...", progress);
  Settle();
  ASSERT_TRUE(frame_->Progress()->isVisible());
  EXPECT_EQ(frame_->Progress()->value(), 3);
  EXPECT_EQ(frame_->Progress()->maximum(), 40);
  EXPECT_EQ(frame_->Progress()->text(), QStringLiteral("Processor and HI 3/40"));
  // The view's line stays as the procedure wrote it.
  EXPECT_EQ(doc_.GetLine(1, 4), "   Uploading 3 block of 40 ...");
  doc_.AppendLine(1, 4, " Done");
  Settle();
  EXPECT_FALSE(frame_->Progress()->isVisible());
}

TEST_F(FrameTest, FailedPortsShowTheSystemsReasonInTheStatusBar) {
  settings_.autoselect = 0;
  settings_.port = veltr::kPortCom2;
  ModalAnswerer answers;
  answers.Then([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
  frame_->Action(veltr::kCmdEnterUpgradeMode)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return !engine_.IsBusy(); }, 20s));
  EXPECT_TRUE(frame_->PortReason().contains(QStringLiteral("COM2")));
  EXPECT_TRUE(frame_->PortReason().contains(QStringLiteral("/nonexistent/veltr-app-test-tty1")))
      << frame_->PortReason().toStdString();
}

TEST_F(FrameTest, BarStateIsSavedAndRestored) {
  frame_->ToolBar()->hide();
  frame_->statusBar()->hide();
  frame_->SaveBarState();
  CMainFrame again(engine_, jobs_, doc_);
  again.RestoreBarState();
  EXPECT_TRUE(again.ToolBar()->isHidden());
  EXPECT_TRUE(again.statusBar()->isHidden());
  QSettings().remove(QStringLiteral("BarState"));
}

}  // namespace
}  // namespace veltr_app_test
