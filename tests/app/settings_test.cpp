#include "app/settings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <string>

namespace veltr {
namespace {

// A store in a file of the test's own, written as raw text so that a value can be missing, out
// of range or of the wrong type, as another program or an old version may have left it.
class SettingsStoreTest : public testing::Test {
 protected:
  QString StorePath() const { return dir_.filePath(QStringLiteral("Upgrade.conf")); }

  void WriteStore(const std::string& text) {
    QFile file(StorePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.data(), static_cast<qint64>(text.size()));
  }

  QTemporaryDir dir_;
};

// What a previous record held before loading: none of it equals a default, so a test sees both
// "took the default" and "kept the previous value".
AppSettings PreviousRecord() {
  AppSettings record;
  record.deviceType = 7;
  record.port = kPortCom3;
  record.autoselect = 0;
  record.selectDialog = 0;
  return record;
}

struct LoadCase {
  const char* name;
  // The four stored values as the store keeps them; none = missing.
  std::optional<const char*> deviceType, port, autoselect, selectDialog;
  int32_t wantDeviceType, wantPort, wantAutoselect, wantSelectDialog;
  bool wantComplete;
};

class LoadSettingsTest : public SettingsStoreTest, public testing::WithParamInterface<LoadCase> {};

TEST_P(LoadSettingsTest, AppliesTheRuleOfEachValue) {
  const LoadCase& c = GetParam();
  std::string text = "[General]\n";
  const auto add = [&text](const char* name, const std::optional<const char*>& value) {
    if (value) {
      text += std::string(name) + "=" + *value + "\n";
    }
  };
  add("DeviceType", c.deviceType);
  add("Port", c.port);
  add("Autoselect", c.autoselect);
  add("SelectDialog", c.selectDialog);
  WriteStore(text);

  AppSettings record = PreviousRecord();
  CVeltrSettings store(StorePath());
  EXPECT_EQ(store.LoadSettings(record), c.wantComplete);
  EXPECT_EQ(record.deviceType, c.wantDeviceType);
  EXPECT_EQ(record.port, c.wantPort);
  EXPECT_EQ(record.autoselect, c.wantAutoselect);
  EXPECT_EQ(record.selectDialog, c.wantSelectDialog);
}

INSTANTIATE_TEST_SUITE_P(
    StoredValues, LoadSettingsTest,
    testing::Values(
        LoadCase{"AllMissingGiveTheFirstRunDefaults", {}, {}, {}, {}, 0, 0, 1, 1, false},
        LoadCase{"AllValidAreStored", "32", "33", "0", "0", 32, 33, 0, 0, true},
        LoadCase{"DeviceTypeAboveTheTableIsIgnored", "40", "2", "0", "0", 7, 2, 0, 0, false},
        // -1 read as unsigned is far above 32, so it too keeps the previous type.
        LoadCase{"NegativeDeviceTypeReadAsUnsignedIsIgnored", "-1", "2", "0", "0", 7, 2, 0, 0,
                 false},
        LoadCase{"DeviceTypeAsTextTakesTheDefault", "KL1A", "2", "0", "0", 0, 2, 0, 0, false},
        LoadCase{"PortNamingNoPortIsIgnored", "3", "5", "0", "0", 3, 2, 0, 0, false},
        LoadCase{"SerialObjectPortIsIgnored", "3", "34", "0", "0", 3, 2, 0, 0, false},
        LoadCase{"UsbPortIsStored", "3", "32", "0", "0", 3, 32, 0, 0, true},
        LoadCase{"PortBeyondThirtyTwoBitsTakesTheDefault", "3", "4294967328", "0", "0", 3, 0, 0, 0,
                 false},
        LoadCase{"UnsignedWordOfMinusOneIsNoPort", "3", "4294967295", "0", "0", 3, 2, 0, 0, false},
        LoadCase{"NonzeroAutoselectReadsAsOn", "3", "1", "7", "0", 3, 1, 1, 0, true},
        LoadCase{"AutoselectAsTextReadsAsOn", "3", "1", "yes", "0", 3, 1, 1, 0, false},
        LoadCase{"EmptySelectDialogReadsAsOn", "3", "1", "0", "", 3, 1, 0, 1, false},
        LoadCase{"FractionIsNotANumber", "3.5", "1", "0", "0", 0, 1, 0, 0, false},
        LoadCase{"OnlySelectDialogMissing", "3", "1", "0", {}, 3, 1, 0, 1, false}),
    [](const testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST_F(SettingsStoreTest, SavedValuesLoadBackAsTheyWere) {
  AppSettings saved;
  saved.deviceType = 29;
  saved.port = kPortEthernet;
  saved.autoselect = 0;
  saved.selectDialog = 0;
  ASSERT_TRUE(CVeltrSettings(StorePath()).SaveSettings(saved));

  AppSettings loaded = PreviousRecord();
  EXPECT_TRUE(CVeltrSettings(StorePath()).LoadSettings(loaded));
  EXPECT_EQ(loaded.deviceType, 29);
  EXPECT_EQ(loaded.port, kPortEthernet);
  EXPECT_EQ(loaded.autoselect, 0);
  EXPECT_EQ(loaded.selectDialog, 0);
}

TEST_F(SettingsStoreTest, ValuesAreKeptUnderTheirOwnNamesAsPlainNumbers) {
  AppSettings saved;
  saved.deviceType = 12;
  saved.port = kPortUsb;
  ASSERT_TRUE(CVeltrSettings(StorePath()).SaveSettings(saved));
  QFile file(StorePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(text.contains(QStringLiteral("DeviceType=12"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Port=32"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Autoselect=1"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("SelectDialog=1"))) << text.toStdString();
}

TEST_F(SettingsStoreTest, StoreThatCannotBeWrittenSaysSo) {
  // A plain file where the store's folder would have to be.
  WriteStore("not a folder");
  CVeltrSettings store(StorePath() + QStringLiteral("/Upgrade.conf"));
  EXPECT_FALSE(store.SaveSettings(AppSettings{}));
  EXPECT_FALSE(store.SavePortMap(CVeltrPortMap{}));
}

TEST_F(SettingsStoreTest, PortMapAndPackageFolderLoadBack) {
  CVeltrPortMap map;
  ASSERT_TRUE(map.Set(1, "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"));
  {
    CVeltrSettings store(StorePath());
    ASSERT_TRUE(store.SavePortMap(map));
    ASSERT_TRUE(store.SavePackageFolder(QStringLiteral("/srv/firmware/2.11")));
  }
  CVeltrPortMap loaded;
  CVeltrSettings store(StorePath());
  store.LoadPortMap(loaded);
  EXPECT_EQ(loaded.PathAt(0), "/dev/ttyS0");
  EXPECT_EQ(loaded.PathAt(1), "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
  EXPECT_EQ(store.LoadPackageFolder(), QStringLiteral("/srv/firmware/2.11"));
}

TEST_F(SettingsStoreTest, MissingOrEmptyPortPathsKeepTheDefaults) {
  WriteStore("[SerialPorts]\nCOM2=\nCOM3=/dev/ttyUSB0\n");
  CVeltrPortMap map;
  CVeltrSettings store(StorePath());
  store.LoadPortMap(map);
  EXPECT_EQ(map.PathAt(0), "/dev/ttyS0");
  EXPECT_EQ(map.PathAt(1), "/dev/ttyS1");
  EXPECT_EQ(map.PathAt(2), "/dev/ttyUSB0");
  EXPECT_EQ(map.PathAt(3), "/dev/ttyS3");
  EXPECT_TRUE(store.LoadPackageFolder().isEmpty());
}

}  // namespace
}  // namespace veltr
