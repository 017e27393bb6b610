#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <vector>

#include "app/dlg_combo_selector.h"
#include "engine/app_settings.h"
#include "package/package_description.h"
#include "transport/port_map.h"
#include "transport/serial_enum.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QTabWidget;

namespace veltr {

// Which device types the type list offers: all, those that speak USB, those that speak Ethernet.
enum class DeviceListKind : int32_t { All = 0, Usb = 1, Ethernet = 2 };

// What "Preferences" and "Select device" share: the device type and port lists, the port rule
// that fits the type list to the port, the "Autoselect" box that locks the port choice, and OK,
// which writes the choices into the record. Cancel leaves the record untouched.
class CVeltrSettingsDlg : public QDialog, public CVeltrComboSelector {
  Q_OBJECT

 public:
  QComboBox* DeviceTypeBox() const { return deviceType_; }
  QComboBox* PortBox() const { return port_; }
  QCheckBox* AutoselectBox() const { return autoselect_; }
  QCheckBox* StartupBox() const { return startup_; }
  DeviceListKind ListKind() const { return listKind_; }

  void accept() override;

 protected:
  // startupText: the start-up check box's caption, which differs between the two dialogs.
  CVeltrSettingsDlg(AppSettings& settings, const PackageVersionTable& package,
                    const char* startupText, QWidget* parent);

  // The controls, made by the base, laid out by each dialog in its own groups.
  QWidget* PortSelectionGroup() const;
  QGroupBox* DeviceTypeGroup(const char* title) const;
  QWidget* StartupCheck() const;
  // Fills and selects the controls from the record; each dialog calls it once laid out.
  void LoadFromRecord();

 private slots:
  void ApplyPortRule();
  void OnAutoselectClicked();

 private:
  void FillDeviceTypes(int32_t first, int32_t last);

  const PackageVersionTable& package_;
  QComboBox* deviceType_ = nullptr;
  QComboBox* port_ = nullptr;
  QCheckBox* startup_ = nullptr;
  QCheckBox* autoselect_ = nullptr;
  DeviceListKind listKind_ = DeviceListKind::All;
  QLabel* deviceTypeLabel_ = nullptr;
  QLabel* portLabel_ = nullptr;
};

// "Select device": shown at start-up while the record asks for it.
class CVeltrSelectDlg : public CVeltrSettingsDlg {
  Q_OBJECT

 public:
  CVeltrSelectDlg(AppSettings& settings, const PackageVersionTable& package,
                  QWidget* parent = nullptr);
};

// "Preferences": the same choices, and a second page, "Serial ports", that maps each of COM1 to
// COM4 to a serial device of this machine. OK writes both pages.
class CVeltrPreferencesDlg : public CVeltrSettingsDlg {
  Q_OBJECT

 public:
  // Lists the serial devices present now.
  CVeltrPreferencesDlg(AppSettings& settings, const PackageVersionTable& package,
                       CVeltrPortMap& portMap, QWidget* parent = nullptr);
  // With the serial devices given: for tests, and for a caller that has just listed them.
  CVeltrPreferencesDlg(AppSettings& settings, const PackageVersionTable& package,
                       CVeltrPortMap& portMap, std::vector<SerialDeviceInfo> devices,
                       QWidget* parent = nullptr);

  QTabWidget* Pages() const { return pages_; }
  // The path box of COM1 to COM4 (index 0 to 3) on the "Serial ports" page.
  QComboBox* SerialPathBox(int index) const { return paths_.at(index); }
  // What the page shows beside a path: the driver, or why the device cannot be used.
  QLabel* SerialDriverLabel(int index) const { return drivers_.at(index); }

  void accept() override;

 private:
  QWidget* MakeSerialPortsPage();
  void ShowDriverOf(int index);

  CVeltrPortMap& portMap_;
  std::vector<SerialDeviceInfo> devices_;
  QTabWidget* pages_ = nullptr;
  std::array<QComboBox*, CVeltrPortMap::kSerialPorts> paths_{};
  std::array<QLabel*, CVeltrPortMap::kSerialPorts> drivers_{};
};

}  // namespace veltr
