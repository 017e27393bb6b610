// Where the application and the jobs open the dialogs and read and write the settings.

#include "app/job_ui.h"
#include "app/veltr_app.h"

namespace veltr {

void CVeltrApp::LoadPreferences() {}
void CVeltrApp::SavePreferences() {}
void CVeltrApp::OnPreferences() {}
void CVeltrApp::OnAbout() {}
void CVeltrApp::ShowSelectDialog() {}

bool CVeltrJobUi::ShowSuccess(const std::string&, bool) {
  return false;
}
std::optional<PortId> CVeltrJobUi::ColdBoot(PortId, bool) {
  return std::nullopt;
}
std::optional<FoundDevice> CVeltrJobUi::SelectDevice(PortId, const std::vector<FoundDevice>&) {
  return std::nullopt;
}
std::optional<std::array<std::string, 2>> CVeltrJobUi::EditUserTexts(
    const std::array<std::string, 2>&) {
  return std::nullopt;
}

}  // namespace veltr
