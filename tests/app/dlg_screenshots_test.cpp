// Each dialog as the offscreen platform draws it, saved beside the tests for a look, and checked
// for what makes a dialog untidy: a control cut off at the edge, or squeezed below the size it
// needs to show its text.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <functional>
#include <memory>

#include "app/dlg_found_devices.h"
#include "app/dlg_settings.h"
#include "app/dlg_small.h"
#include "app/dlg_units.h"

namespace veltr {
namespace {

struct ShotCase {
  const char* name;
  std::function<std::unique_ptr<QDialog>()> make;
  QSize templateUnits;
};

std::vector<FoundDevice> TwoDevices() {
  FoundDevice ok;
  ok.type = 24;
  ok.mode = kModeUpgradeCode;
  ok.status = 0;
  ok.serialNumber = "A07-0625";
  ok.address = "10.77.0.2";
  FoundDevice silent;
  silent.status = 1;
  silent.address = "10.77.0.3";
  return {ok, silent};
}

PackageVersionTable FullPackage() {
  PackageVersionTable table;
  table.present.fill(1);
  return table;
}

AppSettings& Record() {
  static AppSettings record;
  return record;
}

class DialogShotTest : public testing::TestWithParam<ShotCase> {};

TEST_P(DialogShotTest, ControlsFitInsideTheDialog) {
  const auto dialog = GetParam().make();
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  const QSize minimum = DialogUnitsToPixels(dialog.get(), GetParam().templateUnits.width(),
                                            GetParam().templateUnits.height());
  EXPECT_GE(dialog->width(), minimum.width());
  EXPECT_GE(dialog->height(), minimum.height());

  const QRect inside = dialog->rect();
  for (QWidget* child : dialog->findChildren<QWidget*>()) {
    if (!child->isVisible() || (qobject_cast<QLabel*>(child) == nullptr &&
                                qobject_cast<QAbstractButton*>(child) == nullptr &&
                                qobject_cast<QComboBox*>(child) == nullptr)) {
      continue;
    }
    const QRect where(child->mapTo(dialog.get(), QPoint(0, 0)), child->size());
    EXPECT_TRUE(inside.contains(where))
        << child->metaObject()->className() << " " << child->objectName().toStdString();
    const QSize needed = child->minimumSizeHint();
    EXPECT_GE(child->width(), needed.width()) << child->metaObject()->className();
    EXPECT_GE(child->height(), needed.height()) << child->metaObject()->className();
  }

  QDir().mkpath(QStringLiteral(VELTR_SCREENSHOT_DIR));
  const QString file =
      QStringLiteral(VELTR_SCREENSHOT_DIR "/%1.png").arg(QString::fromLatin1(GetParam().name));
  EXPECT_TRUE(dialog->grab().save(file)) << file.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    EachDialog, DialogShotTest,
    testing::Values(
        ShotCase{"Preferences",
                 [] {
                   static CVeltrPortMap map;
                   static const PackageVersionTable package = FullPackage();
                   SerialDeviceInfo adapter;
                   adapter.path = "/dev/ttyUSB0";
                   adapter.byIdPath = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
                   adapter.driver = "ftdi_sio";
                   adapter.available = true;
                   return std::make_unique<CVeltrPreferencesDlg>(
                       Record(), package, map, std::vector<SerialDeviceInfo>{adapter});
                 },
                 {178, 97}},
        ShotCase{"SerialPorts",
                 [] {
                   static CVeltrPortMap map;
                   static const PackageVersionTable package = FullPackage();
                   SerialDeviceInfo adapter;
                   adapter.path = "/dev/ttyUSB0";
                   adapter.byIdPath = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
                   adapter.driver = "ftdi_sio";
                   adapter.available = true;
                   map.Set(1, adapter.byIdPath);
                   auto dialog = std::make_unique<CVeltrPreferencesDlg>(
                       Record(), package, map, std::vector<SerialDeviceInfo>{adapter});
                   dialog->Pages()->setCurrentIndex(1);
                   return dialog;
                 },
                 {178, 97}},
        ShotCase{"SelectDevice",
                 [] {
                   static const PackageVersionTable package = FullPackage();
                   return std::make_unique<CVeltrSelectDlg>(Record(), package);
                 },
                 {178, 102}},
        ShotCase{"FoundDevicesUsb",
                 [] { return std::make_unique<CVeltrSeveralDevicesDlg>(TwoDevices()); },
                 {367, 122}},
        ShotCase{"FoundDevicesEthernet",
                 [] { return std::make_unique<CVeltrSeveralDevicesEthernetDlg>(TwoDevices()); },
                 {367, 122}},
        ShotCase{"ColdBoot",
                 [] { return std::make_unique<CVeltrColdBootDlg>(kPortCom2, true); },
                 {188, 118}},
        ShotCase{"UserText",
                 [] {
                   return std::make_unique<CVeltrUserTextDlg>(
                       std::array<std::string, 2>{"Stage left", "Rack 2"});
                 },
                 {243, 65}},
        ShotCase{"Success",
                 [] {
                   return std::make_unique<CVeltrSuccessDlg>(
                       QStringLiteral("Firmware upgrade succeeded."), true);
                 },
                 {142, 66}},
        ShotCase{"About", [] { return std::make_unique<CAboutDlg>(); }, {226, 53}}),
    [](const testing::TestParamInfo<ShotCase>& info) { return info.param.name; });

}  // namespace
}  // namespace veltr
