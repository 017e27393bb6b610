#include "app/settings.h"

#include <QVariant>
#include <cstdint>
#include <limits>
#include <optional>

#include "base/port.h"
#include "protocol/device_types.h"

namespace veltr {
namespace {

constexpr const char* kDeviceTypeValue = "DeviceType";
constexpr const char* kPortValue = "Port";
constexpr const char* kAutoselectValue = "Autoselect";
constexpr const char* kSelectDialogValue = "SelectDialog";
constexpr const char* kSerialPortsGroup = "SerialPorts";
constexpr const char* kPackageFolderValue = "PackageFolder";

// The four values were double words: a value counts only when it is a whole number that fits in
// 32 bits, written signed or unsigned (-1 and 4294967295 are the same word). The store keeps
// numbers as text, so a text that reads as such a number is one; anything else is of the wrong
// type.
std::optional<uint32_t> ReadDoubleWord(const QSettings& store, const char* name) {
  const QVariant value = store.value(QString::fromLatin1(name));
  qlonglong number = 0;
  bool ok = false;
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
      number = value.toLongLong(&ok);
      break;
    case QMetaType::ULongLong: {
      const qulonglong unsignedNumber = value.toULongLong(&ok);
      ok = ok && unsignedNumber <= std::numeric_limits<uint32_t>::max();
      number = static_cast<qlonglong>(unsignedNumber);
      break;
    }
    case QMetaType::QString:
      number = value.toString().trimmed().toLongLong(&ok, 10);
      break;
    default:
      return std::nullopt;
  }
  if (!ok || number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(number);
}

}  // namespace

CVeltrSettings::CVeltrSettings()
    : store_(std::make_unique<QSettings>(QString::fromLatin1(kSettingsOrganisation),
                                         QString::fromLatin1(kSettingsApplication))) {}

CVeltrSettings::CVeltrSettings(const QString& iniFile)
    : store_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

CVeltrSettings::~CVeltrSettings() = default;

bool CVeltrSettings::LoadSettings(AppSettings& settings) {
  if (store_->status() != QSettings::NoError) {
    return false;
  }
  bool complete = true;

  if (const auto type = ReadDoubleWord(*store_, kDeviceTypeValue)) {
    // Read as unsigned: a negative word is a large type number, and the record keeps its type.
    if (*type < static_cast<uint32_t>(kDeviceTypeCount)) {
      settings.deviceType = static_cast<int32_t>(*type);
    } else {
      complete = false;
    }
  } else {
    settings.deviceType = 0;
    complete = false;
  }

  if (const auto port = ReadDoubleWord(*store_, kPortValue)) {
    if (IsSelectablePort(static_cast<int32_t>(*port))) {
      settings.port = static_cast<int32_t>(*port);
    } else {
      complete = false;
    }
  } else {
    settings.port = kPortCom1;
    complete = false;
  }

  if (const auto autoselect = ReadDoubleWord(*store_, kAutoselectValue)) {
    settings.autoselect = *autoselect != 0 ? 1 : 0;
  } else {
    settings.autoselect = 1;
    complete = false;
  }

  if (const auto selectDialog = ReadDoubleWord(*store_, kSelectDialogValue)) {
    settings.selectDialog = *selectDialog != 0 ? 1 : 0;
  } else {
    settings.selectDialog = 1;
    complete = false;
  }

  return complete && store_->status() == QSettings::NoError;
}

bool CVeltrSettings::SaveSettings(const AppSettings& settings) {
  if (!store_->isWritable()) {
    return false;
  }
  store_->setValue(QString::fromLatin1(kDeviceTypeValue), settings.deviceType);
  store_->setValue(QString::fromLatin1(kPortValue), settings.port);
  store_->setValue(QString::fromLatin1(kAutoselectValue), settings.autoselect);
  store_->setValue(QString::fromLatin1(kSelectDialogValue), settings.selectDialog);
  return Flush();
}

void CVeltrSettings::LoadPortMap(CVeltrPortMap& map) {
  store_->beginGroup(QString::fromLatin1(kSerialPortsGroup));
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    const QVariant value = store_->value(QString::fromStdString(CVeltrPortMap::ComName(i)));
    if (value.typeId() == QMetaType::QString) {
      const QString path = value.toString().trimmed();
      if (!path.isEmpty()) {
        map.Set(i, path.toStdString());
      }
    }
  }
  store_->endGroup();
}

bool CVeltrSettings::SavePortMap(const CVeltrPortMap& map) {
  if (!store_->isWritable()) {
    return false;
  }
  store_->beginGroup(QString::fromLatin1(kSerialPortsGroup));
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    store_->setValue(QString::fromStdString(CVeltrPortMap::ComName(i)),
                     QString::fromStdString(map.PathAt(i)));
  }
  store_->endGroup();
  return Flush();
}

QString CVeltrSettings::LoadPackageFolder() {
  const QVariant value = store_->value(QString::fromLatin1(kPackageFolderValue));
  return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool CVeltrSettings::SavePackageFolder(const QString& folder) {
  if (!store_->isWritable()) {
    return false;
  }
  store_->setValue(QString::fromLatin1(kPackageFolderValue), folder);
  return Flush();
}

QString CVeltrSettings::FileName() const {
  return store_->fileName();
}

bool CVeltrSettings::Flush() {
  store_->sync();
  return store_->status() == QSettings::NoError;
}

}  // namespace veltr
