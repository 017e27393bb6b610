#pragma once

#include <string>
#include <vector>

#include "engine/app_settings.h"

namespace veltr {

// What VeltrUpgrade's command line asks for. The five upload switches are the program's own;
// --package, --help and --version are this platform's additions.
struct AppCommandLine {
  int32_t uploadLogic = 1;
  int32_t uploadProcessor = 1;
  int32_t uploadBios = 0;
  std::string packageFolder;  // --package DIR; empty: not given
  bool help = false;
  bool version = false;
  std::string error;  // a usage mistake in words; empty when the line is fine
};

// args as main received them, the program name first. Read before the toolkit sees the line, so
// none of the switches can be taken by the toolkit's own options.
AppCommandLine ParseCommandLine(const std::vector<std::string>& args);

// "nouc", "fpgaonly", "nofpga", "uconly", "bios" after one "-" or "/", case-blind; false for any
// other argument.
bool ApplyUploadSwitch(const std::string& arg, AppCommandLine& line);

void ApplyUploadFlags(const AppCommandLine& line, AppSettings& settings);

std::string UsageText();
std::string VersionText();

}  // namespace veltr
