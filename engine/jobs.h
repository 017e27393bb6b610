#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/port.h"
#include "engine/job.h"

namespace veltr {

class UpgradeEngine;

enum class MessageIcon { None, Information, Question, Exclamation, Stop };

// What a front end puts between a job and the user. Called on the front end's own thread, never
// while a job body runs. Texts are UTF-8.
class IVeltrJobUi {
 public:
  virtual ~IVeltrJobUi() = default;
  // Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& question) = 0;
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // The success dialog: returns the final state of its "Exit upgrade mode" box.
  virtual bool ShowSuccess(const std::string& message, bool exitUpgradeMode) = 0;
  // The cold boot dialog: the port (COM1 to COM4) picked, or none on Cancel.
  virtual std::optional<PortId> ColdBoot(PortId searchedPort, bool searchedAll) = 0;
  // The found-devices dialog after a listing Open on port (USB or Ethernet): the device picked,
  // or none on Cancel. Only a device with status 0 may be picked.
  virtual std::optional<FoundDevice> SelectDevice(PortId port,
                                                  const std::vector<FoundDevice>& found) = 0;
  // The user text dialog, filled with the device's texts; the two new texts, or none on Cancel.
  virtual std::optional<std::array<std::string, 2>> EditUserTexts(
      const std::array<std::string, 2>& current) = 0;
};

// The job bodies, run on the worker thread.
void ConnectOrBootBody(UpgradeEngine& engine);
void FirmwareBody(UpgradeEngine& engine);
void UserTextBody(UpgradeEngine& engine);
void EraseBody(UpgradeEngine& engine);

// "Firmware upgrade succeeded." and the like; empty for kinds that end quietly.
std::string SuccessText(JobKind kind);
// "Firmware upgrade failed: no response." and the like; for a failed search the final message.
std::string FailureText(JobKind kind, ResultCode result);

inline constexpr const char* kConnectionFailedText = "Cannot establish connection!";

// The command handlers and the job end of the front end's thread. Each handler does nothing
// while a job runs. The end handler must run when the job-finished notice arrives.
class CVeltrJobs {
 public:
  CVeltrJobs(UpgradeEngine& engine, IVeltrJobUi& ui) : engine_(engine), ui_(ui) {}

  void OnEnterUpgradeMode();
  // The cold boot pass at once, on the port of the settings: for a device known not to start.
  void OnColdBoot();
  void OnEraseSettings();
  void OnUploadFirmware();
  void OnUploadUserText();
  void OnJobFinished();

  // The USB device every job connects to, by serial number, as if it had been picked after a
  // listing: for a front end that is told the device before the first search. Empty lists.
  void PresetUsbDevice(std::string serialNumber) { presetUsbDevice_ = std::move(serialNumber); }
  // The same for Ethernet: the device's dotted address or host name.
  void PresetEthernetDevice(std::string address) { presetEthernetDevice_ = std::move(address); }

  // Every job that ended and was not restarted; a front end without dialogs reads its outcome
  // here.
  const std::vector<JobOutcome>& Outcomes() const { return outcomes_; }
  // The first outcome of a kind, if a job of that kind has ended.
  const JobOutcome* OutcomeOf(JobKind kind) const;
  // False when the last handler started nothing (busy, a refused check, a declined question).
  bool Started() const { return started_; }

 private:
  // A request from the settings as they are now, on this thread.
  JobRequest FreshRequest() const;
  void StartFresh(void (*body)(UpgradeEngine&), JobRequest request);
  void Restart();
  void FinishQuietly(const JobOutcome& outcome);
  void FollowUpAfterFailedSearch(const JobOutcome& failed);
  bool FirmwareChecksPass(const JobRequest& request);

  UpgradeEngine& engine_;
  IVeltrJobUi& ui_;
  void (*body_)(UpgradeEngine&) = nullptr;
  // The request of the job last started; the follow-up passes change it and start the job again.
  JobRequest request_;
  std::vector<JobOutcome> outcomes_;
  bool started_ = false;
  std::string presetUsbDevice_;
  std::string presetEthernetDevice_;
};

}  // namespace veltr
