#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltr {

class UpgradeEngine;
class IVeltrPort;

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
  // The cold boot dialog: the port id (0 to 3) picked, or none on Cancel.
  virtual std::optional<int32_t> ColdBoot(int32_t searchedPort, bool searchedAll) = 0;
  // The found-devices dialog of a port that listed several devices: the serial number (USB) or
  // address (Ethernet) picked, or none on Cancel.
  virtual std::optional<std::string> SelectDevice(IVeltrPort& port) = 0;
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
std::string SuccessText(int32_t jobKind);
// "Firmware upgrade failed: no response." and the like.
std::string FailureText(int32_t jobKind, int32_t result);

inline constexpr const char* kConnectionFailedText = "Cannot establish connection!";

// How one job ended, in the order jobs ended.
struct JobOutcome {
  int32_t kind = 0;
  int32_t result = 0;
};

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

  // Every job that ended and was not restarted; a front end without dialogs reads its outcome
  // here.
  const std::vector<JobOutcome>& Outcomes() const { return outcomes_; }
  // The first outcome of a kind, if a job of that kind has ended.
  const JobOutcome* OutcomeOf(int32_t kind) const;
  // False when the last handler started nothing (busy, a refused check, a declined question).
  bool Started() const { return started_; }

 private:
  void StartFresh(void (*body)(UpgradeEngine&), int32_t coldBoot = 0);
  void Restart();
  void FinishQuietly(int32_t kind, int32_t result);
  void FollowUpAfterFailedSearch();
  bool FirmwareChecksPass();

  UpgradeEngine& engine_;
  IVeltrJobUi& ui_;
  void (*body_)(UpgradeEngine&) = nullptr;
  std::vector<JobOutcome> outcomes_;
  bool started_ = false;
};

}  // namespace veltr
