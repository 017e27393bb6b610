#pragma once

#include <QPointer>
#include <QWidget>

#include "engine/jobs.h"

namespace veltr {

class UpgradeEngine;

// The jobs' side of the window: the message boxes of the job handlers with their texts, buttons
// and icons, and the modal dialogs that stand between a job and the user.
class CVeltrJobUi : public IVeltrJobUi {
 public:
  explicit CVeltrJobUi(UpgradeEngine& engine) : engine_(engine) {}

  // The window the boxes and dialogs belong to; until it is set they have no parent.
  void SetParent(QWidget* parent) { parent_ = parent; }

  bool Confirm(const std::string& question) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool ShowSuccess(const std::string& message, bool exitUpgradeMode) override;
  std::optional<PortId> ColdBoot(PortId searchedPort, bool searchedAll) override;
  std::optional<FoundDevice> SelectDevice(PortId port,
                                          const std::vector<FoundDevice>& found) override;
  std::optional<std::array<std::string, 2>> EditUserTexts(
      const std::array<std::string, 2>& current) override;

 private:
  UpgradeEngine& engine_;
  QPointer<QWidget> parent_;
};

}  // namespace veltr
