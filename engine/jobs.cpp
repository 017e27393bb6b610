#include "engine/jobs.h"

#include <utility>

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
    engine.job = JobOutcome::OfWork(DeviceBoot, Disconnect(engine));
    return;
  }
  // The search leaves its own outcome in the engine.
  Search(engine);
}

void FirmwareBody(UpgradeEngine& engine) {
  if (!Search(engine)) {
    return;
  }
  CVeltrPageLines(engine.Display(), 1).Clear();
  ShowPage(engine, 1);
  engine.job = JobOutcome::OfWork(FirmwareUpgrade, UploadFirmware(engine));
  WriteDeviceInfoLines(engine.Display(), engine.info);
}

void UserTextBody(UpgradeEngine& engine) {
  if (!Search(engine)) {
    return;
  }
  engine.job = JobOutcome::OfWork(UserTextUpgrade, UploadUserText(engine));
  WriteDeviceInfoLines(engine.Display(), engine.info);
}

void EraseBody(UpgradeEngine& engine) {
  if (!Search(engine)) {
    return;
  }
  engine.job = JobOutcome::OfWork(SettingsErase, EraseDeviceSettings(engine));
}

std::string SuccessText(JobKind kind) {
  switch (kind) {
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

std::string FailureText(JobKind kind, ResultCode result) {
  const char* format = nullptr;
  switch (kind) {
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
  StartFresh(ConnectOrBootBody, FreshRequest());
}

void CVeltrJobs::OnColdBoot() {
  if (engine_.IsBusy()) {
    started_ = false;
    return;
  }
  JobRequest request = FreshRequest();
  request.coldBoot = true;
  StartFresh(ConnectOrBootBody, std::move(request));
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
  StartFresh(EraseBody, FreshRequest());
}

void CVeltrJobs::OnUploadFirmware() {
  started_ = false;
  if (engine_.IsBusy()) {
    return;
  }
  JobRequest request = FreshRequest();
  if (!FirmwareChecksPass(request)) {
    return;
  }
  if (!ui_.Confirm("Ok to update Firmware of your system?\n\n"
                   "WARNING: You cannot cancel the upload procedure!")) {
    return;
  }
  StartFresh(FirmwareBody, std::move(request));
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
  JobRequest request = FreshRequest();
  request.newUserText = {Utf8ToAnsi((*texts)[0]), Utf8ToAnsi((*texts)[1])};
  StartFresh(UserTextBody, std::move(request));
}

bool CVeltrJobs::FirmwareChecksPass(const JobRequest& request) {
  const DeviceInfo& info = engine_.info;
  if (!IsHardwareSupported(info.type, info.Hardware())) {
    ui_.ShowMessage(
        "This hardware revision is not supported in this release.\n"
        "Please, contact factory to obtain firmware for your device.",
        MessageIcon::None);
    return false;
  }
  // On the PXR boards the uploader version is the BIOS version.
  const uint16_t minimumBios = GetMinimumBiosVersion(info.type);
  if (request.uploadProcessor && !request.uploadBios && info.uploaderVersion.Word() < minimumBios) {
    ui_.ShowMessage("BIOS V" + FormatVersion(info.uploaderVersion.Word()) +
                        " found. Please, upgrade to BIOS V" + FormatVersion(minimumBios) +
                        " before upgrading the firmware.",
                    MessageIcon::None);
    return false;
  }
  return true;
}

JobRequest CVeltrJobs::FreshRequest() const {
  // A job started from the user interface has no cold boot and no chosen device yet, unless the
  // front end named the device up front.
  JobRequest request = RequestFrom(engine_.Settings());
  request.chosenUsbDevice = presetUsbDevice_;
  request.chosenEthernetDevice = presetEthernetDevice_;
  return request;
}

void CVeltrJobs::StartFresh(void (*body)(UpgradeEngine&), JobRequest request) {
  body_ = body;
  request_ = std::move(request);
  started_ = engine_.StartJob(body_, request_);
}

void CVeltrJobs::Restart() {
  if (!engine_.StartJob(body_, request_)) {
    FinishQuietly(engine_.job);
  }
}

void CVeltrJobs::FinishQuietly(const JobOutcome& outcome) {
  outcomes_.push_back(outcome);
  engine_.ClearBusy();
}

const JobOutcome* CVeltrJobs::OutcomeOf(JobKind kind) const {
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
  const JobOutcome outcome = engine_.job;

  if (outcome.Succeeded()) {
    if (outcome.kind == Connecting || outcome.kind == DeviceBoot) {
      FinishQuietly(outcome);
      return;
    }
    const bool exitUpgradeMode =
        ui_.ShowSuccess(SuccessText(outcome.kind), outcome.kind == FirmwareUpgrade);
    ShowPage(engine_, 0);
    FinishQuietly(outcome);
    if (exitUpgradeMode) {
      OnEnterUpgradeMode();
    }
    return;
  }
  if (outcome.kind == Connecting) {
    FollowUpAfterFailedSearch(outcome);
    return;
  }
  ui_.ShowMessage(FailureText(outcome.kind, outcome.WorkResult()), MessageIcon::Stop);
  ShowPage(engine_, 0);
  FinishQuietly(outcome);
}

void CVeltrJobs::FollowUpAfterFailedSearch(const JobOutcome& failed) {
  if (failed.SearchResult() == ConnectResult::SelectionRequired) {
    const PortId port = request_.port == kPortUsb ? kPortUsb : kPortEthernet;
    // The worker has ended: the port's list is this thread's to read now.
    const auto chosen = ui_.SelectDevice(port, engine_.PortFor(port).FoundDevices());
    if (!chosen) {
      FinishQuietly(failed);
      return;
    }
    if (port == kPortUsb) {
      request_.chosenUsbDevice = chosen->serialNumber;
    } else {
      request_.chosenEthernetDevice = chosen->address;
    }
    Restart();
    return;
  }
  if (!request_.coldBoot) {
    request_.coldBoot = true;
    const PortId searched = IsComPort(request_.port) ? request_.port : kPortCom1;
    const auto port = ui_.ColdBoot(searched, request_.autoselect);
    if (!port) {
      FinishQuietly(failed);
      return;
    }
    if (SetPort(*port, engine_.Settings())) {
      request_.port = *port;
    }
    Restart();
    return;
  }
  ui_.ShowMessage(kConnectionFailedText, MessageIcon::Exclamation);
  FinishQuietly(failed);
}

}  // namespace veltr
