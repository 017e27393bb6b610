// VeltrUpgrade: the desktop upgrade console.

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_frame.h"
#include "app/signal_guard.h"
#include "app/veltr_app.h"

int main(int argc, char** argv) {
  // The program's switches are read from a copy before the toolkit takes its own options out.
  const std::vector<std::string> args(argv, argv + argc);
  const veltr::AppCommandLine line = veltr::ParseCommandLine(args);
  if (line.help) {
    std::fputs(veltr::UsageText().c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(veltr::VersionText().c_str(), stdout);
    return 0;
  }
  if (!line.error.empty()) {
    std::fprintf(stderr, "VeltrUpgrade: %s\n%s", line.error.c_str(), veltr::UsageText().c_str());
    return 64;
  }

  if (!line.packageFolder.empty() && !std::filesystem::is_directory(line.packageFolder)) {
    std::fprintf(stderr, "VeltrUpgrade: package folder \"%s\" does not exist\n",
                 line.packageFolder.c_str());
    return 64;
  }

  QApplication application(argc, argv);
  veltr::CVeltrApp app(line, {QCoreApplication::applicationDirPath(), QDir::currentPath()});
  veltr::CVeltrSignalGuard guard;
  if (!app.InitInstance()) {
    return 1;
  }
  QObject::connect(&guard, &veltr::CVeltrSignalGuard::QuitRequested, app.Frame(),
                   [&app](int) { app.Frame()->RequestQuit(); });
  const int code = QApplication::exec();
  app.ExitInstance();
  return code;
}
