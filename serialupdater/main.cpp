// SerialUpdaterA, SerialUpdaterB and SerialUpdaterC: one source, built three times. The build
// decides the line speed of the device's program mode through two switches, and nothing at run
// time changes it.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "frm_main.h"
#include "updater.h"

#ifndef SU_PROGRAM_NAME
#error "SU_PROGRAM_NAME names the build"
#endif
#ifndef SU_SLOW_LINE
#define SU_SLOW_LINE 0
#endif
#ifndef SU_FAST_LINE
#define SU_FAST_LINE 0
#endif
static_assert(!(SU_SLOW_LINE && SU_FAST_LINE), "a build has one line speed");

namespace {

constexpr const char* kProgramName = SU_PROGRAM_NAME;
constexpr const char* kFileVersion = "1.25.0.1";
constexpr const char* kFileVersionText = "1.25.0001";
constexpr const char* kDescription = "Firmware Updater";

int BuildLineBaud() {
  if (SU_SLOW_LINE) {
    return 19200;
  }
  if (SU_FAST_LINE) {
    return 115200;
  }
  return 57600;
}

void PrintHelp() {
  std::printf(
      "Usage: %s [--com1 PATH] [--com2 PATH]\n"
      "%s for Veltrano devices on a serial line, program mode at %d,N,8,1.\n"
      "\n"
      "Looks for a device on COM1, then on COM2, and upgrades its firmware from the files in\n"
      "the current folder, erases its settings or writes its user texts.\n"
      "\n"
      "  --com1 PATH   the device that stands for COM1 (default /dev/ttyS0)\n"
      "  --com2 PATH   the device that stands for COM2 (default /dev/ttyS1)\n"
      "  --help        this text\n"
      "  --version     the program's version\n",
      kProgramName, kDescription, BuildLineBaud());
}

void PrintVersion() {
  std::printf("%s %s (%s)\n%s\nFile version %s, product version %s\n", kProgramName, kFileVersion,
              kFileVersionText, kDescription, kFileVersion, kFileVersion);
}

}  // namespace

int main(int argc, char** argv) {
  su::PortPaths ports;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    }
    if (arg == "--version") {
      PrintVersion();
      return 0;
    }
    if ((arg == "--com1" || arg == "--com2") && i + 1 < argc) {
      (arg == "--com1" ? ports.com1 : ports.com2) = argv[++i];
      continue;
    }
    if (arg.rfind("--com1=", 0) == 0 || arg.rfind("--com2=", 0) == 0) {
      (arg[5] == '1' ? ports.com1 : ports.com2) = arg.substr(7);
      continue;
    }
    std::fprintf(stderr, "%s: unknown option \"%s\" (try --help)\n", kProgramName, arg.c_str());
    return 2;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(kProgramName);
  QApplication::setApplicationVersion(kFileVersion);
  frmMain form;
  su::Updater updater(form, BuildLineBaud(), ports);
  form.SetUpdater(&updater);
  form.FormLoad();
  form.setWindowTitle("Update: AutoSelect COM Port ...");
  form.show();
  QTimer::singleShot(0, &form, [&updater] { updater.Main(); });
  return QApplication::exec();
}
