// veltr: the upgrade engine from the command line, for scripted and headless work.

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

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

enum class Command { Info, Upgrade, EraseSettings, UserText, Boot, Ports };

struct Options {
  std::string port = "COM1";
  bool autoselect = true;
  std::string deviceType = "KL1A";
  std::vector<std::string> serialMaps;
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

// While a job body runs, Ctrl-C must not cut an upload short: a device with half its pages
// written does not start. The first interrupt only says so; when no job runs it ends the program.
std::atomic<bool> g_jobRunning{false};
std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  if (g_jobRunning.load()) {
    g_interrupted.store(true);
    return;
  }
  std::signal(SIGINT, SIG_DFL);
  std::raise(SIGINT);
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

int UsageError(const std::string& text) {
  std::fprintf(stderr, "veltr: %s\n", text.c_str());
  return kExitUsage;
}

// Runs the notices of the engine until no job is left: display changes are printed, and each
// job-finished notice runs the job end, which may start the next job (a retry, or leaving
// upgrade mode after a firmware upgrade).
void RunUntilIdle(UpgradeEngine& engine, CVeltrJobs& jobs, CliOutput& output) {
  while (engine.IsBusy()) {
    g_jobRunning.store(true);
    const auto notice = engine.Notices().Take(std::chrono::milliseconds(200));
    if (g_interrupted.exchange(false)) {
      output.Note("Please, wait for upload completion.");
    }
    if (!notice) {
      continue;
    }
    if (notice->kind == Notice::Kind::Display) {
      output.Display(notice->change);
      continue;
    }
    g_jobRunning.store(false);
    jobs.OnJobFinished();
  }
  g_jobRunning.store(false);
  output.Flush();
}

int ListPorts(const CVeltrPortMap& map) {
  std::printf("Port map:\n");
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    std::printf("  %s -> %s\n", CVeltrPortMap::ComName(i).c_str(), map.PathAt(i).c_str());
  }
  const auto devices = ListSerialDevices();
  std::printf("Serial devices on this machine:%s\n", devices.empty() ? " none" : "");
  for (const auto& device : devices) {
    std::printf("  %s%s%s%s  %s\n", device.path.c_str(), device.driver.empty() ? "" : "  (",
                device.driver.c_str(), device.driver.empty() ? "" : ")",
                device.available ? "available" : device.problem.c_str());
    if (!device.byIdPath.empty()) {
      std::printf("      %s\n", device.byIdPath.c_str());
    }
  }
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
    const std::string narrow = Utf8ToAnsi(options.userText[i]);
    if (AnsiToUtf8(narrow) != options.userText[i]) {
      error = "user text " + std::to_string(i + 1) +
              " has characters the device cannot keep (it stores Windows-1252 text)";
      return false;
    }
    if (narrow.size() > 30) {
      error = "user text " + std::to_string(i + 1) + " has " + std::to_string(narrow.size()) +
              " characters; the device keeps at most 30";
      return false;
    }
  }
  return true;
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

int Run(const Options& options, Command command) {
  AppSettings settings;
  const auto port = ParsePortId(options.port);
  if (!port) {
    return UsageError("--port takes COM1, COM2, COM3, COM4, USB or Ethernet, not \"" +
                      options.port + "\"");
  }
  settings.port = *port;
  const auto type = ParseDeviceType(options.deviceType);
  if (!type) {
    return UsageError("unknown device type \"" + options.deviceType +
                      "\"; known types: " + DeviceTypeList());
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
    return UsageError(error);
  }
  if (command == Command::Ports) {
    return ListPorts(portMap);
  }
  if (command == Command::UserText && !CheckUserTexts(options, error)) {
    return UsageError(error);
  }
  if (!options.packageDir.empty() && !std::filesystem::is_directory(options.packageDir)) {
    return UsageError("package folder \"" + options.packageDir + "\" does not exist");
  }
  if (!options.iniFile.empty()) {
    if (!std::filesystem::is_regular_file(options.iniFile)) {
      return UsageError("package description \"" + options.iniFile + "\" does not exist");
    }
    LoadPackageDescription(options.iniFile, package);
  } else {
    LoadPackageDescription(DefaultPackageIniPath(), package);
  }

  UpgradeEngine engine(MakeSystemPorts(portMap));
  if (!options.traceFile.empty() && !engine.StartTrace(options.traceFile, error)) {
    return UsageError("cannot write the wire trace: " + error);
  }
  engine.SetDisplay(&display);
  engine.SetSettings(&settings);
  engine.SetPackage(&package);
  engine.SetWorkingFolder(options.packageDir);

  CliOutput output(stdout, isatty(STDOUT_FILENO) != 0, options.json);
  CliUi::Answers answers;
  answers.yes = options.yes;
  answers.interactive = isatty(STDIN_FILENO) != 0;
  answers.userTexts = {options.userText[0], options.userText[1]};
  CliUi ui(output, answers);
  CVeltrJobs jobs(engine, ui);

  if (options.coldBoot) {
    jobs.OnColdBoot();
  } else {
    jobs.OnEnterUpgradeMode();
  }
  RunUntilIdle(engine, jobs, output);
  // The system's reasons for the ports that would not open: what the status lines cannot say.
  for (const auto& detail : engine.connectionDetails) {
    std::fprintf(stderr, "veltr: %s\n", detail.c_str());
  }
  const char* name = CommandName(command);
  if (!engine.IsConnected()) {
    const JobOutcome* outcome = jobs.OutcomeOf(Connecting);
    const int32_t code = outcome != nullptr
                             ? outcome->result
                             : JobOutcome::OfSearch(ConnectResult::NoDeviceFound).result;
    if (ui.LastMessage() != kConnectionFailedText) {
      output.Message(kConnectionFailedText, MessageIcon::Exclamation);
    }
    output.Result(name, code, kConnectionFailedText);
    return code;
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
      break;
  }
  if (!jobs.Started()) {
    output.Result(name, kExitUsage, ui.Declined() ? "declined" : ui.LastMessage());
    return kExitUsage;
  }
  RunUntilIdle(engine, jobs, output);
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

void AddCommonOptions(CLI::App& sub, Options& options, bool device, bool uploads) {
  sub.add_option("--serial", options.serialMaps,
                 "Map a COM port to a device path, e.g. COM3=/dev/ttyUSB0 (repeatable)")
      ->type_name("COMn=PATH");
  if (!device) {
    return;
  }
  sub.add_option("--port", options.port, "Port to search on: COM1 to COM4, USB or Ethernet")
      ->capture_default_str();
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
                 "Package description (default: VeltrUpgrade.ini beside this program)");
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

}  // namespace
}  // namespace veltr::cli

int main(int argc, char** argv) {
  using namespace veltr::cli;
  Options options;
  Command command = Command::Info;

  CLI::App app{"veltr: firmware upgrades of Veltrano devices from the command line"};
  app.require_subcommand(1);
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
  };
  for (const auto& entry : entries) {
    CLI::App* sub = app.add_subcommand(entry.name, entry.help);
    AddCommonOptions(*sub, options, entry.device, entry.uploads);
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
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  std::signal(SIGINT, OnInterrupt);
  return Run(options, command);
}
