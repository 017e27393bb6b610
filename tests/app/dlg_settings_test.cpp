#include "app/dlg_settings.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <functional>
#include <memory>

#include "protocol/device_types.h"

namespace veltr {
namespace {

constexpr DeviceType kMt10 = 5;
constexpr DeviceType kHs1 = 19;
constexpr DeviceType kMt10rFx = 27;
constexpr DeviceType kMt20rFx = 28;
constexpr DeviceType kVr8rFx = 31;
constexpr DeviceType kPl1Tp = 32;

// A package that covers every type but MT10R-FX and VR8R-FX: the USB list then starts with
// MT20R-FX, and a type the record names may be missing from every list.
PackageVersionTable PackageWithGaps() {
  PackageVersionTable table;
  table.present.fill(1);
  table.present[kMt10rFx] = 0;
  table.present[kVr8rFx] = 0;
  return table;
}
constexpr int kAllTypesListed = kDeviceTypeCount - 2;
constexpr int kUsbTypesListed = 7;       // 23 to 31 without the two gaps
constexpr int kEthernetTypesListed = 8;  // and PL1-TP

using DialogFactory =
    std::function<std::unique_ptr<CVeltrSettingsDlg>(AppSettings&, const PackageVersionTable&)>;

struct DialogCase {
  const char* name;
  DialogFactory make;
};

class SettingsDialogTest : public testing::TestWithParam<DialogCase> {
 protected:
  SettingsDialogTest() {
    record_.deviceType = kMt10;
    record_.port = kPortCom1;
    record_.autoselect = 0;
    record_.selectDialog = 1;
  }

  std::unique_ptr<CVeltrSettingsDlg> Open() { return GetParam().make(record_, package_); }

  static void ChoosePort(CVeltrSettingsDlg& dialog, PortId port) {
    ASSERT_TRUE(CVeltrComboSelector::SelectByData(dialog.PortBox(), port));
  }
  static int32_t ShownType(const CVeltrSettingsDlg& dialog) {
    return CVeltrComboSelector::SelectedData(dialog.DeviceTypeBox());
  }

  PackageVersionTable package_ = PackageWithGaps();
  AppSettings record_;
};

TEST_P(SettingsDialogTest, OpensWithTheRecordsChoicesSelectedByNumber) {
  record_.deviceType = kHs1;
  record_.port = kPortCom3;
  record_.selectDialog = 0;
  const auto dialog = Open();
  EXPECT_EQ(dialog->DeviceTypeBox()->currentText(), QStringLiteral("HS1"));
  EXPECT_EQ(ShownType(*dialog), kHs1);
  EXPECT_EQ(dialog->PortBox()->currentText(), QStringLiteral("COM3"));
  EXPECT_EQ(dialog->ListKind(), DeviceListKind::All);
  EXPECT_FALSE(dialog->StartupBox()->isChecked());
  // Sorted by name, each entry carrying its own number: position and number differ.
  QComboBox* types = dialog->DeviceTypeBox();
  ASSERT_EQ(types->count(), kAllTypesListed);
  for (int i = 0; i < types->count(); ++i) {
    const int32_t type = types->itemData(i).toInt();
    EXPECT_EQ(types->itemText(i), QString::fromUtf8(GetShortName(type)));
    if (i > 0) {
      EXPECT_LE(QString::compare(types->itemText(i - 1), types->itemText(i), Qt::CaseInsensitive),
                0);
    }
  }
  EXPECT_NE(types->currentIndex(), kHs1);
}

TEST_P(SettingsDialogTest, PortsAreListedInTheirOwnOrder) {
  const auto dialog = Open();
  QStringList names;
  for (int i = 0; i < dialog->PortBox()->count(); ++i) {
    names << dialog->PortBox()->itemText(i);
  }
  EXPECT_EQ(names.join(QLatin1Char(',')), QStringLiteral("COM1,COM2,COM3,COM4,USB,Ethernet"));
  EXPECT_EQ(dialog->PortBox()->itemData(4).toInt(), kPortUsb);
  EXPECT_EQ(dialog->PortBox()->itemData(5).toInt(), kPortEthernet);
}

TEST_P(SettingsDialogTest, OkStoresTheNumbersOfTheChosenEntries) {
  const auto dialog = Open();
  dialog->DeviceTypeBox()->setCurrentIndex(dialog->DeviceTypeBox()->findText("HS1"));
  ChoosePort(*dialog, kPortCom4);
  dialog->StartupBox()->setChecked(false);
  dialog->accept();
  EXPECT_EQ(record_.deviceType, kHs1);
  EXPECT_EQ(record_.port, kPortCom4);
  EXPECT_EQ(record_.selectDialog, 0);
  EXPECT_EQ(record_.autoselect, 0);
}

TEST_P(SettingsDialogTest, TypeTheCurrentPackageLacksIsLeftAloneByOk) {
  record_.deviceType = kMt10rFx;
  const auto dialog = Open();
  EXPECT_EQ(dialog->DeviceTypeBox()->currentIndex(), -1);
  dialog->accept();
  EXPECT_EQ(record_.deviceType, kMt10rFx);
}

TEST_P(SettingsDialogTest, UsbNarrowsTheTypesAndComBringsBackTheTypeChosenUnderUsb) {
  const auto dialog = Open();
  ASSERT_EQ(ShownType(*dialog), kMt10);

  ChoosePort(*dialog, kPortUsb);
  EXPECT_EQ(dialog->ListKind(), DeviceListKind::Usb);
  EXPECT_EQ(dialog->DeviceTypeBox()->count(), kUsbTypesListed);
  EXPECT_EQ(dialog->DeviceTypeBox()->currentIndex(), 0);
  EXPECT_EQ(ShownType(*dialog), kMt20rFx);

  ChoosePort(*dialog, kPortEthernet);
  EXPECT_EQ(dialog->ListKind(), DeviceListKind::Ethernet);
  EXPECT_EQ(dialog->DeviceTypeBox()->count(), kEthernetTypesListed);
  EXPECT_EQ(ShownType(*dialog), kMt20rFx);

  ChoosePort(*dialog, kPortCom2);
  EXPECT_EQ(dialog->ListKind(), DeviceListKind::All);
  EXPECT_EQ(dialog->DeviceTypeBox()->count(), kAllTypesListed);
  EXPECT_EQ(ShownType(*dialog), kMt20rFx);

  dialog->accept();
  EXPECT_EQ(record_.deviceType, kMt20rFx);
  EXPECT_EQ(record_.port, kPortCom2);
}

TEST_P(SettingsDialogTest, EthernetOnlyTypeGivesWayToTheFirstUsbType) {
  record_.deviceType = kPl1Tp;
  record_.port = kPortEthernet;
  const auto dialog = Open();
  EXPECT_EQ(dialog->ListKind(), DeviceListKind::Ethernet);
  EXPECT_EQ(ShownType(*dialog), kPl1Tp);
  ChoosePort(*dialog, kPortUsb);
  EXPECT_EQ(dialog->DeviceTypeBox()->findData(kPl1Tp), -1);
  EXPECT_EQ(ShownType(*dialog), kMt20rFx);
}

TEST_P(SettingsDialogTest, AutoselectLocksThePortChoice) {
  record_.autoselect = 1;
  const auto dialog = Open();
  EXPECT_TRUE(dialog->AutoselectBox()->isChecked());
  EXPECT_FALSE(dialog->PortBox()->isEnabled());

  dialog->AutoselectBox()->click();
  EXPECT_TRUE(dialog->PortBox()->isEnabled());
  dialog->AutoselectBox()->click();
  EXPECT_FALSE(dialog->PortBox()->isEnabled());
  dialog->AutoselectBox()->click();

  dialog->accept();
  EXPECT_EQ(record_.autoselect, 0);
}

TEST_P(SettingsDialogTest, CancelLeavesTheRecordAsItWas) {
  const AppSettings before = record_;
  const auto dialog = Open();
  ChoosePort(*dialog, kPortUsb);
  dialog->AutoselectBox()->setChecked(true);
  dialog->StartupBox()->setChecked(false);
  dialog->reject();
  EXPECT_EQ(record_.deviceType, before.deviceType);
  EXPECT_EQ(record_.port, before.port);
  EXPECT_EQ(record_.autoselect, before.autoselect);
  EXPECT_EQ(record_.selectDialog, before.selectDialog);
}

CVeltrPortMap& UnusedPortMap() {
  static CVeltrPortMap map;
  return map;
}

INSTANTIATE_TEST_SUITE_P(
    BothDialogs, SettingsDialogTest,
    testing::Values(DialogCase{"Preferences",
                               [](AppSettings& settings, const PackageVersionTable& package) {
                                 return std::unique_ptr<CVeltrSettingsDlg>(
                                     new CVeltrPreferencesDlg(settings, package, UnusedPortMap(),
                                                              std::vector<SerialDeviceInfo>{}));
                               }},
                    DialogCase{"SelectDevice",
                               [](AppSettings& settings, const PackageVersionTable& package) {
                                 return std::unique_ptr<CVeltrSettingsDlg>(
                                     new CVeltrSelectDlg(settings, package));
                               }}),
    [](const testing::TestParamInfo<DialogCase>& info) { return info.param.name; });

// The "Serial ports" page, against two devices: a USB adapter with a stable name, and a modem
// port without one that the user may not open.
class SerialPortsPageTest : public testing::Test {
 protected:
  static constexpr const char* kAdapterById = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";

  std::unique_ptr<CVeltrPreferencesDlg> Open() {
    std::vector<SerialDeviceInfo> devices(2);
    devices[0].path = "/dev/ttyUSB0";
    devices[0].byIdPath = kAdapterById;
    devices[0].driver = "ftdi_sio";
    devices[0].available = true;
    devices[1].path = "/dev/ttyACM0";
    devices[1].driver = "cdc_acm";
    devices[1].problem = "permission denied on /dev/ttyACM0 (is the user in the dialout group?)";
    return std::make_unique<CVeltrPreferencesDlg>(record_, package_, map_, devices);
  }

  AppSettings record_;
  PackageVersionTable package_ = PackageWithGaps();
  CVeltrPortMap map_;
};

TEST_F(SerialPortsPageTest, IsTheSecondPage) {
  const auto dialog = Open();
  ASSERT_EQ(dialog->Pages()->count(), 2);
  EXPECT_EQ(dialog->Pages()->tabText(1), QStringLiteral("Serial ports"));
  EXPECT_EQ(dialog->Pages()->currentIndex(), 0);
}

TEST_F(SerialPortsPageTest, OffersTheDevicesPresentByTheirStableNames) {
  const auto dialog = Open();
  QComboBox* com1 = dialog->SerialPathBox(0);
  ASSERT_EQ(com1->count(), 2);
  EXPECT_EQ(com1->itemText(0), QString::fromLatin1(kAdapterById));
  EXPECT_EQ(com1->itemText(1), QStringLiteral("/dev/ttyACM0"));
  // The map's own path stays shown, though no such device is present.
  EXPECT_EQ(com1->currentText(), QStringLiteral("/dev/ttyS0"));
  EXPECT_EQ(dialog->SerialDriverLabel(0)->text(), QStringLiteral("not present"));
}

TEST_F(SerialPortsPageTest, ShowsTheDriverAndWhyADeviceCannotBeUsed) {
  const auto dialog = Open();
  dialog->SerialPathBox(1)->setCurrentIndex(0);
  EXPECT_TRUE(dialog->SerialDriverLabel(1)->text().contains(QStringLiteral("ftdi_sio")));
  EXPECT_TRUE(dialog->SerialDriverLabel(1)->text().contains(QStringLiteral("ttyUSB0")));

  dialog->SerialPathBox(2)->setCurrentIndex(1);
  EXPECT_TRUE(dialog->SerialDriverLabel(2)->text().contains(QStringLiteral("cdc_acm")));
  EXPECT_TRUE(dialog->SerialDriverLabel(2)->text().contains(QStringLiteral("cannot be opened")));
  EXPECT_TRUE(dialog->SerialDriverLabel(2)->toolTip().contains(QStringLiteral("dialout")));
}

TEST_F(SerialPortsPageTest, OkMapsEachComNameToThePathChosenOrTyped) {
  const auto dialog = Open();
  dialog->SerialPathBox(1)->setCurrentIndex(0);
  dialog->SerialPathBox(3)->setCurrentText(QStringLiteral("/dev/pts/7"));
  dialog->accept();
  EXPECT_EQ(map_.PathAt(0), "/dev/ttyS0");
  EXPECT_EQ(map_.PathAt(1), kAdapterById);
  EXPECT_EQ(map_.PathAt(2), "/dev/ttyS2");
  EXPECT_EQ(map_.PathAt(3), "/dev/pts/7");
}

TEST_F(SerialPortsPageTest, CancelKeepsTheMap) {
  const auto dialog = Open();
  dialog->SerialPathBox(0)->setCurrentIndex(0);
  dialog->reject();
  EXPECT_EQ(map_.PathAt(0), "/dev/ttyS0");
}

}  // namespace
}  // namespace veltr
