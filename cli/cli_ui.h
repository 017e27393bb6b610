#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "engine/jobs.h"

namespace veltr::cli {

// The dialogs of a job, answered on a terminal or by the command line's options.
// The heading and one line for each device of a listing: row number, type, serial number, mode
// and status. Devices that did not answer have no type, serial number or mode to show.
std::string FoundDeviceHeading(bool withAddress = false);
std::string FoundDeviceLine(size_t row, const FoundDevice& device);
// Every device of the list, in its order.
void PrintFoundDevices(CliOutput& output, const std::vector<FoundDevice>& found);

class CliUi final : public IVeltrJobUi {
 public:
  struct Answers {
    bool yes = false;          // answer every question and offer with its default
    bool interactive = false;  // stdin is a terminal: ask there
    bool first = false;        // after a listing, take the first device that answered
    std::array<std::string, 2> userTexts;
    // A signal noted by the program's handler: a question waiting for the terminal gives up,
    // declined, even when the signal came before the read began.
    const std::atomic<int>* pendingSignal = nullptr;
  };

  CliUi(CliOutput& output, Answers answers) : output_(output), answers_(std::move(answers)) {}

  bool Confirm(const std::string& question) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool ShowSuccess(const std::string& message, bool exitUpgradeMode) override;
  std::optional<PortId> ColdBoot(PortId searchedPort, bool searchedAll) override;
  // Lists what was found; with Answers::first takes the first device whose status is "Ok".
  std::optional<FoundDevice> SelectDevice(PortId port,
                                          const std::vector<FoundDevice>& found) override;
  std::optional<std::array<std::string, 2>> EditUserTexts(
      const std::array<std::string, 2>& current) override;

  // A question could not be asked (no terminal, no --yes) or the user said no.
  bool Declined() const { return declined_; }
  // The final message shown by the job end, if any.
  const std::string& LastMessage() const { return lastMessage_; }

 private:
  std::optional<std::string> Ask(const std::string& prompt);

  CliOutput& output_;
  Answers answers_;
  bool declined_ = false;
  std::string lastMessage_;
};

}  // namespace veltr::cli
