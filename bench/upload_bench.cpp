// upload_bench: one whole firmware upgrade of a PXR(-TP) over its 115200-baud serial line, against
// veltr-devsim pacing every byte as a real UART would, timed against the time those bytes need on
// the wire and against the CPU the upgrading process spends meanwhile.
//
//   upload_bench [--quick] [--direct] [--baseline] [--normal-sim] [--pages N] [--devsim PATH]
//
// The connection is made first and not timed; only the firmware upload is, twice: once as it is,
// once with the engine's wire trace on. Exit 0 whether the targets were met or not; non-zero when
// the run itself failed. --baseline then sends the same
// number of page frames straight to the line, without the engine, to tell what the simulator and
// the pseudo-terminal cost from what the engine and its port add.

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/port.h"
#include "engine/app_settings.h"
#include "engine/connection.h"
#include "engine/display.h"
#include "engine/jobs.h"
#include "engine/notice_queue.h"
#include "engine/upgrade_engine.h"
#include "package/package_description.h"
#include "protocol/commands.h"
#include "protocol/device_types.h"
#include "protocol/result_code.h"
#include "transport/system_ports.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 64;

constexpr uint32_t kBaud = 115200;
constexpr double kBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
constexpr double kTargetRatio = 1.03;
constexpr double kTargetCpuPercent = 2.0;

constexpr const char* kTypeName = "PXR(-TP)";
constexpr int32_t kPackageVersion = 213;
// The page write takes processor page indexes 0 to 1008 for this type.
constexpr uint32_t kMaxProcessorPages = 1009;
constexpr uint32_t kFullProcessorPages = 1000;
constexpr uint32_t kQuickProcessorPages = 100;

// The simulator stands in for a UART and a device, neither of which waits for a CPU: under load a
// normal-policy simulator starts its answers late, and that lateness would be charged to the
// engine. The lowest real-time priority is enough to be woken ahead of ordinary work; the
// simulator sleeps between bytes, so it never holds a CPU.
constexpr int kSimulatorPriority = 1;

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kFrameOut = 261;  // code, two address bytes, 256 data bytes, sum16
constexpr uint32_t kFrameIn = 4;     // 'U', the sum the device computed, FF
// The closing EEPROM record: its command byte, then 64 bytes each echoed by the device.
constexpr uint32_t kRecordOut = 1 + 64;
constexpr uint32_t kRecordIn = 64;

double WireSeconds(uint64_t bytes) {
  return static_cast<double>(bytes) * kBitsPerByte / kBaud;
}

double ToSeconds(Clock::duration d) {
  return std::chrono::duration_cast<Seconds>(d).count();
}

double ToMs(Clock::duration d) {
  return ToSeconds(d) * 1000.0;
}

struct Options {
  std::string devsim;
  bool quick = false;
  bool direct = false;
  bool baseline = false;
  bool normalSimulator = false;
  std::optional<uint32_t> pages;
};

// ---- the engine's port, counted ---------------------------------------------------------------

struct PortCounts {
  uint64_t bytesOut = 0;
  uint64_t bytesIn = 0;
  uint64_t writes = 0;
  uint64_t reads = 0;
  uint64_t failedWrites = 0;
  uint64_t failedReads = 0;
  Clock::duration inWrite{};
  Clock::duration inRead{};
  // Between the end of one port call and the start of the next: the engine's own time.
  Clock::duration betweenCalls{};
  std::optional<Clock::time_point> firstCall;
  std::optional<Clock::time_point> lastCall;
  // Page frames: from the start of the write to the end of the 4-byte answer.
  std::vector<Clock::duration> frameRoundTrips;
  // Between the end of one page frame's answer and the start of the next frame's write.
  std::vector<Clock::duration> frameGaps;
  // The first failed call: which one, and the system's reason when there was one.
  std::string firstFailure;
};

// Stands between the engine and its serial port for the timed upload only: every byte that
// crosses it is counted, and the time spent inside the port is told apart from the time the
// engine spends between two port calls.
class CountingPort final : public veltr::IVeltrPort {
 public:
  explicit CountingPort(veltr::IVeltrPort& inner) : inner_(inner) {}

  veltr::ConnectResult Open(const veltr::PortSettings& settings) override {
    return inner_.Open(settings);
  }
  int32_t GetMode() const override { return inner_.GetMode(); }
  veltr::DeviceType GetDeviceType() const override { return inner_.GetDeviceType(); }
  bool Close() override { return inner_.Close(); }
  bool SetTimeout(uint32_t milliseconds) override { return inner_.SetTimeout(milliseconds); }
  bool SetBaudRate(uint32_t rate) override { return inner_.SetBaudRate(rate); }
  uint32_t GetBaudRate() const override { return inner_.GetBaudRate(); }
  const char* GetName() const override { return inner_.GetName(); }
  veltr::PortId GetPortId() const override { return inner_.GetPortId(); }
  std::vector<veltr::FoundDevice> FoundDevices() const override { return inner_.FoundDevices(); }
  std::string LastError() const override { return inner_.LastError(); }

  bool Write(const veltr::CVeltrBuffer& buffer) override {
    const Clock::time_point start = BeginCall();
    const bool ok = inner_.Write(buffer);
    const Clock::time_point end = Clock::now();
    counts_.inWrite += end - start;
    ++counts_.writes;
    if (ok) {
      counts_.bytesOut += buffer.GetSize();
    } else {
      ++counts_.failedWrites;
      NoteFailure("write", buffer.GetSize());
    }
    const bool frame = ok && buffer.GetSize() == kFrameOut;
    if (frame && lastFrameEnd_) {
      counts_.frameGaps.push_back(start - *lastFrameEnd_);
    }
    frameStart_ = frame ? std::optional<Clock::time_point>(start) : std::nullopt;
    lastFrameEnd_.reset();
    EndCall(end);
    return ok;
  }

  bool Read(veltr::CVeltrBuffer& buffer) override {
    const Clock::time_point start = BeginCall();
    const bool ok = inner_.Read(buffer);
    const Clock::time_point end = Clock::now();
    counts_.inRead += end - start;
    ++counts_.reads;
    if (ok) {
      counts_.bytesIn += buffer.GetSize();
    } else {
      ++counts_.failedReads;
      NoteFailure("read", buffer.GetSize());
    }
    if (ok && frameStart_ && buffer.GetSize() == kFrameIn) {
      counts_.frameRoundTrips.push_back(end - *frameStart_);
      lastFrameEnd_ = end;
    }
    frameStart_.reset();
    EndCall(end);
    return ok;
  }

  const PortCounts& Counts() const { return counts_; }

 private:
  Clock::time_point BeginCall() {
    const Clock::time_point now = Clock::now();
    if (counts_.lastCall) {
      counts_.betweenCalls += now - *counts_.lastCall;
    } else {
      counts_.firstCall = now;
    }
    return now;
  }
  void EndCall(Clock::time_point end) { counts_.lastCall = end; }

  void NoteFailure(const char* what, uint32_t size) {
    if (!counts_.firstFailure.empty()) {
      return;
    }
    const std::string reason = inner_.LastError();
    counts_.firstFailure = std::string(what) + " of " + std::to_string(size) + " bytes after " +
                           std::to_string(counts_.frameRoundTrips.size()) +
                           " page frames: " + (reason.empty() ? "timed out" : reason);
  }

  veltr::IVeltrPort& inner_;
  PortCounts counts_;
  std::optional<Clock::time_point> frameStart_;
  std::optional<Clock::time_point> lastFrameEnd_;
};

// ---- the temporary package folder -------------------------------------------------------------

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "upload_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~TempFolder() {
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool Made() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool WriteText(const std::string& path, const std::string& text) {
  return WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// Image bytes that differ from page to page, so that every page carries its own sum; the same
// on every run.
std::vector<uint8_t> ImageBytes(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t x = seed;
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<uint8_t>(x);
  }
  return bytes;
}

// ---- veltr-devsim as a separate process -------------------------------------------------------

class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  ~SimulatorProcess() { Stop(); }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Starts the program and reads the slave path it prints as its first line; it answers once
  // that line is out.
  // realTime: ask for SCHED_FIFO before the program starts, so that its threads inherit it; a
  // refusal leaves the normal policy, which Policy() then tells.
  bool Start(const std::string& program, const std::vector<std::string>& args, bool realTime,
             std::string* error) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      *error = "cannot make a pipe for the simulator";
      return false;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) {
      *error = "cannot start the simulator";
      close(out[0]);
      close(out[1]);
      return false;
    }
    if (pid_ == 0) {
      if (realTime) {
        sched_param param{};
        param.sched_priority = kSimulatorPriority;
        sched_setscheduler(0, SCHED_FIFO, &param);
      }
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = out[0];
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    char c = 0;
    while (Clock::now() < deadline) {
      pollfd fd{stdout_, POLLIN, 0};
      if (poll(&fd, 1, 200) <= 0) {
        continue;
      }
      if (read(stdout_, &c, 1) != 1) {
        break;
      }
      if (c == '\n') {
        return true;
      }
      slave_ += c;
    }
    *error = "the simulator " + program + " printed no slave path";
    slave_.clear();
    return false;
  }

  // SIGTERM, and SIGKILL when it has not ended two seconds later.
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
      while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
          kill(pid_, SIGKILL);
          waitpid(pid_, &status, 0);
          break;
        }
        usleep(10000);
      }
      pid_ = -1;
    }
    if (stdout_ >= 0) {
      close(stdout_);
      stdout_ = -1;
    }
  }

  const std::string& SlavePath() const { return slave_; }

  std::string Policy() const {
    sched_param param{};
    const int policy = pid_ > 0 ? sched_getscheduler(pid_) : -1;
    if (policy == SCHED_FIFO && sched_getparam(pid_, &param) == 0) {
      return "SCHED_FIFO priority " + std::to_string(param.sched_priority);
    }
    return "normal";
  }

  // How the simulator ended when it has; empty while it runs.
  std::string Ended() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) {
      return {};
    }
    pid_ = -1;
    if (WIFSIGNALED(status)) {
      return "the simulator was ended by signal " + std::to_string(WTERMSIG(status));
    }
    return "the simulator exited with status " + std::to_string(WEXITSTATUS(status));
  }

  // User plus system time of the simulator so far, from /proc; none when it cannot be read.
  std::optional<double> CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text;
    if (pid_ <= 0 || !std::getline(stat, text)) {
      return std::nullopt;
    }
    // The command name may hold spaces; the fields count from the closing parenthesis.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
      return std::nullopt;
    }
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < text.size()) {
      const size_t space = text.find(' ', pos);
      fields.push_back(text.substr(pos, space - pos));
      if (space == std::string::npos) {
        break;
      }
      pos = space + 1;
    }
    // Fields 14 and 15 of the line (utime, stime) are the 12th and 13th after the name.
    if (fields.size() < 13) {
      return std::nullopt;
    }
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string slave_;
};

// ---- measuring --------------------------------------------------------------------------------

struct CpuSample {
  double user = 0;
  double system = 0;
  long voluntarySwitches = 0;
  long involuntarySwitches = 0;
};

CpuSample SampleCpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return {seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_nvcsw, usage.ru_nivcsw};
}

struct Spread {
  double mean = 0;
  double median = 0;
  double p99 = 0;
  double max = 0;
  double total = 0;
};

Spread SpreadOf(std::vector<Clock::duration> values) {
  Spread s;
  if (values.empty()) {
    return s;
  }
  std::sort(values.begin(), values.end());
  for (const auto& v : values) {
    s.total += ToMs(v);
  }
  s.mean = s.total / static_cast<double>(values.size());
  s.median = ToMs(values[values.size() / 2]);
  s.p99 = ToMs(values[std::min(values.size() - 1, values.size() * 99 / 100)]);
  s.max = ToMs(values.back());
  return s;
}

const char* Verdict(bool met) {
  return met ? "PASS" : "MISS";
}

// How far the page frames ran over their wire time, in bands: a few late frames (a wake-up that
// waited for the next scheduler tick) read differently from every frame a little late.
void PrintOverWire(const std::vector<Clock::duration>& trips, double wireMs) {
  struct Band {
    double upToMs;
    const char* label;
    uint32_t frames = 0;
    double overMs = 0;
  };
  Band bands[] = {{0.5, "< 0.5 ms"}, {1, "0.5-1 ms"}, {3, "1-3 ms"},
                  {6, "3-6 ms"},     {20, "6-20 ms"}, {1e12, ">= 20 ms"}};
  for (const auto& trip : trips) {
    const double over = ToMs(trip) - wireMs;
    for (auto& band : bands) {
      if (over < band.upToMs) {
        ++band.frames;
        band.overMs += over;
        break;
      }
    }
  }
  std::printf("  frames by time over the wire, count (seconds in all):\n   ");
  for (const auto& band : bands) {
    std::printf("  %s %u (%.3f)", band.label, band.frames, band.overMs / 1000.0);
  }
  std::printf("\n");
}

// ---- the line without the engine --------------------------------------------------------------

struct BaselineResult {
  std::vector<Clock::duration> trips;
  double wall = 0;
  CpuSample cpu;
  std::string error;
};

bool WriteRaw(int fd, const uint8_t* data, size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, data, count);
    if (n > 0) {
      data += n;
      count -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 1000) <= 0) {
      return false;
    }
  }
  return true;
}

bool ReadRaw(int fd, uint8_t* data, size_t count) {
  while (count > 0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) {
      return false;
    }
    const ssize_t n = read(fd, data, count);
    if (n > 0) {
      data += n;
      count -= static_cast<size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      return false;
    }
  }
  return true;
}

// Processor page frames written to the slave by the smallest loop that can: one write, then poll
// and read until the four answer bytes are in. The line settings are the ones the engine's port
// left on the tty.
BaselineResult RunBaseline(const std::string& slave, uint32_t frames, uint32_t pages) {
  BaselineResult result;
  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    result.error = "cannot open " + slave + " for the baseline";
    return result;
  }
  const std::vector<uint8_t> image = ImageBytes(size_t{pages} * kPageSize, 0x9E3779B9u);
  veltr::CVeltrCommandUPPageWrite frame;
  tcflush(fd, TCIFLUSH);
  const CpuSample before = SampleCpu();
  const Clock::time_point started = Clock::now();
  for (uint32_t i = 0; i < frames; ++i) {
    const uint32_t page = i % pages;
    const veltr::PageRecord record{image.data() + size_t{page} * kPageSize, kPageSize, page,
                                   veltr::PXR};
    if (!frame.Prepare(&record)) {
      result.error = "cannot build a page frame";
      break;
    }
    uint8_t answer[kFrameIn];
    const Clock::time_point sent = Clock::now();
    if (!WriteRaw(fd, frame.At(0), kFrameOut) || !ReadRaw(fd, answer, sizeof answer)) {
      result.error = "page frame " + std::to_string(i + 1) + " of the baseline went unanswered";
      break;
    }
    result.trips.push_back(Clock::now() - sent);
    if (answer[0] != 0x55) {
      result.error = "page frame " + std::to_string(i + 1) + " of the baseline was refused";
      break;
    }
  }
  result.wall = ToSeconds(Clock::now() - started);
  const CpuSample after = SampleCpu();
  result.cpu = {after.user - before.user, after.system - before.system,
                after.voluntarySwitches - before.voluntarySwitches,
                after.involuntarySwitches - before.involuntarySwitches};
  close(fd);
  return result;
}

// ---- the run ----------------------------------------------------------------------------------

std::string ProgramFolder() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "upload_bench: %s\n", why.c_str());
  return kExitFailed;
}

void DrainNotices(veltr::CVeltrNoticeQueue& queue) {
  while (queue.TryTake()) {
  }
}

// Runs the firmware upgrade as the front ends do: a job on the engine's worker, this thread
// taking the display notices until the job-finished notice comes.
void UploadAsJob(veltr::UpgradeEngine& engine, veltr::CVeltrNoticeQueue& queue) {
  if (!engine.StartJob(veltr::FirmwareBody, engine.Request())) {
    engine.job = veltr::JobOutcome::OfWork(veltr::FirmwareUpgrade, veltr::InternalError);
    return;
  }
  for (;;) {
    const auto notice = queue.Take(std::chrono::milliseconds(1000));
    if (notice && notice->kind == veltr::Notice::Kind::JobFinished) {
      break;
    }
  }
}

// One timed firmware upload over the connection already made: what crossed the port, the wall
// and CPU time it took, or why it failed.
struct TimedUpload {
  std::string error;
  PortCounts counts;
  Clock::time_point started;
  Clock::time_point ended;
  CpuSample cpuBefore;
  CpuSample cpuAfter;
  std::optional<double> simCpuBefore;
  std::optional<double> simCpuAfter;

  double Wall() const { return ToSeconds(ended - started); }
  double Wire() const { return WireSeconds(counts.bytesOut + counts.bytesIn); }
  double Ratio() const { return Wall() / Wire(); }
  double Cpu() const {
    return (cpuAfter.user - cpuBefore.user) + (cpuAfter.system - cpuBefore.system);
  }
};

TimedUpload TimeUpload(veltr::UpgradeEngine& engine, veltr::CVeltrNoticeQueue& queue,
                       SimulatorProcess& simulator, bool direct) {
  TimedUpload run;
  // Made current like any port, so that a wire trace, when on, stands in front of it.
  veltr::IVeltrPort& serial = engine.PortFor(veltr::kPortCom1);
  CountingPort counted(serial);
  engine.SetCurrentPort(counted);
  run.simCpuBefore = simulator.CpuSeconds();
  run.cpuBefore = SampleCpu();
  run.started = Clock::now();
  if (direct) {
    veltr::FirmwareBody(engine);
  } else {
    UploadAsJob(engine, queue);
  }
  run.ended = Clock::now();
  run.cpuAfter = SampleCpu();
  run.simCpuAfter = simulator.CpuSeconds();
  engine.WaitForWorker();
  engine.ClearBusy();
  engine.SetCurrentPort(serial);
  DrainNotices(queue);
  run.counts = counted.Counts();

  if (!engine.job.Succeeded()) {
    const PortCounts& c = run.counts;
    run.error = veltr::FailureText(veltr::FirmwareUpgrade, engine.job.WorkResult()) + " " +
                std::to_string(c.failedReads) + " reads and " + std::to_string(c.failedWrites) +
                " writes failed; the first: " + (c.firstFailure.empty() ? "none" : c.firstFailure);
    if (const std::string ended = simulator.Ended(); !ended.empty()) {
      run.error += "; " + ended;
    }
  }
  return run;
}

int Run(const Options& options) {
  const std::string devsim =
      options.devsim.empty() ? ProgramFolder() + "/veltr-devsim" : options.devsim;
  if (access(devsim.c_str(), X_OK) != 0) {
    return Fail("no simulator at " + devsim + " (build veltr-devsim, or pass --devsim PATH)");
  }
  const uint32_t processorPages =
      options.pages.value_or(options.quick ? kQuickProcessorPages : kFullProcessorPages);
  const bool uploadLogic = !options.quick;

  TempFolder folder;
  if (!folder.Made()) {
    return Fail("cannot make a temporary package folder");
  }
  if (!WriteText(folder.File(veltr::kPackageIniName),
                 std::string("[") + kTypeName + "]\r\nVersion=" + std::to_string(kPackageVersion) +
                     "\r\n") ||
      !WriteText(folder.File(veltr::kBuildTextName), "Bench build 2.13\r\n")) {
    return Fail("cannot write the package description into " + folder.Path());
  }

  SimulatorProcess simulator;
  std::string error;
  if (!simulator.Start(
          devsim, {"--type", kTypeName, "--uploader", "108", "--wire-speed", "--start", "program"},
          !options.normalSimulator, &error)) {
    return Fail(error);
  }

  veltr::AppSettings settings;
  settings.deviceType = veltr::PXR;
  settings.autoselect = 0;
  settings.selectDialog = 0;
  settings.port = veltr::kPortCom1;
  settings.uploadLogic = uploadLogic ? 1 : 0;
  settings.uploadProcessor = 1;
  settings.uploadBios = 0;

  veltr::IVeltrDisplay display;
  veltr::PackageVersionTable package;
  if (!veltr::LoadPackageDescription(folder.File(veltr::kPackageIniName), package)) {
    return Fail("cannot read the package description just written");
  }
  veltr::CVeltrPortMap portMap;
  portMap.Set("COM1", simulator.SlavePath());
  veltr::UpgradeEngine engine(veltr::MakeSystemPorts(portMap));
  veltr::IVeltrPort& serial = engine.PortFor(veltr::kPortCom1);
  engine.SetRequest(veltr::RequestFrom(settings));
  engine.SetDisplay(&display);
  veltr::CVeltrNoticeQueue& queue = engine.Notices();
  engine.SetSettings(&settings);
  engine.SetPackage(&package);
  engine.SetWorkingFolder(folder.Path());

  // Not timed: finding the device and bringing it into program mode.
  if (!veltr::Search(engine)) {
    std::string why = "no connection to the simulator on " + simulator.SlavePath();
    for (const auto& detail : engine.connectionDetails) {
      why += "; " + detail;
    }
    return Fail(why);
  }
  DrainNotices(queue);
  const veltr::DeviceInfo& info = engine.info;
  if (info.type != veltr::PXR) {
    return Fail(std::string("the simulator answered as ") + veltr::GetShortName(info.type) +
                ", not " + kTypeName);
  }
  if (serial.GetBaudRate() != kBaud) {
    return Fail("the line runs at " + std::to_string(serial.GetBaudRate()) + " baud, not " +
                std::to_string(kBaud));
  }

  // The image names and the logic length come from the engine's own tables for the device that
  // answered, so the files are the ones the upload looks for.
  const uint32_t logicLength = veltr::GetLogicImageSize(info.type, info.Hardware());
  const uint32_t logicPages = uploadLogic ? (logicLength + kPageSize - 1) / kPageSize : 0;
  const std::string logicName = veltr::LogicFileName(info.type, info.Hardware(), package);
  const std::string processorName = veltr::ProcessorFileName(info.type, info.Hardware(), package);
  if (!WriteFile(folder.File(logicName), ImageBytes(logicLength, 0x2F6B1D3Bu)) ||
      !WriteFile(folder.File(processorName),
                 ImageBytes(size_t{processorPages} * kPageSize, 0x61C88647u))) {
    return Fail("cannot write the images into " + folder.Path());
  }

  const uint64_t frames = uint64_t{logicPages} + processorPages + 1;
  const uint64_t expectedOut = frames * kFrameOut + kRecordOut;
  const uint64_t expectedIn = frames * kFrameIn + kRecordIn;

  std::printf("upload_bench: %s at %u baud, veltr-devsim with wire-speed pacing on %s\n", kTypeName,
              kBaud, simulator.SlavePath().c_str());
  std::printf("  simulator        scheduled %s%s\n", simulator.Policy().c_str(),
              options.normalSimulator ? " (--normal-sim)" : "");
  if (uploadLogic) {
    std::printf("  logic image      %s  %u bytes, %u page frames\n", logicName.c_str(), logicLength,
                logicPages);
  } else {
    std::printf("  logic image      skipped (--quick: its size is fixed by the device type)\n");
  }
  std::printf("  processor image  %s  %u bytes, %u pages + placeholder = %u page frames\n",
              processorName.c_str(), processorPages * kPageSize, processorPages,
              processorPages + 1);
  std::printf("  upgrade record   %u bytes out, %u echoes back\n", kRecordOut, kRecordIn);
  std::printf("  running the upload %s (about %.0f s on the wire) ...\n",
              options.direct ? "on this thread" : "as a job on the engine's worker",
              WireSeconds(expectedOut + expectedIn));
  std::fflush(stdout);

  const TimedUpload off = TimeUpload(engine, queue, simulator, options.direct);
  if (!off.error.empty()) {
    return Fail(off.error);
  }
  const PortCounts& c = off.counts;
  const Clock::time_point started = off.started;
  const Clock::time_point ended = off.ended;
  const CpuSample& cpuBefore = off.cpuBefore;
  const CpuSample& cpuAfter = off.cpuAfter;
  const std::optional<double>& simCpuBefore = off.simCpuBefore;
  const std::optional<double>& simCpuAfter = off.simCpuAfter;
  const double wall = off.Wall();
  const uint64_t bytes = c.bytesOut + c.bytesIn;
  const double wire = off.Wire();
  const double ratio = off.Ratio();
  const double cpuUser = cpuAfter.user - cpuBefore.user;
  const double cpuSystem = cpuAfter.system - cpuBefore.system;
  const double cpu = cpuUser + cpuSystem;
  const double cpuPercent = 100.0 * cpu / wall;

  std::printf("\nwire trace off\n");
  std::printf("wall time    %9.3f s\n", wall);
  std::printf("wire time    %9.3f s   (%llu bytes out + %llu in = %llu, x %.0f bits / %u baud)\n",
              wire, static_cast<unsigned long long>(c.bytesOut),
              static_cast<unsigned long long>(c.bytesIn), static_cast<unsigned long long>(bytes),
              kBitsPerByte, kBaud);
  if (c.bytesOut != expectedOut || c.bytesIn != expectedIn) {
    std::printf(
        "             (expected %llu out and %llu in: the difference is repeated attempts)\n",
        static_cast<unsigned long long>(expectedOut), static_cast<unsigned long long>(expectedIn));
  }
  std::printf("ratio        %9.4f     target <= %.2f   %s\n", ratio, kTargetRatio,
              Verdict(ratio <= kTargetRatio));
  std::printf("CPU time     %9.3f s   (user %.3f s, system %.3f s)\n", cpu, cpuUser, cpuSystem);
  std::printf("CPU of wall  %9.3f %%    target <= %.0f %%    %s\n", cpuPercent, kTargetCpuPercent,
              Verdict(cpuPercent <= kTargetCpuPercent));

  // Where the time beyond the wire time went.
  const double inPort = ToSeconds(c.inWrite + c.inRead);
  const double outside = c.firstCall && c.lastCall
                             ? ToSeconds((*c.firstCall - started) + (ended - *c.lastCall))
                             : wall;
  const double frameWireMs = WireSeconds(kFrameOut + kFrameIn) * 1000.0;
  const Spread trips = SpreadOf(c.frameRoundTrips);
  const Spread gaps = SpreadOf(c.frameGaps);
  std::printf("\nwhere the wall time went\n");
  std::printf("  inside port writes      %9.3f s   %llu calls (purge, write, drain)\n",
              ToSeconds(c.inWrite), static_cast<unsigned long long>(c.writes));
  std::printf("  inside port reads       %9.3f s   %llu calls (waiting for the answers)\n",
              ToSeconds(c.inRead), static_cast<unsigned long long>(c.reads));
  std::printf("  port total - wire time  %+9.3f s\n", inPort - wire);
  std::printf("  engine between calls    %9.3f s\n", ToSeconds(c.betweenCalls));
  std::printf("  before the first call and after the last  %.3f s\n", outside);
  std::printf(
      "  page frame round trip   %zu frames, wire %.3f ms each; measured mean %.3f, median "
      "%.3f, p99 %.3f, max %.3f ms\n",
      c.frameRoundTrips.size(), frameWireMs, trips.mean, trips.median, trips.p99, trips.max);
  std::printf("  over the wire per frame mean %.3f ms, %.3f s in all\n", trips.mean - frameWireMs,
              (trips.total - frameWireMs * static_cast<double>(c.frameRoundTrips.size())) / 1000.0);
  PrintOverWire(c.frameRoundTrips, frameWireMs);
  std::printf(
      "  gap between frames      mean %.3f, median %.3f, p99 %.3f, max %.3f ms, %.3f s in "
      "all\n",
      gaps.mean, gaps.median, gaps.p99, gaps.max, gaps.total / 1000.0);
  std::printf("  context switches        %ld voluntary, %ld involuntary\n",
              cpuAfter.voluntarySwitches - cpuBefore.voluntarySwitches,
              cpuAfter.involuntarySwitches - cpuBefore.involuntarySwitches);
  if (simCpuBefore && simCpuAfter) {
    std::printf("  simulator CPU           %9.3f s   (%.2f %% of wall; not counted above)\n",
                *simCpuAfter - *simCpuBefore, 100.0 * (*simCpuAfter - *simCpuBefore) / wall);
  }

  // The same upload once more with the engine's wire trace on, into a file in the temporary
  // folder: the trace must not slow the upload either.
  const std::string tracePath = folder.File("upload.trace");
  std::printf("\nthe same upload with the wire trace on (into %s) ...\n", tracePath.c_str());
  std::fflush(stdout);
  if (!engine.StartTrace(tracePath, error)) {
    return Fail("cannot write the wire trace: " + error);
  }
  const TimedUpload on = TimeUpload(engine, queue, simulator, options.direct);
  engine.StopTrace();
  if (!on.error.empty()) {
    return Fail("with the wire trace on: " + on.error);
  }
  std::error_code sizeError;
  const auto traceBytes = std::filesystem::file_size(tracePath, sizeError);
  std::printf("wall time    %9.3f s\n", on.Wall());
  std::printf("wire time    %9.3f s   (%llu bytes)\n", on.Wire(),
              static_cast<unsigned long long>(on.counts.bytesOut + on.counts.bytesIn));
  std::printf("ratio        %9.4f     target <= %.2f   %s\n", on.Ratio(), kTargetRatio,
              Verdict(on.Ratio() <= kTargetRatio));
  std::printf("CPU time     %9.3f s   (%.3f %% of wall)\n", on.Cpu(), 100.0 * on.Cpu() / on.Wall());
  std::printf("trace file   %9.3f MB\n", sizeError ? 0.0 : static_cast<double>(traceBytes) / 1e6);
  // The trace writes its lines outside the counted port calls: its cost is in this figure, the
  // simulator's lateness under load is not.
  const Spread onTrips = SpreadOf(on.counts.frameRoundTrips);
  std::printf(
      "engine between calls %.3f s (trace off %.3f s); frame round trip median %.3f ms "
      "(trace off %.3f ms)\n",
      ToSeconds(on.counts.betweenCalls), ToSeconds(c.betweenCalls), onTrips.median, trips.median);
  PrintOverWire(on.counts.frameRoundTrips, frameWireMs);

  std::printf("\nratio to wire time: trace off %.4f, trace on %.4f (target <= %.2f): %s\n", ratio,
              on.Ratio(), kTargetRatio,
              Verdict(ratio <= kTargetRatio && on.Ratio() <= kTargetRatio));

  if (options.baseline) {
    const auto frameCount = static_cast<uint32_t>(c.frameRoundTrips.size());
    std::printf("\nbaseline: %u page frames straight to the line, no engine ...\n", frameCount);
    std::fflush(stdout);
    const std::optional<double> baseSimBefore = simulator.CpuSeconds();
    const BaselineResult base = RunBaseline(simulator.SlavePath(), frameCount, processorPages);
    const std::optional<double> baseSimAfter = simulator.CpuSeconds();
    if (!base.error.empty()) {
      return Fail(base.error);
    }
    const Spread raw = SpreadOf(base.trips);
    const double baseWire = frameWireMs * static_cast<double>(base.trips.size()) / 1000.0;
    std::printf("  wall %.3f s, wire %.3f s, ratio %.4f\n", base.wall, baseWire,
                base.wall / baseWire);
    std::printf(
        "  round trip mean %.3f, median %.3f, p99 %.3f, max %.3f ms; over the wire mean "
        "%.3f ms\n",
        raw.mean, raw.median, raw.p99, raw.max, raw.mean - frameWireMs);
    std::printf("  CPU %.3f s (%.3f %% of wall), %ld voluntary and %ld involuntary switches\n",
                base.cpu.user + base.cpu.system,
                100.0 * (base.cpu.user + base.cpu.system) / base.wall, base.cpu.voluntarySwitches,
                base.cpu.involuntarySwitches);
    if (baseSimBefore && baseSimAfter) {
      std::printf("  simulator CPU %.3f s\n", *baseSimAfter - *baseSimBefore);
    }
    std::printf("  the engine adds %.3f ms a frame over this baseline\n", trips.mean - raw.mean);
  }
  return 0;
}

bool ParsePages(const std::string& text, uint32_t& pages) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > kMaxProcessorPages) {
    return false;
  }
  pages = static_cast<uint32_t>(value);
  return true;
}

void Usage(FILE* to) {
  std::fprintf(
      to,
      "usage: upload_bench [--quick] [--direct] [--baseline] [--normal-sim] [--pages N]\n"
      "                    [--devsim PATH]\n"
      "  --quick        processor image only, %u pages (a few seconds)\n"
      "  --direct       run the upload on this thread instead of the engine's worker\n"
      "  --baseline     then the same page frames again without the engine, for comparison\n"
      "  --normal-sim   leave the simulator at the normal policy instead of SCHED_FIFO 1\n"
      "  --pages N      processor image of N pages of 256 bytes, 1 to %u (default %u)\n"
      "  --devsim PATH  the simulator program (default: veltr-devsim beside this one)\n",
      kQuickProcessorPages, kMaxProcessorPages, kFullProcessorPages);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--direct") {
      options.direct = true;
    } else if (arg == "--baseline") {
      options.baseline = true;
    } else if (arg == "--normal-sim") {
      options.normalSimulator = true;
    } else if (arg == "--pages" && i + 1 < argc) {
      uint32_t pages = 0;
      if (!ParsePages(argv[++i], pages)) {
        std::fprintf(stderr, "upload_bench: --pages takes 1 to %u, not \"%s\"\n",
                     kMaxProcessorPages, argv[i]);
        return kExitUsage;
      }
      options.pages = pages;
    } else if (arg == "--devsim" && i + 1 < argc) {
      options.devsim = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "upload_bench: unknown argument \"%s\"\n", arg.c_str());
      Usage(stderr);
      return kExitUsage;
    }
  }
  return Run(options);
}
