#include "engine/jobs.h"

#include "engine/connection.h"
#include "engine/device_info.h"
#include "engine/page_lines.h"
#include "engine/text_codec.h"
#include "engine/upgrade_engine.h"
#include "engine/uploads.h"

namespace veltr {
namespace {

void ShowPage(UpgradeEngine& engine, uint32_t page) {
  if (engine.Display() != nullptr) {
    engine.Display()->ShowPage(page);
  }
}

}  // namespace

void ConnectOrBootBody(UpgradeEngine& engine) {
  if (engine.IsConnected()) {
    engine.jobKind = DeviceBoot;
    engine.jobResult = Disconnect(engine);
    return;
  }
  Search(engine);
}

void FirmwareBody(UpgradeEngine& engine) {
  if (!Search(engine)) {
    return;
  }
  CVeltrPageLines(engine.Display(), 1).Clear();
  ShowPage(engine, 1);
  const AppSettings& settings = engine.Settings();
  engine.uploadLogic = settings.uploadLogic;
  engine.uploadProcessor = settings.uploadProcessor;
  engine.uploadBios = settings.uploadBios;
  engine.jobKind = FirmwareUpgrade;

  engine.jobResult = UploadFirmware(engine);
  WriteDeviceInfoLines(engine.Display(), engine.info);
}

void UserTextBody(UpgradeEngine& engine) {
  if (!Search(engine)) {
    return;
  }
  engine.jobKind = UserTextUpgrade;
  engine.jobResult = UploadUserText(engine);
  WriteDeviceInfoLines(engine.Display(), engine.info);
}

void EraseBody(UpgradeEngine& engine) {
  if (!Search(engine)) {
    return;
  }
  engine.jobKind = SettingsErase;
  engine.jobResult = EraseDeviceSettings(engine);
}

std::string SuccessText(int32_t jobKind) {
  switch (jobKind) {
    case FirmwareUpgrade:
      return "Firmware upgrade succeeded.";
    case UserTextUpgrade:
      return "User text upgrade succeeded.";
    case SettingsErase:
      return "Settings erasing succeeded.";
    default:
      return {};
  }
}

std::string FailureText(int32_t jobKind, int32_t result) {
  const char* format = nullptr;
  switch (jobKind) {
    case FirmwareUpgrade:
      format = "Firmware upgrade failed: ";
      break;
    case UserTextUpgrade:
      format = "User text upgrade failed: ";
      break;
    case SettingsErase:
      format = "Settings erasing failed: ";
      break;
    case DeviceBoot:
      format = "Device booting failed: ";
      break;
    default:
      return kConnectionFailedText;
  }
  return std::string(format) + ResultText(result) + ".";
}

void CVeltrJobs::OnEnterUpgradeMode() {
  if (engine_.IsBusy()) {
    started_ = false;
    return;
  }
  StartFresh(ConnectOrBootBody);
}

void CVeltrJobs::OnColdBoot() {
  if (engine_.IsBusy()) {
    started_ = false;
    return;
  }
  StartFresh(ConnectOrBootBody, 1);
}

void CVeltrJobs::OnEraseSettings() {
  started_ = false;
  if (engine_.IsBusy()) {
    return;
  }
  if (!ui_.Confirm("Ok to erase all EEProm Settings of your system?\n\n"
                   "WARNING: You cannot cancel EEProm erase!")) {
    return;
  }
  StartFresh(EraseBody);
}

void CVeltrJobs::OnUploadFirmware() {
  started_ = false;
  if (engine_.IsBusy() || !FirmwareChecksPass()) {
    return;
  }
  if (!ui_.Confirm("Ok to update Firmware of your system?\n\n"
                   "WARNING: You cannot cancel the upload procedure!")) {
    return;
  }
  StartFresh(FirmwareBody);
}

void CVeltrJobs::OnUploadUserText() {
  started_ = false;
  if (engine_.IsBusy()) {
    return;
  }
  const std::array<std::string, 2> current = {AnsiToUtf8(engine_.info.userText[0]),
                                              AnsiToUtf8(engine_.info.userText[1])};
  const auto texts = ui_.EditUserTexts(current);
  if (!texts) {
    return;
  }
  engine_.newUserText[0] = Utf8ToAnsi((*texts)[0]);
  engine_.newUserText[1] = Utf8ToAnsi((*texts)[1]);
  StartFresh(UserTextBody);
}

bool CVeltrJobs::FirmwareChecksPass() {
  const DeviceInfo& info = engine_.info;
  const AppSettings& settings = engine_.Settings();
  if (!IsHardwareSupported(info.type, info.Hardware())) {
    ui_.ShowMessage(
        "This hardware revision is not supported in this release.\n"
        "Please, contact factory to obtain firmware for your device.",
        MessageIcon::None);
    return false;
  }
  // On the PXR boards the uploader version is the BIOS version.
  const uint16_t minimumBios = GetMinimumBiosVersion(info.type);
  if (settings.uploadProcessor != 0 && settings.uploadBios == 0 &&
      info.uploaderVersion.Word() < minimumBios) {
    ui_.ShowMessage("BIOS V" + FormatVersion(info.uploaderVersion.Word()) +
                        " found. Please, upgrade to BIOS V" + FormatVersion(minimumBios) +
                        " before upgrading the firmware.",
                    MessageIcon::None);
    return false;
  }
  return true;
}

void CVeltrJobs::StartFresh(void (*body)(UpgradeEngine&), int32_t coldBoot) {
  engine_.coldBoot = coldBoot;
  engine_.chosenUsbDevice.clear();
  engine_.chosenEthernetDevice.clear();
  body_ = body;
  started_ = engine_.StartJob(body_);
}

void CVeltrJobs::Restart() {
  if (!engine_.StartJob(body_)) {
    FinishQuietly(engine_.jobKind, engine_.jobResult);
  }
}

void CVeltrJobs::FinishQuietly(int32_t kind, int32_t result) {
  outcomes_.push_back({kind, result});
  engine_.ClearBusy();
}

const JobOutcome* CVeltrJobs::OutcomeOf(int32_t kind) const {
  for (const auto& outcome : outcomes_) {
    if (outcome.kind == kind) {
      return &outcome;
    }
  }
  return nullptr;
}

void CVeltrJobs::OnJobFinished() {
  // A worker cannot be stopped from outside; it has sent its notice, so it is about to end.
  engine_.WaitForWorker();
  const int32_t kind = engine_.jobKind;
  const int32_t result = engine_.jobResult;

  if (result == 0) {
    if (kind == Connecting || kind == DeviceBoot) {
      FinishQuietly(kind, result);
      return;
    }
    const bool exitUpgradeMode = ui_.ShowSuccess(SuccessText(kind), kind == FirmwareUpgrade);
    ShowPage(engine_, 0);
    FinishQuietly(kind, result);
    if (exitUpgradeMode) {
      OnEnterUpgradeMode();
    }
    return;
  }
  if (kind == Connecting) {
    FollowUpAfterFailedSearch();
    return;
  }
  ui_.ShowMessage(FailureText(kind, result), MessageIcon::Stop);
  ShowPage(engine_, 0);
  FinishQuietly(kind, result);
}

void CVeltrJobs::FollowUpAfterFailedSearch() {
  AppSettings& settings = engine_.Settings();
  const int32_t result = engine_.jobResult;
  if (result == kSelectionRequired) {
    const bool usb = settings.port == kPortUsb;
    IVeltrPort& port = usb ? static_cast<IVeltrPort&>(engine_.UsbPort())
                           : static_cast<IVeltrPort&>(engine_.EthernetPort());
    const auto chosen = ui_.SelectDevice(port);
    if (!chosen) {
      FinishQuietly(Connecting, result);
      return;
    }
    (usb ? engine_.chosenUsbDevice : engine_.chosenEthernetDevice) = *chosen;
    Restart();
    return;
  }
  if (engine_.coldBoot == 0) {
    engine_.coldBoot = 1;
    const int32_t searched = settings.port >= 0 && settings.port <= 3 ? settings.port : 0;
    const auto port = ui_.ColdBoot(searched, settings.autoselect != 0);
    if (!port) {
      FinishQuietly(Connecting, result);
      return;
    }
    SetPort(*port, settings);
    Restart();
    return;
  }
  ui_.ShowMessage(kConnectionFailedText, MessageIcon::Exclamation);
  FinishQuietly(Connecting, result);
}

}  // namespace veltr
