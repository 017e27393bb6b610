// app_responsiveness_bench: one whole firmware upgrade of a PXR(-TP) driven through VeltrUpgrade's
// window (offscreen platform) against veltr-devsim pacing its 115200-baud line like a UART. A
// timer on the GUI thread measures how long the event loop went without running it; the upload's
// wall time is compared with the wire time of its bytes.
//
//   app_responsiveness_bench [--devsim PATH] [--screenshot PNG]
//
// --screenshot saves the main window halfway through the Logic and DSP upload (run it under a
// real display server, e.g. xvfb-run with QT_QPA_PLATFORM=xcb, for the picture a user sees).
//
// Targets: longest GUI stall below 50 ms, wall time within 1.03 x wire time. Prints both; exit 0
// whether they were met or not, non-zero when the run itself failed.

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/dlg_small.h"
#include "app/main_frame.h"
#include "app/settings.h"
#include "app/veltr_app.h"
#include "protocol/device_types.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBaud = 115200;
constexpr double kBitsPerByte = 10.0;
constexpr double kTargetRatio = 1.03;
constexpr double kTargetStallMs = 50.0;
constexpr int kTickMs = 2;

constexpr size_t kLogicLength = 235820;  // the PXR logic image is one fixed length
constexpr size_t kProcessorLength = 60000;
constexpr uint64_t kFrameBytes = 261 + 4;         // page frame out, its answer back
constexpr uint64_t kRecordBytes = (1 + 64) + 64;  // closing EEPROM record and its echoes

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double WireSeconds(uint64_t bytes) {
  return static_cast<double>(bytes) * kBitsPerByte / kBaud;
}

std::vector<char> Image(size_t length, unsigned seed) {
  std::vector<char> bytes(length);
  uint32_t x = 0x9E3779B9u * (seed + 1u);
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<char>(x);
  }
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The simulator at the lowest real-time priority, so that its answers are not late under load
// (a UART does not wait for a CPU); a refusal leaves the normal policy.
class Simulator {
 public:
  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
      close(out_);
    }
  }
  bool Start(const std::string& program, std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      return false;
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      sched_param param{};
      param.sched_priority = 1;
      sched_setscheduler(0, SCHED_FIFO, &param);
      dup2(out[1], STDOUT_FILENO);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    char c = 0;
    pollfd fd{out_, POLLIN, 0};
    while (poll(&fd, 1, 5000) > 0 && read(out_, &c, 1) == 1 && c != '\n') {
      slave_ += c;
    }
    return pid_ > 0 && !slave_.empty();
  }
  const std::string& Slave() const { return slave_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string slave_;
};

// The longest time the GUI thread's event loop went without running a short timer.
class StallMeter : public QObject {
 public:
  StallMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    longestMs_ = 0;
    started_.start();
    clock_.start();
    timer_.start(kTickMs);
  }
  void Stop() { timer_.stop(); }
  double LongestMs() const { return longestMs_; }
  // Seconds after Start when the longest stall ended, and how many stalls passed the target.
  double LongestAtS() const { return longestAtS_; }
  int OverTarget() const { return overTarget_; }

 private:
  void Tick() {
    const double sinceMs = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
    clock_.restart();
    if (sinceMs - kTickMs > longestMs_) {
      longestMs_ = sinceMs - kTickMs;
      longestAtS_ = static_cast<double>(started_.nsecsElapsed()) / 1e9;
    }
    if (sinceMs - kTickMs > kTargetStallMs) {
      ++overTarget_;
    }
  }
  QTimer timer_;
  QElapsedTimer clock_;
  QElapsedTimer started_;
  double longestMs_ = 0;
  double longestAtS_ = 0;
  int overTarget_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string devsim = std::string(VELTR_BIN_DIR) + "/veltr-devsim";
  QString screenshot;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--devsim") {
      devsim = argv[i + 1];
    } else if (std::string(argv[i]) == "--screenshot") {
      screenshot = QString::fromLocal8Bit(argv[i + 1]);
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QTemporaryDir root;
  qputenv("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")).toLocal8Bit());
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName(QLatin1String(veltr::kSettingsOrganisation));
  QCoreApplication::setApplicationName(QLatin1String(veltr::kSettingsApplication));

  const std::filesystem::path folder = root.path().toStdString();
  const auto package = folder / "package";
  std::filesystem::create_directories(package);
  std::filesystem::create_directories(folder / "device");
  WriteFile(package / "ppxr1213.sop", Image(kLogicLength, 1));
  WriteFile(package / "upxr1213.bin", Image(kProcessorLength, 2));
  const std::string ini = "[PXR(-TP)]\nVersion=213\n";
  WriteFile(package / "VeltrUpgrade.ini", std::vector<char>(ini.begin(), ini.end()));

  Simulator sim;
  if (!sim.Start(devsim, {"--type", "PXR(-TP)", "--hw", "101", "--uploader", "108", "--wire-speed",
                          "--state", (folder / "device").string()})) {
    std::fprintf(stderr, "app_responsiveness_bench: cannot start %s\n", devsim.c_str());
    return 1;
  }
  {
    veltr::CVeltrSettings store;
    veltr::AppSettings settings;
    settings.deviceType = veltr::TypeFromShortName("PXR(-TP)");
    settings.autoselect = 0;
    settings.selectDialog = 0;
    store.SaveSettings(settings);
    veltr::CVeltrPortMap map;
    map.Set(0, sim.Slave());
    store.SavePortMap(map);
  }

  veltr::AppCommandLine line;
  line.packageFolder = package.string();
  veltr::CVeltrApp app(line, {root.filePath(QStringLiteral("bin")), root.path()});
  if (!app.InitInstance()) {
    return 1;
  }
  const auto waitIdle = [&](int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (app.Engine().IsBusy() && Clock::now() < end) {
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return !app.Engine().IsBusy();
  };
  if (!waitIdle(60) || !app.Engine().IsConnected()) {
    std::fprintf(stderr, "app_responsiveness_bench: no connection: %s\n",
                 app.Doc().GetLine(0, 1).c_str());
    return 1;
  }

  // The same meter on the idle window first: what the machine's own load does to the event loop.
  double idleStallMs = 0;
  {
    StallMeter idle;
    idle.Start();
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < end) {
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    idle.Stop();
    idleStallMs = idle.LongestMs();
  }

  // Answers the confirmation (the clock starts) and the success dialog (it stops), leaving the
  // device in upgrade mode.
  Clock::time_point started;
  Clock::time_point ended;
  bool succeeded = false;
  double cpuAtStart = 0;
  double cpuAtEnd = 0;
  double guiCpuAtStart = 0;
  double guiCpuAtEnd = 0;
  StallMeter stalls;
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (box->button(QMessageBox::Yes) != nullptr) {
        started = Clock::now();
        cpuAtStart = CpuSeconds(RUSAGE_SELF);
        guiCpuAtStart = CpuSeconds(RUSAGE_THREAD);
        stalls.Start();
        box->button(QMessageBox::Yes)->click();
      } else {
        std::fprintf(stderr, "message: %s\n", box->text().toStdString().c_str());
        box->button(QMessageBox::Ok)->click();
      }
    } else if (auto* success = qobject_cast<veltr::CVeltrSuccessDlg*>(modal)) {
      ended = Clock::now();
      cpuAtEnd = CpuSeconds(RUSAGE_SELF);
      guiCpuAtEnd = CpuSeconds(RUSAGE_THREAD);
      stalls.Stop();
      succeeded = true;
      success->ExitUpgradeModeBox()->setChecked(false);
      success->accept();
    }
  });
  answerer.start(5);
  if (!screenshot.isEmpty()) {
    QProgressBar* progress = app.Frame()->Progress();
    QObject::connect(progress, &QProgressBar::valueChanged, [&, progress](int value) {
      if (!screenshot.isEmpty() && value * 2 >= progress->maximum() && progress->maximum() > 0) {
        app.Frame()->grab().save(screenshot);
        std::printf("screenshot: %s\n", screenshot.toLocal8Bit().constData());
        screenshot.clear();
      }
    });
  }
  app.Frame()->Action(veltr::kCmdUploadFirmware)->trigger();
  waitIdle(600);
  answerer.stop();
  if (!succeeded) {
    std::fprintf(stderr, "app_responsiveness_bench: the upgrade did not succeed\n");
    return 1;
  }

  const uint64_t logicPages = (kLogicLength + 255) / 256;
  const uint64_t processorPages = (kProcessorLength + 255) / 256;
  const double wire = WireSeconds((logicPages + processorPages + 1) * kFrameBytes + kRecordBytes);
  const double wall = std::chrono::duration<double>(ended - started).count();
  std::printf("VeltrUpgrade firmware upgrade of a PXR(-TP) at 115200 baud through the window\n");
  std::printf("  longest GUI stall  %.1f ms (target < %.0f ms)  %s\n", stalls.LongestMs(),
              kTargetStallMs, stalls.LongestMs() < kTargetStallMs ? "met" : "MISSED");
  std::printf("  the longest ended %.2f s after the start; %d stalls over the target in all\n",
              stalls.LongestAtS(), stalls.OverTarget());
  std::printf("  longest stall of the idle window before it  %.1f ms (the machine's share)\n",
              idleStallMs);
  std::printf("  wall %.3f s, wire %.3f s, ratio %.4f (target <= %.2f)  %s\n", wall, wire,
              wall / wire, kTargetRatio, wall / wire <= kTargetRatio ? "met" : "MISSED");
  std::printf("  CPU during the upload: program %.3f s, of it the GUI thread %.3f s\n",
              cpuAtEnd - cpuAtStart, guiCpuAtEnd - guiCpuAtStart);
  return 0;
}
