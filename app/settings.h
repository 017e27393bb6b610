#pragma once

#include <QSettings>
#include <QString>
#include <memory>

#include "engine/app_settings.h"
#include "transport/port_map.h"

namespace veltr {

// The values kept between runs, in the store of organisation "VELTRANO", application "Upgrade":
// the four 32-bit values "DeviceType", "Port", "Autoselect" and "SelectDialog", and what this
// platform adds: the device path behind each of COM1 to COM4 and the last package folder. The
// program reads them once at start-up and writes them once at exit.
class CVeltrSettings {
 public:
  CVeltrSettings();  // the user's own store
  // A store in an INI file of its own: for tests and for a second installation.
  explicit CVeltrSettings(const QString& iniFile);
  ~CVeltrSettings();

  CVeltrSettings(const CVeltrSettings&) = delete;
  CVeltrSettings& operator=(const CVeltrSettings&) = delete;

  // Reads the four values into settings. False when the store cannot be read (settings
  // unchanged) or when any value is missing, not a 32-bit number or out of range; each such value
  // takes its default or keeps what settings held, value by value. Callers may ignore the result.
  bool LoadSettings(AppSettings& settings);
  // Writes the four values; false when any write or the final flush fails.
  bool SaveSettings(const AppSettings& settings);

  // COM1 to COM4 -> device path. A name that is missing or empty keeps the map's path (the
  // defaults are /dev/ttyS0 to /dev/ttyS3).
  void LoadPortMap(CVeltrPortMap& map);
  bool SavePortMap(const CVeltrPortMap& map);

  // The folder of the package last used; empty when none was kept.
  QString LoadPackageFolder();
  bool SavePackageFolder(const QString& folder);

  // Where the store lives (a file path on this platform), for messages.
  QString FileName() const;

 private:
  bool Flush();

  std::unique_ptr<QSettings> store_;
};

// Value names in the store.
inline constexpr const char* kSettingsOrganisation = "VELTRANO";
inline constexpr const char* kSettingsApplication = "Upgrade";

}  // namespace veltr
