// veltr-devsim: one simulated device on a fresh pseudo-terminal, or with --udp on the network.
// Prints the slave's path (or ADDR:7890) as its first line and runs until SIGTERM or SIGINT;
// SIGUSR1 powers up a dead device (cold boot).
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <mutex>

#include "devsim/device_state.h"
#include "devsim/device_table.h"
#include "devsim/pty.h"
#include "devsim/simulator.h"
#include "devsim/udp.h"

namespace {

struct Arguments {
  std::string type;
  std::optional<int> hardware;
  std::optional<int> uploader;
  std::optional<std::string> serial;
  std::optional<std::string> text1;
  std::optional<std::string> text2;
  std::optional<int> logicVersion;
  std::optional<int> processorVersion;
  std::optional<std::string> identifier;
  std::string stateDir;
  std::string link;
  std::string start = "firmware";
  std::string processorWrites = "pages";
  std::optional<int> powerUpAfter;
  std::vector<std::uint32_t> dropPages;
  std::vector<std::uint32_t> corruptPages;
  std::optional<std::uint32_t> silentAfterPages;
  int slowMs = 0;
  bool strayBytes = false;
  bool refuseProgramMode = false;
  std::vector<std::uint32_t> failEchoes;
  std::vector<std::uint32_t> shortAnswerPages;
  std::vector<std::uint32_t> lateAnswerPages;
  std::optional<std::uint32_t> restartAfterPages;
  bool wireSpeed = false;
  bool verbose = false;
  bool usb = false;
  bool olderIdentify = false;
  bool shortIdentifyOnly = false;
  std::optional<std::uint32_t> unplugAfterPages;
  std::string udpAddress;
  std::vector<std::uint32_t> duplicatePages;
  std::vector<std::uint32_t> foreignPages;
  std::string foreignAddress;
  int discoveryLength = 30;
  int discoveryDelayMs = 0;
  bool shortFormsOnly = false;
  std::optional<int> consoleMode;  // default: 1 on USB, 0 on the network
};

std::optional<std::uint16_t> Word(const std::optional<int>& value) {
  if (!value) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(*value);
}

std::mutex stderrMutex;
void ToStderr(const std::string& line) {
  std::lock_guard lock(stderrMutex);
  std::cerr << line << '\n';
}

// The device as the state folder left it, changed by what the command line names.
std::optional<devsim::DeviceState> BuildDevice(const Arguments& args, std::string* error) {
  devsim::IdentityChanges changes;
  if (!args.type.empty()) {
    changes.type = devsim::ParseTypeName(args.type);
    if (!changes.type) {
      *error = "unknown device type \"" + args.type + "\"";
      return std::nullopt;
    }
  }
  std::optional<devsim::DeviceState> state;
  if (!args.stateDir.empty() && devsim::HasState(args.stateDir)) {
    state = devsim::LoadState(args.stateDir, error);
  } else {
    state = devsim::NewDevice(changes.type.value_or(0), error);
  }
  if (!state) {
    return std::nullopt;
  }
  changes.hardwareVersion = Word(args.hardware);
  changes.uploaderVersion = Word(args.uploader);
  changes.serialNumber = args.serial;
  changes.text1 = args.text1;
  changes.text2 = args.text2;
  changes.logicVersion = Word(args.logicVersion);
  changes.processorVersion = Word(args.processorVersion);
  changes.identifier = args.identifier;
  if (!devsim::ApplyChanges(*state, changes, error)) {
    return std::nullopt;
  }
  return state;
}

// A link left behind by a run that was killed may be replaced; anything else at the path is not
// ours to remove.
bool MakeLink(const std::string& link, const std::string& target, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(link, ec))) {
    fs::remove(link, ec);
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    *error = "cannot link " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
  char buffer[4096];
  const ssize_t length = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (length > 0 && std::string(buffer, static_cast<std::size_t>(length)) == target) {
    unlink(link.c_str());
  }
}

// Waits for the end signal, powering up a dead device on SIGUSR1.
void WaitForEnd(devsim::Simulator& simulator, const sigset_t& signals) {
  for (;;) {
    const int signal = sigwaitinfo(&signals, nullptr);
    if (signal == SIGUSR1) {
      simulator.PowerUp();
    } else if (signal > 0) {
      return;
    }
  }
}

int RunOnNetwork(const Arguments& args, devsim::DeviceState state, devsim::SimulatorOptions options,
                 const sigset_t& signals) {
  devsim::UdpEndpoint endpoint;
  std::string error;
  if (!devsim::OpenUdpEndpoint(args.udpAddress, devsim::kDeviceUdpPort, endpoint, &error)) {
    ToStderr("veltr-devsim: " + error);
    return 1;
  }
  devsim::NetworkLink link;
  link.broadcastFd = endpoint.broadcast;
  std::copy(std::begin(endpoint.ip), std::end(endpoint.ip), std::begin(link.ip));
  link.discoveryLength = args.discoveryLength;
  link.discoveryDelayMs = args.discoveryDelayMs;
  link.shortFormsOnly = args.shortFormsOnly;
  link.consoleModeByte = static_cast<std::uint8_t>(args.consoleMode.value_or(0));
  // The stranger on the same network: a socket of its own on another address, same port.
  devsim::UdpEndpoint foreign;
  if (!args.foreignAddress.empty()) {
    if (!devsim::OpenUdpEndpoint(args.foreignAddress, devsim::kDeviceUdpPort, foreign, &error)) {
      ToStderr("veltr-devsim: " + error);
      devsim::CloseUdpEndpoint(endpoint);
      return 1;
    }
    link.foreignFd = foreign.unicast;
  }
  options.network = link;
  int status = 0;
  {
    devsim::Simulator simulator(endpoint.unicast, std::move(state), options);
    if (!simulator.Start(&error)) {
      ToStderr("veltr-devsim: " + error);
      status = 1;
    } else {
      std::printf("%s:%u\n", args.udpAddress.c_str(), unsigned{devsim::kDeviceUdpPort});
      std::fflush(stdout);
      WaitForEnd(simulator, signals);
      simulator.Stop();
    }
  }
  devsim::CloseUdpEndpoint(foreign);
  devsim::CloseUdpEndpoint(endpoint);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated Veltrano device on a pseudo-terminal"};
  app.set_version_flag("--version", std::string("veltr-devsim ") + VELTR_VERSION,
                       "Print the version and exit");
  Arguments args;
  auto word = CLI::Range(0, 65535);
  app.add_option("--type", args.type, "Device type: short name (KL1A, \"PXR(-TP)\") or number");
  app.add_option("--hw", args.hardware, "Hardware version word, decimal (101 is 1.01)")
      ->check(word);
  app.add_option("--uploader", args.uploader, "Uploader (BIOS) version word")->check(word);
  app.add_option("--serial", args.serial, "Serial number, as in B-07-1234");
  app.add_option("--text1", args.text1, "User text 1, at most 30 bytes");
  app.add_option("--text2", args.text2, "User text 2, at most 30 bytes");
  app.add_option("--logic-version", args.logicVersion, "Recorded logic version word")->check(word);
  app.add_option("--processor-version", args.processorVersion, "Recorded processor version word")
      ->check(word);
  app.add_option("--identifier", args.identifier, "8-byte type identifier to report instead");
  app.add_option("--state", args.stateDir, "Folder holding the device's memory across runs");
  app.add_option("--link", args.link, "Symlink to the slave, removed on exit");
  app.add_option("--start", args.start, "Start state")
      ->check(CLI::IsMember({"firmware", "program", "loader", "dead", "upgrade"}));
  app.add_option("--processor-writes", args.processorWrites,
                 "How the loader takes the processor image")
      ->check(CLI::IsMember({"pages", "words", "blocks"}));
  app.add_option("--power-up-after", args.powerUpAfter, "Dead device powers up after MS")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--drop-page", args.dropPages, "Leave the N-th page frame unanswered")
      ->delimiter(',')
      ->check(CLI::PositiveNumber);
  app.add_option("--corrupt-page", args.corruptPages, "Answer the N-th page frame with a bad sum")
      ->delimiter(',')
      ->check(CLI::PositiveNumber);
  app.add_option("--silent-after-pages", args.silentAfterPages,
                 "Answer nothing once N page frames were answered");
  app.add_option("--slow", args.slowMs, "Delay every answer by MS")->check(CLI::NonNegativeNumber);
  app.add_flag("--stray-bytes", args.strayBytes, "Junk bytes on the line after each answer");
  app.add_flag("--refuse-program-mode", args.refuseProgramMode, "Never answer the access sequence");
  app.add_option("--fail-echo", args.failEchoes, "Echo the N-th EEPROM data byte wrong")
      ->delimiter(',')
      ->check(CLI::PositiveNumber);
  app.add_option("--short-answer-page", args.shortAnswerPages,
                 "Acknowledge the N-th page frame with 3 bytes only")
      ->delimiter(',')
      ->check(CLI::PositiveNumber);
  app.add_option("--late-answer-page", args.lateAnswerPages,
                 "Acknowledge the N-th page frame after the host's time-out")
      ->delimiter(',')
      ->check(CLI::PositiveNumber);
  app.add_option("--restart-after-pages", args.restartAfterPages,
                 "Reset into the loader once N page frames were answered")
      ->check(CLI::PositiveNumber);
  app.add_flag("--wire-speed", args.wireSpeed, "Pace bytes at the line's baud rate");
  app.add_flag("--verbose", args.verbose, "One line per transaction on stderr");
  app.add_flag("--usb", args.usb, "Be the device's USB HID interface: 64-byte reports each way");
  app.add_flag("--older-identify", args.olderIdentify,
               "USB: identify answers in the older layouts, without the variant byte");
  app.add_flag("--short-identify-only", args.shortIdentifyOnly,
               "USB: leave the addressed identify and mode requests unanswered");
  app.add_option("--unplug-after-pages", args.unplugAfterPages,
                 "USB: pull the cable when the page frame after N answered ones arrives");
  app.add_option("--udp", args.udpAddress,
                 "Be a network device at this IPv4 address (UDP port 7890) instead of a tty");
  app.add_option("--duplicate-page", args.duplicatePages,
                 "Network: send the answer to the N-th page frame twice")
      ->delimiter(',')
      ->check(CLI::PositiveNumber);
  app.add_option("--foreign-page", args.foreignPages,
                 "Network: leave the N-th page frame unstored and have --foreign-address "
                 "acknowledge it")
      ->delimiter(',')
      ->check(CLI::PositiveNumber);
  app.add_option("--foreign-address", args.foreignAddress,
                 "Network: the other address --foreign-page answers from");
  app.add_option("--discovery-length", args.discoveryLength,
                 "Length byte of the discovery answer: 30, or 19 for older devices")
      ->check(CLI::IsMember({19, 30}));
  app.add_option("--discovery-delay", args.discoveryDelayMs, "Answer a discovery after MS")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--short-forms-only", args.shortFormsOnly,
               "Answer only the short identify and mode requests, as older devices do");
  app.add_option("--console-mode", args.consoleMode,
                 "Mode byte the console firmware reports (0 Veltrano, 1-3 Halvik, ...; "
                 "default 1 on USB, 0 on the network)")
      ->check(CLI::Range(0, 253));
  CLI11_PARSE(app, argc, argv);

  std::string error;
  std::error_code ec;
  if (!args.stateDir.empty() && std::filesystem::exists(args.stateDir, ec) &&
      !std::filesystem::is_directory(args.stateDir, ec)) {
    ToStderr("veltr-devsim: --state " + args.stateDir + " is not a folder");
    return 2;
  }
  auto state = BuildDevice(args, &error);
  if (!state) {
    ToStderr("veltr-devsim: " + error);
    return 2;
  }

  devsim::SimulatorOptions options;
  options.start = *devsim::ParseMode(args.start);
  options.powerUpAfterMs = args.powerUpAfter;
  options.processorWrites = *devsim::ParseProcessorWrites(args.processorWrites);
  options.faults.dropPages = args.dropPages;
  options.faults.corruptPages = args.corruptPages;
  options.faults.silentAfterPages = args.silentAfterPages;
  options.faults.slowMs = args.slowMs;
  options.faults.strayBytes = args.strayBytes;
  options.faults.refuseProgramMode = args.refuseProgramMode;
  options.faults.failEchoes = args.failEchoes;
  options.faults.shortAnswerPages = args.shortAnswerPages;
  options.faults.lateAnswerPages = args.lateAnswerPages;
  options.faults.restartAfterPages = args.restartAfterPages;
  options.wireSpeed = args.wireSpeed;
  options.stateDir = args.stateDir;
  options.error = [](const std::string& message) { ToStderr("veltr-devsim: " + message); };
  if (args.verbose) {
    options.log = ToStderr;
  }
  options.usb.enabled = args.usb;
  options.usb.consoleMode = static_cast<std::uint8_t>(args.consoleMode.value_or(1));
  options.usb.olderLayout = args.olderIdentify;
  options.usb.shortOnly = args.shortIdentifyOnly;
  options.faults.unplugAfterPages = args.unplugAfterPages;
  options.faults.duplicatePages = args.duplicatePages;
  options.faults.foreignPages = args.foreignPages;
  if ((!args.duplicatePages.empty() || !args.foreignAddress.empty()) && args.udpAddress.empty()) {
    ToStderr("veltr-devsim: --duplicate-page and --foreign-address need --udp");
    return 2;
  }
  if (!args.foreignPages.empty() && args.foreignAddress.empty()) {
    ToStderr("veltr-devsim: --foreign-page needs --foreign-address");
    return 2;
  }
  if (args.unplugAfterPages && !args.usb) {
    ToStderr("veltr-devsim: --unplug-after-pages needs --usb");
    return 2;
  }

  // Signals are taken by sigwait on this thread only; the simulator's thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) {
    sigaddset(&signals, signal);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  if (!args.udpAddress.empty()) {
    return RunOnNetwork(args, std::move(*state), options, signals);
  }

  devsim::PtyPair pty;
  if (!devsim::OpenPtyPair(pty, &error)) {
    ToStderr("veltr-devsim: " + error);
    return 1;
  }
  if (!args.link.empty() && !MakeLink(args.link, pty.slavePath, &error)) {
    ToStderr("veltr-devsim: " + error);
    devsim::ClosePtyPair(pty);
    return 1;
  }
  // The cable pulled: the node goes away and its reader sees the line hang up. Runs on the
  // simulator's thread, which touches the line no more; this thread only closes it after
  // Stop().
  options.unplug = [&pty, &args] {
    if (!args.link.empty()) {
      RemoveLink(args.link, pty.slavePath);
    }
    devsim::ClosePtyPair(pty);
  };
  int status = 0;
  {
    devsim::Simulator simulator(pty.master, std::move(*state), options);
    if (!simulator.Start(&error)) {
      ToStderr("veltr-devsim: " + error);
      status = 1;
    } else {
      std::printf("%s\n", pty.slavePath.c_str());
      std::fflush(stdout);
      WaitForEnd(simulator, signals);
      simulator.Stop();
    }
  }
  if (!args.link.empty()) {
    RemoveLink(args.link, pty.slavePath);
  }
  devsim::ClosePtyPair(pty);
  return status;
}
