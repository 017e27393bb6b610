#include "app/command_line.h"

#include <strings.h>

namespace veltr {

bool ApplyUploadSwitch(const std::string& arg, AppCommandLine& line) {
  if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) {
    return false;
  }
  const char* name = arg.c_str() + 1;
  if (strcasecmp(name, "nouc") == 0 || strcasecmp(name, "fpgaonly") == 0) {
    line.uploadProcessor = 0;
    return true;
  }
  if (strcasecmp(name, "nofpga") == 0 || strcasecmp(name, "uconly") == 0) {
    line.uploadLogic = 0;
    return true;
  }
  if (strcasecmp(name, "bios") == 0) {
    line.uploadBios = 1;
    return true;
  }
  return false;
}

AppCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  AppCommandLine line;
  const std::string packageEquals = "--package=";
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (ApplyUploadSwitch(arg, line)) {
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--package") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        line.error = "--package needs the folder of the firmware package";
      } else {
        line.packageFolder = args[++i];
      }
    } else if (arg.rfind(packageEquals, 0) == 0) {
      line.packageFolder = arg.substr(packageEquals.size());
      if (line.packageFolder.empty()) {
        line.error = "--package needs the folder of the firmware package";
      }
    }
    // Anything else is left to the toolkit (its -style, -platform and the like) or ignored.
  }
  return line;
}

void ApplyUploadFlags(const AppCommandLine& line, AppSettings& settings) {
  settings.uploadLogic = line.uploadLogic;
  settings.uploadProcessor = line.uploadProcessor;
  settings.uploadBios = line.uploadBios;
}

std::string UsageText() {
  return "Usage: VeltrUpgrade [--package DIR] [-nouc] [-fpgaonly] [-nofpga] [-uconly] [-bios]\n"
         "\n"
         "The desktop upgrade console of the Veltrano devices.\n"
         "\n"
         "  --package DIR       folder with the firmware images, Build.txt and VeltrUpgrade.ini\n"
         "                      (remembered for the next start)\n"
         "  -nouc, -fpgaonly    skip the Processor and HI upload\n"
         "  -nofpga, -uconly    skip the Logic and DSP upload\n"
         "  -bios               upload the processor BIOS image; no BIOS version check\n"
         "  --help              this text\n"
         "  --version           the program's version\n"
         "\n"
         "The switches may also be written with \"/\" and in any case (/BIOS).\n";
}

std::string VersionText() {
  return "VeltrUpgrade 1.02.006 (Build 13-08-07-B)\n";
}

}  // namespace veltr
