#include "app/dlg_found_devices.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTest>
#include <functional>
#include <memory>

#include "dialog_helpers.h"

namespace veltr {
namespace {

constexpr DeviceType kPxrTp = 24;
constexpr DeviceType kVr2Tp = 30;

FoundDevice Device(DeviceType type, int32_t mode, int32_t status, const char* serial,
                   const char* address) {
  FoundDevice device;
  device.type = type;
  device.mode = mode;
  device.status = status;
  device.serialNumber = serial;
  device.address = address;
  return device;
}

// One of each status: a device that answered, one that did not, one the network cannot reach,
// and one whose status names nothing.
std::vector<FoundDevice> MixedList() {
  return {Device(kPxrTp, kModeUpgradeCode, 0, "A07-0625", "10.77.0.2"),
          Device(-1, -1, 1, "", "10.77.0.3"), Device(kVr2Tp, 0, 3, "B12-0042", "192.168.178.40"),
          Device(kVr2Tp, 0, 9, "B12-0043", "10.77.0.5")};
}

struct KindCase {
  const char* name;
  std::function<std::unique_ptr<CVeltrFoundDevicesDlg>(std::vector<FoundDevice>)> make;
  QStringList headings;
  std::string firstResult;  // what choosing the first row gives
};

class FoundDevicesTest : public testing::TestWithParam<KindCase> {
 protected:
  std::unique_ptr<CVeltrFoundDevicesDlg> Open(std::vector<FoundDevice> found = MixedList()) {
    auto dialog = GetParam().make(std::move(found));
    dialog->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    return dialog;
  }

  static QString Cell(const CVeltrFoundDevicesDlg& dialog, int row, const char* heading) {
    QTreeWidget* list = dialog.ListCtrl();
    for (int column = 0; column < list->columnCount(); ++column) {
      if (list->headerItem()->text(column) == QString::fromLatin1(heading)) {
        return list->topLevelItem(row)->text(column);
      }
    }
    ADD_FAILURE() << "no column " << heading;
    return {};
  }

  static void DoubleClickRow(CVeltrFoundDevicesDlg& dialog, int row) {
    QTreeWidget* list = dialog.ListCtrl();
    const QRect rect = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }
};

TEST_P(FoundDevicesTest, ColumnsAreThoseOfTheKind) {
  const auto dialog = Open();
  QTreeWidget* list = dialog->ListCtrl();
  QStringList headings;
  for (int column = 0; column < list->columnCount(); ++column) {
    headings << list->headerItem()->text(column);
  }
  EXPECT_EQ(headings, GetParam().headings);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Found devices"));
}

TEST_P(FoundDevicesTest, RowsShowWhatEachDeviceSaid) {
  const auto dialog = Open();
  ASSERT_EQ(dialog->ListCtrl()->topLevelItemCount(), 4);
  EXPECT_EQ(dialog->ListCtrl()->topLevelItem(3)->text(0), QStringLiteral("4"));
  EXPECT_EQ(Cell(*dialog, 0, "Type"), QStringLiteral("PXR(-TP)"));
  EXPECT_EQ(Cell(*dialog, 0, "Serial number"), QStringLiteral("A07-0625"));
  EXPECT_EQ(Cell(*dialog, 0, "Mode"), QStringLiteral("Upgrade"));
  EXPECT_EQ(Cell(*dialog, 0, "Status"), QStringLiteral("Ok"));
  // A silent device has nothing to show.
  EXPECT_EQ(Cell(*dialog, 1, "Type"), QStringLiteral("Unknown"));
  EXPECT_EQ(Cell(*dialog, 1, "Serial number"), QStringLiteral("Unknown"));
  EXPECT_EQ(Cell(*dialog, 1, "Mode"), QStringLiteral("Unknown"));
  EXPECT_EQ(Cell(*dialog, 1, "Status"), QStringLiteral("Not responding"));
  // An unreachable one answered the broadcast, so what it said is shown.
  EXPECT_EQ(Cell(*dialog, 2, "Type"), QStringLiteral("VR2-TP"));
  EXPECT_EQ(Cell(*dialog, 2, "Serial number"), QStringLiteral("B12-0042"));
  EXPECT_EQ(Cell(*dialog, 2, "Mode"), QStringLiteral("Veltrano"));
  EXPECT_EQ(Cell(*dialog, 2, "Status"), QStringLiteral("Not reachable"));
  EXPECT_EQ(Cell(*dialog, 3, "Type"), QStringLiteral("Unknown"));
  EXPECT_EQ(Cell(*dialog, 3, "Status"), QStringLiteral("Undefined"));
}

TEST_P(FoundDevicesTest, FirstRowIsMarkedOnOpening) {
  const auto dialog = Open();
  QTreeWidget* list = dialog->ListCtrl();
  EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
  EXPECT_TRUE(list->topLevelItem(0)->isSelected());
}

TEST_P(FoundDevicesTest, OkChoosesADeviceThatAnswered) {
  const auto dialog = Open();
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->Result(), GetParam().firstResult);
  ASSERT_TRUE(dialog->Chosen().has_value());
  EXPECT_EQ(dialog->Chosen()->serialNumber, "A07-0625");
}

TEST_P(FoundDevicesTest, OkOnAnyOtherRowIsRefusedAndTheDialogStaysOpen) {
  for (int row = 1; row < 4; ++row) {
    SCOPED_TRACE(row);
    const auto dialog = Open();
    dialog->ListCtrl()->setCurrentItem(dialog->ListCtrl()->topLevelItem(row));
    test::MessageBoxAnswerer answerer;
    dialog->accept();
    EXPECT_EQ(answerer.Seen(), 1);
    EXPECT_EQ(answerer.Text(), QStringLiteral("Device is not available"));
    EXPECT_EQ(answerer.Caption(), QStringLiteral("Upgrade"));
    EXPECT_EQ(answerer.Icon(), QMessageBox::Warning);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->Result().empty());
    EXPECT_FALSE(dialog->Chosen().has_value());
  }
}

TEST_P(FoundDevicesTest, DoubleClickOnARowThatAnsweredChoosesIt) {
  auto found = MixedList();
  std::swap(found[0], found[1]);
  const auto dialog = Open(found);
  DoubleClickRow(*dialog, 1);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->Result(), GetParam().firstResult);
}

TEST_P(FoundDevicesTest, DoubleClickOnASilentRowIsRefused) {
  const auto dialog = Open();
  test::MessageBoxAnswerer answerer;
  DoubleClickRow(*dialog, 1);
  EXPECT_EQ(answerer.Seen(), 1);
  EXPECT_TRUE(dialog->isVisible());
}

TEST_P(FoundDevicesTest, DoubleClickBelowTheRowsChoosesNothing) {
  const auto dialog = Open();
  QWidget* viewport = dialog->ListCtrl()->viewport();
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(5, viewport->height() - 3));
  EXPECT_TRUE(dialog->isVisible());
}

TEST_P(FoundDevicesTest, OkWithoutAMarkedRowClosesWithoutAResult) {
  const auto dialog = Open({});
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(dialog->Result().empty());
  EXPECT_FALSE(dialog->Chosen().has_value());
}

TEST_P(FoundDevicesTest, CancelChoosesNothing) {
  const auto dialog = Open();
  dialog->reject();
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_FALSE(dialog->Chosen().has_value());
}

INSTANTIATE_TEST_SUITE_P(
    BothPorts, FoundDevicesTest,
    testing::Values(KindCase{"Usb",
                             [](std::vector<FoundDevice> found) {
                               return std::unique_ptr<CVeltrFoundDevicesDlg>(
                                   new CVeltrSeveralDevicesDlg(std::move(found)));
                             },
                             {"", "Type", "Serial number", "Mode", "Status"},
                             "A07-0625"},
                    KindCase{"Ethernet",
                             [](std::vector<FoundDevice> found) {
                               return std::unique_ptr<CVeltrFoundDevicesDlg>(
                                   new CVeltrSeveralDevicesEthernetDlg(std::move(found)));
                             },
                             {"", "Type", "Serial number", "IP address", "Mode", "Status"},
                             "10.77.0.2"}),
    [](const testing::TestParamInfo<KindCase>& info) { return info.param.name; });

TEST(FoundDevicesEthernetTest, EveryRowShowsItsAddress) {
  CVeltrSeveralDevicesEthernetDlg dialog(MixedList());
  QTreeWidget* list = dialog.ListCtrl();
  EXPECT_EQ(list->topLevelItem(1)->text(3), QStringLiteral("10.77.0.3"));
  EXPECT_EQ(list->topLevelItem(2)->text(3), QStringLiteral("192.168.178.40"));
}

TEST(FoundDevicesEthernetTest, ColumnsAreWideEnoughForTheirSampleTexts) {
  CVeltrSeveralDevicesEthernetDlg dialog(MixedList());
  QTreeWidget* list = dialog.ListCtrl();
  const QFontMetrics metrics(list->font());
  EXPECT_GE(list->columnWidth(3), metrics.horizontalAdvance(QStringLiteral("888.888.888.888")));
  EXPECT_GE(list->columnWidth(5), metrics.horizontalAdvance(QStringLiteral("Not responding")));
}

}  // namespace
}  // namespace veltr
