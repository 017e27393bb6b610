// The window over the updater on the offscreen platform: its controls, the real message boxes and
// input boxes with their exact texts, buttons, icons and defaults, the controls switched off for
// the whole of a job, the window that will not close under a search, and a picture of it.
#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "serialupdater/frm_main.h"
#include "updater_rig.h"

namespace su_test {
namespace {

// Runs `act` on the next modal dialog once it is up, from inside its own event loop.
void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start();
}

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Notes what the box shows and presses `press`.
void AnswerBox(SeenBox& seen, QMessageBox::StandardButton press) {
  WhenModal([&seen, press](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr) << modal->metaObject()->className();
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.defaultButton = box->standardButton(box->defaultButton());
    box->button(press)->click();
  });
}

class WindowTest : public UpdaterRig {
 protected:
  void MakeWindowUpdater(int baud, const std::string& com1, const std::string& com2) {
    su::PortPaths paths{com1, com2};
    windowUpdater = std::make_unique<su::Updater>(form, baud, paths);
    windowUpdater->SetFolder(folder.path());
    form.SetUpdater(windowUpdater.get());
    form.FormLoad();
    form.show();
  }
  void TearDown() override {
    windowUpdater.reset();
    UpdaterRig::TearDown();
  }

  frmMain form;
  std::unique_ptr<su::Updater> windowUpdater;
};

TEST_F(WindowTest, MenusButtonsAndThirteenLines) {
  MakeWindowUpdater(57600, MissingPort(), MissingPort());
  QStringList menus;
  for (QAction* action : form.menuBar()->actions()) {
    menus << action->text();
  }
  EXPECT_EQ(menus, (QStringList{"File", "Upload", "Help"}));
  QStringList items;
  for (QAction* action : form.mnuupload->actions()) {
    items << action->text();
  }
  EXPECT_EQ(items, (QStringList{"Erase all Settings", "Upload Firmware", "Upload User Text"}));
  EXPECT_EQ(form.mnuFileExit->text(), "Exit");
  EXPECT_EQ(form.mnuHelpAbout->text(), "About");
  EXPECT_EQ(form.EraseSettings->text(), "Erase all Settings");
  EXPECT_EQ(form.UploadFirmware->text(), "Upload Firmware");
  EXPECT_EQ(form.UploadText->text(), "Upload User Text");
  for (QLabel* label : form.Label) {
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().isEmpty());
  }
  // 7000 by 6000 twips.
  EXPECT_EQ(form.size(), QSize(467, 400));
}

TEST_F(WindowTest, AboutBoxNamesTheVersion) {
  MakeWindowUpdater(57600, MissingPort(), MissingPort());
  SeenBox seen;
  AnswerBox(seen, QMessageBox::Ok);
  form.mnuHelpAbout->trigger();
  EXPECT_EQ(seen.title, "About");
  EXPECT_TRUE(seen.text.startsWith("Version 1.25.1\n")) << seen.text.toStdString();
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST_F(WindowTest, ColdBootQuestionAndAWindowThatWaitsForTheSearch) {
  MakeWindowUpdater(57600, SilentPort(), MissingPort());
  bool visibleAfterClose = false;
  QTimer::singleShot(300, [this, &visibleAfterClose] {
    form.close();
    visibleAfterClose = form.isVisible();
  });
  SeenBox seen;
  AnswerBox(seen, QMessageBox::Cancel);
  windowUpdater->Main();

  EXPECT_TRUE(visibleAfterClose) << "a search must not be cut off";
  EXPECT_EQ(seen.title, "AutoSelect");
  EXPECT_EQ(seen.text,
            "No Device found at COM1 or COM2!\n"
            "If you click <Yes>, the program tries to ColdBoot from COM1.\n"
            "If you click  <No>, the program tries to ColdBoot from COM2.\n"
            "Hit <Cancel> if you want to quit.");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(seen.defaultButton, QMessageBox::Cancel);
  EXPECT_FALSE(form.isVisible()) << "Cancel ends the program";
}

TEST_F(WindowTest, ConnectedDeviceUserTextJobAndPicture) {
  devsim::IdentityChanges identity;
  identity.serialNumber = "B-07-1234";
  identity.text1 = "Stage left";
  identity.text2 = "Rack 2";
  identity.logicVersion = 212;
  identity.processorVersion = 212;
  const std::string com1 = StartDevice(Device("MT10", identity));
  MakeWindowUpdater(57600, com1, MissingPort());
  windowUpdater->Main();
  ASSERT_TRUE(windowUpdater->PortOpen());
  EXPECT_EQ(form.windowTitle(), "Update: MT10");
  for (int i = 1; i <= 13; ++i) {
    EXPECT_EQ(form.Label[static_cast<std::size_t>(i - 1)]->text().toStdString(),
              windowUpdater->Line(i));
  }
  EXPECT_TRUE(form.UploadFirmware->isEnabled());
  EXPECT_TRUE(form.mnuupload->menuAction()->isEnabled());
  QApplication::processEvents();
  EXPECT_TRUE(form.grab().save(SU_SCREENSHOT_PATH)) << SU_SCREENSHOT_PATH;

  QString title;
  QString label;
  QString preset;
  WhenModal([&](QWidget* modal) {
    auto* input = qobject_cast<QInputDialog*>(modal);
    ASSERT_NE(input, nullptr);
    title = input->windowTitle();
    label = input->labelText();
    preset = input->textValue();
    input->setTextValue(QString::fromUtf8("Bühne links – Ω"));  // Ω is not Latin-1
    input->accept();
    WhenModal([](QWidget* second) {
      auto* input2 = qobject_cast<QInputDialog*>(second);
      ASSERT_NE(input2, nullptr);
      input2->accept();  // keeps its preset
      WhenModal([](QWidget* third) {
        auto* box = qobject_cast<QMessageBox*>(third);
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Ok)->click();
      });
    });
  });
  form.UploadText->click();
  EXPECT_EQ(title, "Enter User Text");
  EXPECT_EQ(label,
            "Please Enter User Text 1 (max. 30 Chars): \n\n"
            "If you want to upload a blank text line,\n"
            "please enter at least one space.");
  EXPECT_EQ(preset, "Stage left" + QString(20, ' '));
  const auto eeprom = Sim().Snapshot().eeprom;
  const std::string text1(eeprom.begin() + 64, eeprom.begin() + 94);
  EXPECT_EQ(text1, std::string("B\xFC"
                               "hne links ? ?") +
                       std::string(15, ' '));
  EXPECT_TRUE(form.UploadFirmware->isEnabled());
}

TEST_F(WindowTest, ControlsStayOffWhileAJobRuns) {
  const std::string com1 = StartDevice(Device("MT10"));
  MakeWindowUpdater(57600, com1, MissingPort());
  windowUpdater->Main();
  ASSERT_TRUE(windowUpdater->PortOpen());
  bool offAtResult = false;
  bool closedMidJob = true;
  SeenBox confirm;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    confirm.title = box->windowTitle();
    confirm.defaultButton = box->standardButton(box->defaultButton());
    box->button(QMessageBox::Ok)->click();
    WhenModal([&](QWidget* result) {
      offAtResult = !form.EraseSettings->isEnabled() && !form.UploadFirmware->isEnabled() &&
                    !form.UploadText->isEnabled() && !form.mnuFile->menuAction()->isEnabled() &&
                    !form.mnuupload->menuAction()->isEnabled() &&
                    !form.mnuHelp->menuAction()->isEnabled();
      form.close();
      closedMidJob = !form.isVisible();
      qobject_cast<QMessageBox*>(result)->button(QMessageBox::Ok)->click();
    });
  });
  form.EraseSettings->click();
  EXPECT_EQ(confirm.title, "Erase Settings");
  EXPECT_EQ(confirm.defaultButton, QMessageBox::Cancel);
  EXPECT_TRUE(offAtResult);
  EXPECT_FALSE(closedMidJob);
  EXPECT_TRUE(form.EraseSettings->isEnabled());
  EXPECT_TRUE(form.mnuupload->menuAction()->isEnabled());
}

}  // namespace
}  // namespace su_test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
