// veltr: the upgrade engine from the command line, for scripted and headless work.

#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/cli_output.h"
#include "cli/cli_ui.h"
#include "engine/app_settings.h"
#include "engine/jobs.h"
#include "engine/notice_queue.h"
#include "engine/text_codec.h"
#include "engine/upgrade_engine.h"
#include "package/package_description.h"
#include "protocol/device_types.h"
#include "protocol/result_code.h"
#include "transport/serial_enum.h"
#include "transport/system_ports.h"

namespace veltr::cli {
namespace {

constexpr int kExitUsage = 64;

enum class Command { Info, Upgrade, EraseSettings, UserText, Boot, Ports, Discover };

struct Options {
  std::string port = "COM1";
  bool autoselect = true;
  std::string deviceType = "KL1A";
  std::vector<std::string> serialMaps;
  std::string serialNumber;  // USB: the device to connect to
  std::string address;       // Ethernet: the device to connect to, dotted or by host name
  bool first = false;        // USB, Ethernet: take the first device that answered a listing
  bool coldBoot = false;
  std::string packageDir;
  std::string iniFile;
  bool noLogic = false;
  bool noProcessor = false;
  bool bios = false;
  bool yes = false;
  bool json = false;
  std::string traceFile;
  std::string userText[2];
};

// While an upload runs (a job busy on a device in program mode), Ctrl-C, SIGTERM and SIGHUP must
// not cut it short: a device with half its pages written does not start. The handlers only note
// the signal; the main loop decides. Outside an upload the program ends as a signal would end it,
// after taking a device in program mode out of it.
std::atomic<int> g_signal{0};

void OnSignal(int signal) {
  g_signal.store(signal);
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a question read from the terminal returns at once, declined.
  action.sa_flags = 0;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
  // A closed terminal or a reader that went away must not end an upload; the writes just fail.
  std::signal(SIGPIPE, SIG_IGN);
}

[[noreturn]] void EndBySignal(int signal) {
  std::fflush(stdout);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  std::_Exit(128 + signal);
}

// The signal that arrived and what became of it.
struct SignalState {
  int deferred = 0;  // arrived during an upload: the job runs on, the program ends with its status
  int ending = 0;    // arrived while the device was idle in program mode: end after leaving it
};

void SayWaiting(CliOutput& output) {
  static const char kWait[] = "Please, wait for upload completion.\n";
  output.Flush();  // not into the middle of a progress line on the same terminal
  (void)!write(STDERR_FILENO, kWait, sizeof kWait - 1);
  if (output.Json()) {
    output.Note("Please, wait for upload completion.");
  }
}

// Looks at a signal that arrived since the last look.
void CheckSignal(UpgradeEngine& engine, CliOutput& output, SignalState& state) {
  const int signal = g_signal.exchange(0);
  if (signal == 0) {
    return;
  }
  if (engine.IsBusy() && engine.IsConnected()) {
    state.deferred = signal;
    SayWaiting(output);
    return;
  }
  if (!engine.IsConnected()) {
    EndBySignal(signal);  // nothing on the device to put right
  }
  state.ending = signal;  // idle in program mode: the engine takes the device out as the run ends
}

std::optional<PortId> ParsePortId(const std::string& name) {
  for (PortId id : kSelectablePorts) {
    if (strcasecmp(name.c_str(), PortNameOf(id)) == 0) {
      return id;
    }
  }
  return std::nullopt;
}

std::optional<DeviceType> ParseDeviceType(const std::string& name) {
  const DeviceType exact = TypeFromShortName(name);
  if (exact != kNoDeviceType) {
    return exact;
  }
  for (DeviceType type = 0; type < kDeviceTypeCount; ++type) {
    if (strcasecmp(name.c_str(), GetShortName(type)) == 0) {
      return type;
    }
  }
  return std::nullopt;
}

std::string DeviceTypeList() {
  std::string list;
  for (DeviceType type = 0; type < kDeviceTypeCount; ++type) {
    list += (type == 0 ? "" : ", ");
    list += GetShortName(type);
  }
  return list;
}

// Usage errors are told on stderr and, with --json, as the run's result object too.
int UsageError(const std::string& command, bool json, const std::string& text) {
  std::fprintf(stderr, "veltr: %s\n", TerminalSafe(text, true).c_str());
  if (json) {
    CliOutput(stdout, false, true).Result(command, kExitUsage, text);
  }
  return kExitUsage;
}

void Warn(CliOutput& output, const std::string& text) {
  if (output.Json()) {
    output.Note("warning: " + text);
    return;
  }
  output.Flush();
  std::fprintf(stderr, "veltr: warning: %s\n", TerminalSafe(text).c_str());
}

// Runs the notices of the engine until no job is left: display changes are printed, and each
// job-finished notice runs the job end, which may start the next job (a retry, or leaving
// upgrade mode after a firmware upgrade).
void RunUntilIdle(UpgradeEngine& engine, CVeltrJobs& jobs, CliOutput& output,
                  SignalState& signals) {
  while (engine.IsBusy()) {
    const auto notice = engine.Notices().Take(std::chrono::milliseconds(200));
    CheckSignal(engine, output, signals);
    if (!notice) {
      continue;
    }
    if (notice->kind == Notice::Kind::Display) {
      output.Display(notice->change);
      continue;
    }
    jobs.OnJobFinished();
  }
  output.Flush();
}

std::string JsonLine(const nlohmann::json& event) {
  return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The stable name is what a user maps a COM port to: /dev/ttyUSB0 goes to whichever adapter
// was plugged in first, /dev/serial/by-id/... stays with the adapter.
int ListPortsAsJson(const CVeltrPortMap& map, const std::vector<SerialDeviceInfo>& devices) {
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    std::printf("%s\n", JsonLine({{"event", "port-map"},
                                  {"port", CVeltrPortMap::ComName(i)},
                                  {"path", map.PathAt(i)}})
                            .c_str());
  }
  for (const auto& device : devices) {
    nlohmann::json event = {{"event", "serial-device"},
                            {"path", device.path},
                            {"stable-name", device.byIdPath},
                            {"driver", device.driver},
                            {"available", device.available}};
    if (!device.available) {
      event["problem"] = device.problem;
    }
    std::printf("%s\n", JsonLine(event).c_str());
  }
  std::printf("%s\n", JsonLine({{"event", "result"},
                                {"command", "ports"},
                                {"code", 0},
                                {"message", std::to_string(devices.size()) + " found"}})
                          .c_str());
  return 0;
}

int ListPorts(const CVeltrPortMap& map, bool json) {
  const auto devices = ListSerialDevices();
  if (json) {
    return ListPortsAsJson(map, devices);
  }
  std::printf("Port map:\n");
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    std::printf("  %s -> %s\n", CVeltrPortMap::ComName(i).c_str(), map.PathAt(i).c_str());
  }
  std::printf("Serial devices on this machine:%s\n", devices.empty() ? " none" : "");
  for (const auto& device : devices) {
    std::printf("  %s%s%s%s  %s\n", TerminalSafe(device.path).c_str(),
                device.driver.empty() ? "" : "  (", device.driver.c_str(),
                device.driver.empty() ? "" : ")",
                device.available ? "available" : TerminalSafe(device.problem).c_str());
    if (!device.byIdPath.empty()) {
      std::printf("      %s\n", TerminalSafe(device.byIdPath).c_str());
    }
  }
  const bool anyStableName = std::any_of(
      devices.begin(), devices.end(), [](const auto& device) { return !device.byIdPath.empty(); });
  if (anyStableName) {
    std::printf("Map a port to a stable name: --serial COM1=/dev/serial/by-id/...\n");
  }
  return 0;
}

// Every device on the port, as a listing Open finds it; no job runs and no device is changed.
int Discover(const Options& options, PortId port, const CVeltrPortMap& map) {
  CliOutput output(stdout, isatty(STDOUT_FILENO) != 0, options.json);
  CVeltrPortSet ports = MakeSystemPorts(map);
  IVeltrPort& listing = ports.For(port);
  PortSettings settings;
  settings.name = PortNameOf(port);
  settings.udpPort = kDeviceUdpPort;
  const ConnectResult result = listing.Open(settings);
  const std::vector<FoundDevice> found = listing.FoundDevices();
  const std::string reason = listing.LastError();
  if (!reason.empty()) {
    Warn(output, reason);
  }
  if (result != ConnectResult::SelectionRequired || found.empty()) {
    output.Note(std::string("No device found on ") + PortNameOf(port) + ".");
    output.Result("discover", static_cast<int32_t>(ConnectResult::NoDeviceFound),
                  ConnectResultText(ConnectResult::NoDeviceFound));
    return static_cast<int>(ConnectResult::NoDeviceFound);
  }
  PrintFoundDevices(output, found);
  output.Result("discover", 0, std::to_string(found.size()) + " found");
  return 0;
}

bool FillPortMap(const Options& options, CVeltrPortMap& map, std::string& error) {
  for (const auto& entry : options.serialMaps) {
    const auto equals = entry.find('=');
    if (equals == std::string::npos || equals + 1 == entry.size() ||
        !map.Set(entry.substr(0, equals), entry.substr(equals + 1))) {
      error = "--serial takes COMn=PATH with n from 1 to 4, not \"" + entry + "\"";
      return false;
    }
  }
  return true;
}

bool CheckUserTexts(const Options& options, std::string& error) {
  for (int i = 0; i < 2; ++i) {
    error = UserTextProblem(i + 1, options.userText[i]);
    if (!error.empty()) {
      return false;
    }
  }
  return true;
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

// A signal that arrived between jobs, while the device waits in program mode: the engine takes
// it out of program mode as the run ends.
std::optional<int> EndedBetweenJobs(UpgradeEngine& engine, CliOutput& output, SignalState& signals,
                                    const char* command) {
  CheckSignal(engine, output, signals);
  if (signals.ending == 0) {
    return std::nullopt;
  }
  const int code = 128 + signals.ending;
  output.Flush();
  std::fprintf(stderr, "veltr: ended by %s\n", SignalName(signals.ending).c_str());
  output.Result(command, code, "ended by " + SignalName(signals.ending));
  return code;
}

const char* CommandName(Command command) {
  switch (command) {
    case Command::Info:
      return "info";
    case Command::Upgrade:
      return "upgrade";
    case Command::EraseSettings:
      return "erase-settings";
    case Command::UserText:
      return "user-text";
    case Command::Boot:
      return "boot";
    case Command::Ports:
      return "ports";
    case Command::Discover:
      return "discover";
  }
  return "";
}

JobKind JobKindOf(Command command) {
  switch (command) {
    case Command::Upgrade:
      return FirmwareUpgrade;
    case Command::EraseSettings:
      return SettingsErase;
    case Command::UserText:
      return UserTextUpgrade;
    case Command::Boot:
      return DeviceBoot;
    default:
      return Connecting;
  }
}

// Which package description a firmware upgrade uses, said before the job; false when it is
// damaged and the upgrade must not start.
bool TellPackage(const std::string& path, const PackageDescriptionReport& report,
                 CliOutput& output) {
  if (!report.found) {
    output.Note("Package description: none found: built-in versions");
    return true;
  }
  if (!report.readable) {
    output.Note("Package description: none read: built-in versions");
    Warn(output,
         "cannot read the package description " + path + "; the built-in versions are used");
    return true;
  }
  output.Note("Package description: " + path);
  for (const auto& problem : report.damaged) {
    Warn(output, "package description " + path + ": " + problem);
  }
  return report.damaged.empty();
}

// Beside the program first, then the package folder, then the working folder: an installed
// veltr in /usr/bin works from a package folder.
std::string LookUpPackageDescription(const Options& options) {
  std::error_code ec;
  const std::filesystem::path workDir = std::filesystem::current_path(ec);
  return FindPackageDescription(ProgramFolder(), options.packageDir,
                                ec ? std::string() : workDir.string());
}

int Run(const Options& options, Command command) {
  const char* name = CommandName(command);
  AppSettings settings;
  const auto port = ParsePortId(options.port);
  if (!port) {
    return UsageError(
        name, options.json,
        "--port takes COM1, COM2, COM3, COM4, USB or Ethernet, not \"" + options.port + "\"");
  }
  settings.port = *port;
  const auto type = ParseDeviceType(options.deviceType);
  if (!type) {
    return UsageError(
        name, options.json,
        "unknown device type \"" + options.deviceType + "\"; known types: " + DeviceTypeList());
  }
  settings.deviceType = *type;
  settings.autoselect = options.autoselect ? 1 : 0;
  settings.selectDialog = 0;
  settings.uploadLogic = options.noLogic ? 0 : 1;
  settings.uploadProcessor = options.noProcessor ? 0 : 1;
  settings.uploadBios = options.bios ? 1 : 0;

  std::string error;
  IVeltrDisplay display;
  PackageVersionTable package;
  CVeltrPortMap portMap;
  if (!FillPortMap(options, portMap, error)) {
    return UsageError(name, options.json, error);
  }
  if (command == Command::Ports) {
    return ListPorts(portMap, options.json);
  }
  if (command == Command::Discover) {
    if (*port != kPortUsb && *port != kPortEthernet) {
      return UsageError(name, options.json, "discover takes --port USB or Ethernet");
    }
    return Discover(options, *port, portMap);
  }
  if (!options.serialNumber.empty() && *port != kPortUsb) {
    return UsageError(name, options.json, "--serial-number is used with --port USB");
  }
  if (!options.address.empty() && *port != kPortEthernet) {
    return UsageError(name, options.json, "--address is used with --port Ethernet");
  }
  if (options.first && *port != kPortUsb && *port != kPortEthernet) {
    return UsageError(name, options.json, "--first is used with --port USB or Ethernet");
  }
  if (command == Command::UserText && !CheckUserTexts(options, error)) {
    return UsageError(name, options.json, error);
  }
  if (!options.packageDir.empty() && !std::filesystem::is_directory(options.packageDir)) {
    return UsageError(name, options.json,
                      "package folder \"" + options.packageDir + "\" does not exist");
  }
  if (!options.iniFile.empty() && !std::filesystem::is_regular_file(options.iniFile)) {
    return UsageError(name, options.json,
                      "package description \"" + options.iniFile + "\" does not exist");
  }
  const std::string iniPath =
      options.iniFile.empty() ? LookUpPackageDescription(options) : options.iniFile;
  PackageDescriptionReport packageReport;
  LoadPackageDescription(iniPath, package, &packageReport);

  UpgradeEngine engine(MakeSystemPorts(portMap));
  if (!options.traceFile.empty() && !engine.StartTrace(options.traceFile, error)) {
    return UsageError(name, options.json, "cannot write the wire trace: " + error);
  }
  engine.SetDisplay(&display);
  engine.SetSettings(&settings);
  engine.SetPackage(&package);
  engine.SetWorkingFolder(options.packageDir);

  CliOutput output(stdout, isatty(STDOUT_FILENO) != 0, options.json);
  CliUi::Answers answers;
  answers.yes = options.yes;
  answers.interactive = isatty(STDIN_FILENO) != 0;
  answers.first = options.first;
  answers.userTexts = {options.userText[0], options.userText[1]};
  answers.pendingSignal = &g_signal;
  CliUi ui(output, answers);
  CVeltrJobs jobs(engine, ui);
  jobs.PresetUsbDevice(options.serialNumber);
  jobs.PresetEthernetDevice(options.address);
  SignalState signals;

  // A damaged description must not lead to the device: refused before the search.
  if (command == Command::Upgrade && !TellPackage(iniPath, packageReport, output)) {
    const std::string message = FailureText(FirmwareUpgrade, DamagedFile);
    output.Message(message, MessageIcon::Stop);
    output.Result(name, DamagedFile, message);
    return DamagedFile;
  }

  if (options.coldBoot) {
    jobs.OnColdBoot();
  } else {
    jobs.OnEnterUpgradeMode();
  }
  RunUntilIdle(engine, jobs, output, signals);
  // The system's reasons for the ports that would not open: what the status lines cannot say.
  for (const auto& detail : engine.connectionDetails) {
    std::fprintf(stderr, "veltr: %s\n", TerminalSafe(detail).c_str());
  }
  if (!engine.IsConnected()) {
    // The jobs said "Cannot establish connection!" after a second failed pass; a declined cold
    // boot offer ends quietly.
    const JobOutcome* outcome = jobs.OutcomeOf(Connecting);
    const JobOutcome searched =
        outcome != nullptr ? *outcome : JobOutcome::OfSearch(ConnectResult::NoDeviceFound);
    const int32_t code = searched.result;
    output.Result(name, code,
                  ui.LastMessage() == kConnectionFailedText
                      ? kConnectionFailedText
                      : ConnectResultText(searched.SearchResult()));
    return code;
  }
  if (const auto ended = EndedBetweenJobs(engine, output, signals, name)) {
    return *ended;
  }
  if (command == Command::Upgrade && packageReport.readable && !package.Covers(engine.info.type)) {
    Warn(output, "the package description " + iniPath + " has no section [" +
                     GetShortName(engine.info.type) + "]; the built-in version V" +
                     FormatVersion(static_cast<uint32_t>(package.VersionOf(engine.info.type))) +
                     " is used");
  }

  switch (command) {
    case Command::Info:
      output.Result(name, 0, ConnectResultText(ConnectResult::Connected));
      return 0;
    case Command::Upgrade:
      jobs.OnUploadFirmware();
      break;
    case Command::EraseSettings:
      jobs.OnEraseSettings();
      break;
    case Command::UserText:
      jobs.OnUploadUserText();
      break;
    case Command::Boot:
      jobs.OnEnterUpgradeMode();
      break;
    case Command::Ports:
    case Command::Discover:
      break;
  }
  if (!jobs.Started()) {
    if (const auto ended = EndedBetweenJobs(engine, output, signals, name)) {
      return *ended;
    }
    output.Result(name, kExitUsage, ui.Declined() ? "declined" : ui.LastMessage());
    return kExitUsage;
  }
  RunUntilIdle(engine, jobs, output, signals);
  const JobOutcome* outcome = jobs.OutcomeOf(JobKindOf(command));
  if (outcome == nullptr && !jobs.Outcomes().empty()) {
    outcome = &jobs.Outcomes().back();
  }
  const int32_t code = outcome != nullptr ? outcome->result : InternalError;
  if (command == Command::Boot && code == 0) {
    output.Note("The device has left upgrade mode.");
  }
  output.Result(name, code, ui.LastMessage());
  return code;
}

std::string SubcommandList(const CLI::App& app) {
  std::string list;
  for (const CLI::App* sub : app.get_subcommands({})) {
    list += (list.empty() ? "" : ", ") + sub->get_name();
  }
  return list;
}

void AddCommonOptions(CLI::App& sub, Options& options, bool device, bool uploads) {
  sub.add_option("--serial", options.serialMaps,
                 "Map a COM port to a device path, e.g. COM3=/dev/ttyUSB0 (repeatable)")
      ->type_name("COMn=PATH");
  if (!device) {
    return;
  }
  sub.add_option("--port", options.port, "Port to search on: COM1 to COM4, USB or Ethernet")
      ->capture_default_str();
  sub.add_option("--serial-number", options.serialNumber,
                 "With --port USB: the device to connect to, by its serial number (e.g. A07-0625)")
      ->type_name("SN");
  sub.add_option("--address", options.address,
                 "With --port Ethernet: the device to connect to, by IPv4 address or host name");
  sub.add_flag("--first", options.first,
               "With --port USB or Ethernet and no device named: take the first device listed "
               "as Ok");
  sub.add_flag("--autoselect,!--no-autoselect", options.autoselect,
               "Try every serial port (default) or only --port");
  sub.add_option("--device-type", options.deviceType,
                 "Expected device type by its short name (sets the line speed)")
      ->capture_default_str();
  sub.add_flag("--cold-boot", options.coldBoot,
               "Start with the cold boot pass on --port: power the device up when asked");
  sub.add_option("--package", options.packageDir,
                 "Folder with the firmware images and Build.txt (default: current folder)");
  sub.add_option("--ini", options.iniFile,
                 "Package description (default: VeltrUpgrade.ini beside this program, else in "
                 "the package folder, else in the working folder)");
  if (uploads) {
    sub.add_flag("--no-logic", options.noLogic, "Skip the Logic and DSP upload (nofpga)");
    sub.add_flag("--no-processor", options.noProcessor, "Skip the Processor and HI upload (nouc)");
    sub.add_flag("--bios", options.bios, "Upload the processor BIOS image instead (bios)");
  }
  sub.add_flag("--yes,-y", options.yes, "Answer the confirmations and offers with their default");
  sub.add_flag("--json", options.json, "One JSON object per event, and a final result object");
  sub.add_option("--trace", options.traceFile,
                 "Write every exchange on the port into FILE (the wire trace, for the factory)")
      ->type_name("FILE");
}

// What went wrong on the command line, in words that name the offending argument. The parser
// checks for a subcommand before it looks at options, so "veltr --bogus" alone would only be told
// that a subcommand is required.
int ParseFailure(const CLI::App& app, int argc, char** argv, const CLI::ParseError& e) {
  bool json = false;
  std::string command;
  std::string first;  // the first argument before any subcommand, --json aside
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
      continue;
    }
    bool isCommand = false;
    for (const CLI::App* sub : app.get_subcommands({})) {
      isCommand = isCommand || sub->get_name() == arg;
    }
    if (command.empty() && isCommand) {
      command = arg;
    } else if (command.empty() && first.empty()) {
      first = arg;
    }
  }
  std::string message = e.what();
  if (first.size() > 1 && first[0] == '-') {
    message = "unknown option " + first;
    message += command.empty() ? "; a subcommand is required: " + SubcommandList(app)
                               : " (the options follow the subcommand)";
  } else if (command.empty() && !first.empty()) {
    message = "unknown subcommand \"" + first + "\"; the subcommands: " + SubcommandList(app);
  } else if (command.empty()) {
    message = "a subcommand is required: " + SubcommandList(app);
  }
  UsageError(command, json, message);
  std::fprintf(stderr, "Run with --help for more information.\n");
  return kExitUsage;
}

}  // namespace
}  // namespace veltr::cli

int main(int argc, char** argv) {
  using namespace veltr::cli;
  Options options;
  Command command = Command::Info;

  CLI::App app{"veltr: firmware upgrades of Veltrano devices from the command line"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("veltr ") + VELTR_VERSION,
                       "Print the version and exit");
  struct Entry {
    const char* name;
    const char* help;
    Command command;
    bool device;
    bool uploads;
  };
  const Entry entries[] = {
      {"info", "Find the device and show what it is", Command::Info, true, false},
      {"upgrade", "Upgrade the device's firmware from the package folder", Command::Upgrade, true,
       true},
      {"erase-settings", "Erase all settings the device keeps", Command::EraseSettings, true,
       false},
      {"user-text", "Write the device's two user text lines", Command::UserText, true, false},
      {"boot", "Take the device out of upgrade mode", Command::Boot, true, false},
      {"ports", "List this machine's serial devices and the COM port map", Command::Ports, false,
       false},
      {"discover", "List every device found on --port USB or Ethernet", Command::Discover, false,
       false},
  };
  for (const auto& entry : entries) {
    CLI::App* sub = app.add_subcommand(entry.name, entry.help);
    AddCommonOptions(*sub, options, entry.device, entry.uploads);
    if (entry.command == Command::Ports) {
      sub->add_flag("--json", options.json,
                    "One JSON object per mapped port and per serial device, and a final result");
    }
    if (entry.command == Command::Discover) {
      sub->add_option("--port", options.port, "Port to list the devices of: USB or Ethernet")
          ->required();
      sub->add_flag("--json", options.json, "One JSON object per device, and a final result");
    }
    if (entry.command == Command::UserText) {
      sub->add_option("LINE1", options.userText[0], "User text 1 (at most 30 characters)")
          ->required();
      sub->add_option("LINE2", options.userText[1], "User text 2 (at most 30 characters)")
          ->required();
    }
    sub->callback([&command, c = entry.command] { command = c; });
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return ParseFailure(app, argc, argv, e);
  }
  InstallSignalHandlers();
  const int code = Run(options, command);
  // A signal no job was there to look at (before the first, after the last): the engine is gone,
  // so a device in program mode has left it; end as the signal would have ended the program.
  if (const int signal = g_signal.load()) {
    EndBySignal(signal);
  }
  return code;
}
