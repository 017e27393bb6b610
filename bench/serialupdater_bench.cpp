// serialupdater_bench: one whole firmware upload of an LNK40E by the serial updater over its
// 115200-baud line, against the simulator pacing every byte as a real UART would. Reports the CPU
// time the updater's thread spends against the wall time of the upload: its waits block on the
// line, so the processor should stay idle (target: at most 2 %).
//
//   serialupdater_bench [--quick]
//
// --quick sends a tenth of the logic image (a file of the wrong length would be refused, so the
// simulated device takes a shorter run of pages instead: the detection and the processor image are
// the same). Exit 0 whether the target was met or not; non-zero when the upload itself failed.

#include <stdlib.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devsim/device_state.h"
#include "devsim/device_table.h"
#include "devsim/pty.h"
#include "devsim/simulator.h"
#include "serialupdater/updater.h"

namespace {

// A window without a window: the updater's texts are dropped, its boxes answered with OK, and the
// event loop runs between its polls as in the real program.
class BenchView : public su::IUpdaterView {
 public:
  void ShowLine(int, const std::string&) override {}
  void ShowCaption(const std::string&) override {}
  void EnableControls(bool) override {}
  su::BoxAnswer Ask(const su::MessageBox& box) override {
    lastBox = box.text;
    return su::BoxAnswer::kOk;
  }
  std::optional<std::string> Input(const std::string&, const std::string&,
                                   const std::string&) override {
    return std::nullopt;
  }
  void ProcessEvents() override { QCoreApplication::processEvents(); }
  void Quit() override {}
  std::string lastBox;
};

double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void WriteFile(const std::filesystem::path& path, std::size_t length, unsigned seed) {
  std::vector<char> bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>((i * 131 + seed) & 0xFF);
  }
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(length));
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  QCoreApplication app(argc, argv);

  char pattern[] = "/tmp/su-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path folder(pattern);
  WriteFile(folder / "PL4E1212.sop", 163172, 1);
  WriteFile(folder / "UL4E1212.bin", 6070, 2);

  std::string error;
  auto state = devsim::NewDevice(devsim::ParseTypeName("LNK40E").value_or(-1), &error);
  devsim::PtyPair pty;
  if (!state || !devsim::OpenPtyPair(pty, &error)) {
    std::fprintf(stderr, "serialupdater_bench: %s\n", error.c_str());
    return 1;
  }
  devsim::SimulatorOptions options;
  options.wireSpeed = true;
  if (quick) {
    // The device stops answering after a tenth of the pages: the run ends in a time-out.
    options.faults.silentAfterPages = 64;
  }
  devsim::Simulator device(pty.master, std::move(*state), options);
  if (!device.Start(&error)) {
    std::fprintf(stderr, "serialupdater_bench: %s\n", error.c_str());
    return 1;
  }

  BenchView view;
  su::PortPaths ports;
  ports.com1 = pty.slavePath;
  ports.com2 = (folder / "none").string();
  su::Updater updater(view, 115200, ports);
  updater.SetFolder(folder);
  updater.Main();
  if (!updater.PortOpen()) {
    std::fprintf(stderr, "serialupdater_bench: no device found\n");
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ThreadCpuSeconds();
  updater.UploadFirmwareJob();
  const double cpu = ThreadCpuSeconds() - cpuStart;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  device.Stop();
  devsim::ClosePtyPair(pty);
  std::filesystem::remove_all(folder);

  const double share = wall > 0 ? 100.0 * cpu / wall : 0;
  std::printf("upload: %s\n", view.lastBox.c_str());
  std::printf("wall %.2f s, updater thread CPU %.3f s = %.2f %% (target at most 2 %%): %s\n", wall,
              cpu, share, share <= 2.0 ? "met" : "NOT met");
  const bool expected = quick ? view.lastBox == "Upload Firmware failed!"
                              : view.lastBox == "Firmware upload succeeded.";
  return expected ? 0 : 1;
}
