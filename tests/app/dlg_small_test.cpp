#include "app/dlg_small.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "dialog_helpers.h"

namespace veltr {
namespace {

struct ColdBootCase {
  const char* name;
  PortId searched;
  bool searchedAll;
  const char* message;
  const char* selected;
};

class ColdBootTest : public testing::TestWithParam<ColdBootCase> {};

TEST_P(ColdBootTest, MessageLineAndPortFollowTheSearch) {
  const ColdBootCase& c = GetParam();
  CVeltrColdBootDlg dialog(c.searched, c.searchedAll);
  EXPECT_EQ(dialog.Message(), QString::fromLatin1(c.message));
  EXPECT_EQ(dialog.PortBox()->currentText(), QString::fromLatin1(c.selected));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Cold boot"));
}

INSTANTIATE_TEST_SUITE_P(
    Searches, ColdBootTest,
    testing::Values(ColdBootCase{"AllPorts", kPortCom2, true,
                                 "Failed to find device at ports COM1 - COM4.", "COM2"},
                    ColdBootCase{"OneComPort", kPortCom3, false,
                                 "Failed to find device at COM3 port.", "COM3"},
                    ColdBootCase{"UsbStartsOnCom1", kPortUsb, false,
                                 "Failed to find device at USB port.", "COM1"},
                    ColdBootCase{"EthernetSearchedAllStartsOnCom1", kPortEthernet, true,
                                 "Failed to find device at ports COM1 - COM4.", "COM1"},
                    ColdBootCase{"PortThatNamesNothing", static_cast<PortId>(7), false,
                                 "Failed to find device at Undefined port.", "COM1"}),
    [](const testing::TestParamInfo<ColdBootCase>& info) { return info.param.name; });

TEST(ColdBootDialogTest, OffersOnlyTheComPortsAndGivesBackTheOneChosen) {
  CVeltrColdBootDlg dialog(kPortCom1, true);
  ASSERT_EQ(dialog.PortBox()->count(), 4);
  EXPECT_EQ(dialog.PortBox()->itemText(3), QStringLiteral("COM4"));
  dialog.PortBox()->setCurrentIndex(dialog.PortBox()->findData(kPortCom4));
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Port(), kPortCom4);
}

class UserTextDialogTest : public testing::Test {
 protected:
  std::unique_ptr<CVeltrUserTextDlg> Open(const std::string& first, const std::string& second) {
    auto dialog = std::make_unique<CVeltrUserTextDlg>(std::array<std::string, 2>{first, second});
    dialog->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    return dialog;
  }
};

TEST_F(UserTextDialogTest, OpensWithTheDevicesTexts) {
  const auto dialog = Open("Stage left", "Rack 2 \xC2\xB7 FOH");
  EXPECT_EQ(dialog->Edit(0)->text(), QStringLiteral("Stage left"));
  EXPECT_EQ(dialog->Edit(1)->text(), QString::fromUtf8("Rack 2 \xC2\xB7 FOH"));
}

TEST_F(UserTextDialogTest, TypingStopsAtThirtyCharacters) {
  const auto dialog = Open("", "");
  dialog->Edit(0)->setFocus();
  QTest::keyClicks(dialog->Edit(0), QStringLiteral("0123456789abcdefghijABCDEFGHIJX"));
  EXPECT_EQ(dialog->Edit(0)->text(), QStringLiteral("0123456789abcdefghijABCDEFGHIJ"));
  test::MessageBoxAnswerer answerer;
  dialog->accept();
  EXPECT_EQ(answerer.Seen(), 0);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->UserText()[0], "0123456789abcdefghijABCDEFGHIJ");
}

TEST_F(UserTextDialogTest, EmptyLinesAreAcceptedAsEmptyTexts) {
  const auto dialog = Open("old one", "old two");
  dialog->Edit(0)->clear();
  dialog->Edit(1)->clear();
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->UserText()[0], "");
  EXPECT_EQ(dialog->UserText()[1], "");
}

TEST_F(UserTextDialogTest, TextsGoOutInTheDevicesCodePage) {
  const auto dialog = Open("", "");
  dialog->Edit(0)->setText(
      QString::fromUtf8("Gr\xC3\xB6\xC3\x9F"
                        "e \xE2\x82\xAC"));
  dialog->accept();
  EXPECT_EQ(dialog->UserText()[0],
            "Gr\xF6\xDF"
            "e \x80");
  EXPECT_EQ(dialog->EditText()[0],
            "Gr\xC3\xB6\xC3\x9F"
            "e \xE2\x82\xAC");
}

TEST_F(UserTextDialogTest, TextTheDeviceCannotKeepIsRefusedAndTheDialogStaysOpen) {
  const auto dialog = Open("", "");
  // y with diaeresis is byte FF in the code page: the device would read it as the text's end.
  dialog->Edit(1)->setText(QString::fromUtf8("Caf\xC3\xA9 \xC3\xBF"));
  test::MessageBoxAnswerer answerer;
  dialog->accept();
  EXPECT_EQ(answerer.Seen(), 1);
  EXPECT_TRUE(answerer.Text().startsWith(QStringLiteral("User text 2")))
      << answerer.Text().toStdString();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->UserText()[1].empty());
}

TEST(SuccessDialogTest, GivesBackTheBoxAsLeft) {
  for (const bool ticked : {true, false}) {
    SCOPED_TRACE(ticked);
    CVeltrSuccessDlg dialog(QStringLiteral("Firmware upgrade succeeded."), ticked);
    EXPECT_EQ(dialog.ExitUpgradeModeBox()->isChecked(), ticked);
    dialog.ExitUpgradeModeBox()->click();
    dialog.accept();
    EXPECT_EQ(dialog.ExitUpgradeMode(), !ticked);
  }
}

}  // namespace
}  // namespace veltr
