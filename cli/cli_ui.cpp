#include "cli/cli_ui.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "base/port.h"
#include "engine/app_settings.h"
#include "protocol/device_types.h"
#include "transport/device_identity.h"
#include "transport/port_map.h"

namespace veltr::cli {

std::optional<std::string> CliUi::Ask(const std::string& prompt) {
  output_.Flush();
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  // A signal that arrives between the prompt and the read would leave a plain read waiting for
  // ever: wait in short steps and look at the signal in between.
  if (answers_.pendingSignal != nullptr && std::cin.rdbuf()->in_avail() <= 0) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    for (;;) {
      if (answers_.pendingSignal->load() != 0) {
        return std::nullopt;
      }
      const int ready = poll(&in, 1, 100);
      if (ready > 0 || (ready < 0 && errno != EINTR)) {
        break;
      }
    }
  }
  std::string line;
  if (!std::getline(std::cin, line)) {
    return std::nullopt;
  }
  return line;
}

bool CliUi::Confirm(const std::string& question) {
  if (answers_.yes) {
    output_.Question(question, "yes (--yes)");
    return true;
  }
  if (!answers_.interactive || output_.Json()) {
    output_.Question(question, "not answered: run with --yes to confirm");
    declined_ = true;
    return false;
  }
  output_.Flush();
  const auto answer = Ask(question + "\n[y/N] ");
  const bool yes = answer && (*answer == "y" || *answer == "Y" || *answer == "yes");
  declined_ = !yes;
  return yes;
}

void CliUi::ShowMessage(const std::string& text, MessageIcon icon) {
  lastMessage_ = text;
  output_.Message(text, icon);
}

bool CliUi::ShowSuccess(const std::string& message, bool exitUpgradeMode) {
  lastMessage_ = message;
  output_.Message(message, MessageIcon::Information);
  return exitUpgradeMode;
}

std::optional<PortId> CliUi::ColdBoot(PortId searchedPort, bool searchedAll) {
  const std::string where =
      searchedAll ? "Failed to find device at ports COM1 - COM4."
                  : std::string("Failed to find device at ") + PortNameOf(searchedPort) + " port.";
  const std::string instructions = where +
                                   "\nTo initiate cold boot:\n1. Power down the device;\n"
                                   "2. Select the port to use;\n3. Press OK button;\n"
                                   "4. Power the device within 10 sec.";
  const std::string preset = PortNameOf(searchedPort);
  if (answers_.yes) {
    output_.Question(instructions, "OK on " + preset + " (--yes)");
    return searchedPort;
  }
  if (!answers_.interactive || output_.Json()) {
    output_.Question(instructions, "not answered: run with --yes to wait for a cold boot");
    return std::nullopt;
  }
  output_.Message(instructions, MessageIcon::Exclamation);
  for (;;) {
    const auto answer = Ask("Use port [" + preset + "], or q to cancel, then Enter: ");
    if (!answer || *answer == "q" || *answer == "Q") {
      return std::nullopt;
    }
    if (answer->empty()) {
      return searchedPort;
    }
    const int index = CVeltrPortMap::IndexOf(*answer);
    if (index >= 0) {
      return static_cast<PortId>(kPortCom1 + index);
    }
    std::fprintf(stderr, "Choose one of COM1, COM2, COM3, COM4.\n");
  }
}

std::string FoundDeviceHeading(bool withAddress) {
  char line[128];
  if (withAddress) {
    std::snprintf(line, sizeof line, "%3s  %-14s %-14s %-16s %-14s %s", "#", "Type",
                  "Serial number", "IP address", "Mode", "Status");
  } else {
    std::snprintf(line, sizeof line, "%3s  %-14s %-14s %-14s %s", "#", "Type", "Serial number",
                  "Mode", "Status");
  }
  return line;
}

std::string FoundDeviceLine(size_t row, const FoundDevice& device) {
  char line[192];
  if (!device.address.empty()) {
    // A network device said what it is in its discovery answer, reachable or not.
    std::snprintf(line, sizeof line, "%3zu  %-14s %-14s %-16s %-14s %s", row,
                  GetShortName(device.type), device.serialNumber.c_str(), device.address.c_str(),
                  ModeText(device.mode), DeviceStatusText(device.status));
    return line;
  }
  const bool answered = device.status == kDeviceOk;
  std::snprintf(line, sizeof line, "%3zu  %-14s %-14s %-14s %s", row,
                answered ? GetShortName(device.type) : "-",
                answered ? device.serialNumber.c_str() : "-",
                answered ? ModeText(device.mode) : "-", DeviceStatusText(device.status));
  return line;
}

void PrintFoundDevices(CliOutput& output, const std::vector<FoundDevice>& found) {
  if (!output.Json()) {
    const bool withAddress = !found.empty() && !found.front().address.empty();
    output.Note(FoundDeviceHeading(withAddress));
  }
  for (size_t i = 0; i < found.size(); ++i) {
    output.FoundDeviceRow(i + 1, found[i], FoundDeviceLine(i + 1, found[i]));
  }
}

std::optional<FoundDevice> CliUi::SelectDevice(PortId port, const std::vector<FoundDevice>& found) {
  if (answers_.first) {
    for (const FoundDevice& device : found) {
      if (device.status == kDeviceOk) {
        output_.Note(std::string("Taking the first device that answered on ") + PortNameOf(port) +
                     " (--first): " + device.serialNumber +
                     (device.address.empty() ? "" : " at " + device.address));
        return device;
      }
    }
  }
  output_.Note(std::string("Devices found on ") + PortNameOf(port) + ":");
  PrintFoundDevices(output_, found);
  const char* choose = port == kPortEthernet
                           ? "Choose one with --address ADDR, or take the first that is Ok with "
                             "--first."
                           : "Choose one with --serial-number SN, or take the first that "
                             "answered with --first.";
  output_.Note(answers_.first ? "None of them answered." : choose);
  return std::nullopt;
}

std::optional<std::array<std::string, 2>> CliUi::EditUserTexts(const std::array<std::string, 2>&) {
  return answers_.userTexts;
}

}  // namespace veltr::cli
