// Where the application and the jobs open the dialogs and read and write the settings store.

#include <QString>

#include "app/dlg_found_devices.h"
#include "app/dlg_settings.h"
#include "app/dlg_small.h"
#include "app/job_ui.h"
#include "app/main_frame.h"
#include "app/settings.h"
#include "app/veltr_app.h"

namespace veltr {

void CVeltrApp::LoadPreferences() {
  CVeltrSettings store;
  // A store that cannot be read leaves the defaults; the program starts all the same.
  store.LoadSettings(settings_);
  store.LoadPortMap(portMap_);
  rememberedPackageFolder_ = store.LoadPackageFolder();
}

void CVeltrApp::SavePreferences() {
  CVeltrSettings store;
  store.SaveSettings(settings_);
  store.SavePortMap(portMap_);
  store.SavePackageFolder(packageFolder_);
}

void CVeltrApp::OnPreferences() {
  CVeltrPreferencesDlg dialog(settings_, package_, portMap_, frame_.get());
  dialog.exec();
}

void CVeltrApp::OnAbout() {
  CAboutDlg dialog(frame_.get());
  dialog.exec();
}

void CVeltrApp::ShowSelectDialog() {
  CVeltrSelectDlg dialog(settings_, package_, frame_.get());
  // Whether it ends with OK or Cancel, the search comes next.
  dialog.exec();
}

bool CVeltrJobUi::ShowSuccess(const std::string& message, bool exitUpgradeMode) {
  CVeltrSuccessDlg dialog(QString::fromStdString(message), exitUpgradeMode, parent_);
  dialog.exec();
  return dialog.ExitUpgradeMode();
}

std::optional<PortId> CVeltrJobUi::ColdBoot(PortId searchedPort, bool searchedAll) {
  CVeltrColdBootDlg dialog(searchedPort, searchedAll, parent_);
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  return dialog.Port();
}

std::optional<FoundDevice> CVeltrJobUi::SelectDevice(PortId port,
                                                     const std::vector<FoundDevice>& found) {
  std::optional<FoundDevice> chosen;
  if (port == kPortUsb) {
    CVeltrSeveralDevicesDlg dialog(found, parent_);
    if (dialog.exec() == QDialog::Accepted) {
      chosen = dialog.Chosen();
    }
  } else {
    CVeltrSeveralDevicesEthernetDlg dialog(found, parent_);
    if (dialog.exec() == QDialog::Accepted) {
      chosen = dialog.Chosen();
    }
  }
  return chosen;
}

std::optional<std::array<std::string, 2>> CVeltrJobUi::EditUserTexts(
    const std::array<std::string, 2>& current) {
  CVeltrUserTextDlg dialog(current, parent_);
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  // The jobs take UTF-8 and convert to the devices' code page themselves.
  return dialog.EditText();
}

}  // namespace veltr
