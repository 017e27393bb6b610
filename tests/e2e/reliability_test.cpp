// Power loss on either side of the line, signals on a terminal, and inputs that are not what they
// claim to be, against the simulated device over pseudo-terminals.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/device_folder.h"
#include "e2e/table_file.h"

namespace veltr::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

// One row of the table of refused inputs: what it was, what the program said, how long it took.
void RecordRefusal(const std::string& name, const std::string& input, int exitCode,
                   const std::string& message, double seconds) {
  char cells[64];
  std::snprintf(cells, sizeof cells, " | %d | %.2f s |", exitCode, seconds);
  WriteTableRow(VELTR_DAMAGED_INPUTS_DIR, "damaged-inputs.md",
                "| Input | Message | Exit | Time |\n|---|---|---|---|\n", name,
                "| " + input + " | " + message + cells);
}

class PowerLossTest : public DeviceFolderTest {
 protected:
  void SetUp() override {
    DeviceFolderTest::SetUp();
    WritePackageFile("uk1a1211.bin", processor_);
  }

  std::vector<std::string> Upgrade(bool coldBoot = false) const {
    std::vector<std::string> args = {"upgrade", "--yes",           "--no-logic", "--device-type",
                                     "KL1A",    "--no-autoselect", "--port",     "COM1"};
    if (coldBoot) {
      args.push_back("--cold-boot");
    }
    return args;
  }

  // After the power came back the device no longer starts: only the cold boot pass reaches it,
  // and the upgrade done again puts the whole image into the flash.
  void RecoverByColdBoot() {
    const std::string tty =
        StartDevice({"--type", "KL1A", "--start", "dead", "--power-up-after", "1500"});
    const auto r = Veltr(Upgrade(true), tty);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(HasLine(r.out, "   Searching COM1 ... Connection established")) << r.out;
    EXPECT_TRUE(HasLine(r.out, "Firmware upgrade succeeded.")) << r.out;
    EXPECT_EQ(Device().ProcessorBytes(processor_.size()), processor_);
  }

  const Bytes processor_ = ImageBytes(10000, 41);
};

// The simulator is killed in the middle of the processor upload: what it acknowledged is in its
// flash, the rest is not. veltr ends in its own words.
TEST_F(PowerLossTest, DevicePowerLostMidUploadIsRecoveredByTheColdBoot) {
  const fs::path log = folder_ / "device.log";
  const std::string tty =
      StartDevice({"--type", "KL1A", "--hw", "101", "--slow", "10", "--verbose"}, log.string());
  RunResult first;
  std::thread job([&] { first = Veltr(Upgrade(), tty); });
  const auto until = Clock::now() + std::chrono::seconds(60);
  while (Count(ReadWhole(log), "processor page") < 12 && Clock::now() < until) {
    usleep(5 * 1000);
  }
  sims_.front()->Kill();
  sims_.clear();
  job.join();
  EXPECT_GE(first.exitCode, 1) << first.out << first.err;
  EXPECT_LE(first.exitCode, 8) << first.out << first.err;
  EXPECT_TRUE(HasLine(first.out, "Firmware upgrade failed: communication failed.")) << first.out;

  std::string error;
  const auto halfWritten = devsim::LoadState(StateDir(), &error);
  ASSERT_TRUE(halfWritten) << error;
  EXPECT_NE(halfWritten->ProcessorBytes(processor_.size()), processor_) << "killed too late";
  // The last page goes first: what was acknowledged before the power went is there.
  const size_t lastPage = (processor_.size() - 1) / 256;
  EXPECT_EQ(halfWritten->ProcessorPage(static_cast<uint32_t>(lastPage - 1)),
            Bytes(processor_.begin() + (lastPage - 1) * 256, processor_.begin() + lastPage * 256));

  RecoverByColdBoot();
}

// veltr itself is killed mid-upload (nothing can catch SIGKILL): the device is left in program
// mode with half its firmware; the next run finds it and completes the upgrade.
TEST_F(PowerLossTest, VeltrKilledMidUploadIsRecoveredByTheNextRun) {
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--slow", "10"});
  SignalPlan plan;
  plan.signal = SIGKILL;
  plan.after = "   Uploading 1 block of 41";
  const auto killed = Veltr(Upgrade(), tty, &plan);
  ASSERT_GE(killed.signalledAt, 0) << "the upload never started: " << killed.out << killed.err;
  EXPECT_EQ(killed.exitCode, 128 + SIGKILL);

  const auto again = Veltr(Upgrade(), tty);
  EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_TRUE(HasLine(again.out, "Firmware upgrade succeeded.")) << again.out;
  EXPECT_EQ(Device().ProcessorBytes(processor_.size()), processor_);
}

// The same, and then the power goes too before anyone reruns: the cold boot brings it back.
TEST_F(PowerLossTest, VeltrKilledThenDevicePowerLostIsRecoveredByTheColdBoot) {
  StartDevice({"--type", "KL1A", "--hw", "101", "--slow", "10"});
  SignalPlan plan;
  plan.signal = SIGKILL;
  plan.after = "   Uploading 1 block of 41";
  const auto killed = Veltr(Upgrade(), sims_.front()->SlavePath(), &plan);
  ASSERT_GE(killed.signalledAt, 0) << killed.out << killed.err;
  sims_.front()->Kill();
  sims_.clear();
  RecoverByColdBoot();
}

// --- signals on a terminal -------------------------------------------------------------------

struct TerminalRun {
  int exitCode = -1;
  std::string screen;  // what reached the terminal
  std::string err;
  bool settingsKept = false;
  std::string settingsChange;
  int signalsSent = 0;
};

bool SameSettings(const termios& a, const termios& b, std::string* what) {
  if (a.c_iflag != b.c_iflag) {
    *what = "input flags";
  } else if (a.c_oflag != b.c_oflag) {
    *what = "output flags";
  } else if (a.c_cflag != b.c_cflag) {
    *what = "control flags";
  } else if (a.c_lflag != b.c_lflag) {
    *what = "local flags";
  } else if (std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) != 0) {
    *what = "control characters";
  } else {
    return true;
  }
  return false;
}

// veltr with its standard input and output on a pseudo-terminal, as a technician runs it; stderr
// into a pipe. `signal` goes out once the upload has begun, and again after each "Please, wait"
// until `times` were sent. The terminal's settings are compared before and after.
TerminalRun RunOnTerminal(const std::vector<std::string>& args, int signal, int times) {
  TerminalRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    return run;
  }
  const std::string slavePath = ptsname(master);
  const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  int err[2];
  if (slave < 0 || pipe2(err, O_CLOEXEC) != 0) {
    return run;
  }
  termios before{};
  tcgetattr(slave, &before);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    std::vector<char*> argv;
    const std::string program = kBinDir + "/veltr";
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(err[1]);
  fcntl(master, F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  const auto until = Clock::now() + std::chrono::seconds(120);
  int status = 0;
  bool ended = false;
  while (!ended && Clock::now() < until) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(master, buffer, sizeof buffer)) > 0) {
      run.screen.append(buffer, static_cast<size_t>(n));
    }
    while ((n = read(err[0], buffer, sizeof buffer)) > 0) {
      run.err.append(buffer, static_cast<size_t>(n));
    }
    const bool uploading = run.screen.find("Uploading 1 block of") != std::string::npos;
    const size_t waits = Count(run.err, "Please, wait for upload completion.");
    if (uploading && run.signalsSent < times && waits == static_cast<size_t>(run.signalsSent)) {
      kill(pid, signal);
      ++run.signalsSent;
    }
    ended = waitpid(pid, &status, WNOHANG) == pid;
    usleep(2 * 1000);
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  char buffer[4096];
  ssize_t n;
  while ((n = read(err[0], buffer, sizeof buffer)) > 0) {
    run.err.append(buffer, static_cast<size_t>(n));
  }
  termios after{};
  tcgetattr(slave, &after);
  run.settingsKept = SameSettings(before, after, &run.settingsChange);
  close(slave);
  close(master);
  close(err[0]);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

struct TerminalSignalCase {
  const char* name;
  int signal;
  int times;
};

void PrintTo(const TerminalSignalCase& c, std::ostream* os) {
  *os << c.name;
}

class TerminalSignalTest : public DeviceFolderTest,
                           public ::testing::WithParamInterface<TerminalSignalCase> {};

// On a terminal the upload draws its progress bar; a signal neither cuts it short nor leaves the
// terminal set otherwise than it was, and each signal is told why the program waits.
TEST_P(TerminalSignalTest, UploadEndsAndTheTerminalIsAsBefore) {
  const auto& c = GetParam();
  const Bytes processor = ImageBytes(8000, 42);
  WritePackageFile("uk1a1211.bin", processor);
  WritePackageFile("VeltrUpgrade.ini", std::string("[KL1A]\nVersion=211\n"));
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--slow", "15"});
  const auto run = RunOnTerminal(
      {"upgrade", "--yes", "--no-logic", "--device-type", "KL1A", "--no-autoselect", "--port",
       "COM1", "--serial", "COM1=" + tty, "--package", PackageDir(), "--ini", IniPath()},
      c.signal, c.times);
  ASSERT_EQ(run.signalsSent, c.times) << run.screen << run.err;
  EXPECT_EQ(run.exitCode, 0) << run.screen << run.err;
  EXPECT_NE(run.screen.find("Firmware upgrade succeeded."), std::string::npos) << run.screen;
  EXPECT_EQ(Count(run.err, "Please, wait for upload completion."), static_cast<size_t>(c.times))
      << run.err;
  EXPECT_TRUE(run.settingsKept) << "the terminal's " << run.settingsChange << " changed";
  EXPECT_EQ(Device().ProcessorBytes(processor.size()), processor);
}

INSTANTIATE_TEST_SUITE_P(E2e, TerminalSignalTest,
                         ::testing::Values(TerminalSignalCase{"Sigint", SIGINT, 1},
                                           TerminalSignalCase{"SigintTwice", SIGINT, 2},
                                           TerminalSignalCase{"Sigterm", SIGTERM, 1},
                                           TerminalSignalCase{"Sighup", SIGHUP, 1}),
                         [](const auto& info) { return info.param.name; });

// --- damaged inputs that are read on the way, not refused -------------------------------------

struct SideInputCase {
  const char* name;
  const char* input;  // as the table of refused inputs shows it
  std::function<void(const fs::path& package)> make;
  const char* warning;     // on stderr; empty: none
  size_t buildTextLength;  // bytes of "Build.txt" the device should get as user text 1; 0: kept
};

void PrintTo(const SideInputCase& c, std::ostream* os) {
  *os << c.name;
}

class SideInputTest : public DeviceFolderTest,
                      public ::testing::WithParamInterface<SideInputCase> {};

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string RandomText(size_t length, uint8_t seed) {
  const Bytes bytes = ImageBytes(length, seed);
  return std::string(bytes.begin(), bytes.end());
}

// A description or build text of junk never stops an upgrade that has good images, nor slows it:
// the description counts as none (with a warning), the build text goes to the device as it is.
TEST_P(SideInputTest, UpgradeGoesThroughInBoundedTime) {
  const auto& c = GetParam();
  const Bytes processor = ImageBytes(1000, 43);
  WritePackageFile("uk1a1211.bin", processor);
  WritePackageFile("VeltrUpgrade.ini", std::string("[KL1A]\nVersion=211\n"));
  c.make(folder_ / "package");
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--text1", "Stage left"});
  const auto r = Veltr({"upgrade", "--yes", "--no-logic", "--device-type", "KL1A"}, tty);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_LT(r.seconds, 20.0);
  std::string warning;
  if (std::string(c.warning).empty()) {
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  } else {
    const size_t at = r.err.find(c.warning);
    EXPECT_NE(at, std::string::npos) << r.err;
    if (at != std::string::npos) {
      const size_t start = r.err.rfind('\n', at) + 1;  // npos + 1: the first line
      warning = Shown(r.err.substr(start, r.err.find('\n', at) - start)) + "; ";
    }
  }
  RecordRefusal(std::string("50-") + c.name, c.input, r.exitCode,
                warning + "\"Firmware upgrade succeeded.\"", r.seconds);
  const auto device = Device();
  EXPECT_EQ(device.ProcessorBytes(processor.size()), processor);
  const auto info = device.InfoArea();
  const std::string text1(info.begin() + 64, info.begin() + 94);
  if (c.buildTextLength == 0) {
    EXPECT_EQ(text1.substr(0, 10), "Stage left");
  } else {
    const std::string build = ReadWhole(folder_ / "package" / "Build.txt");
    EXPECT_EQ(text1.substr(0, c.buildTextLength), build.substr(0, c.buildTextLength));
  }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, SideInputTest,
    ::testing::Values(
        SideInputCase{
            "DescriptionOfRandomBytes", "`VeltrUpgrade.ini` of 64 KiB random bytes",
            [](const fs::path& p) { WriteBytes(p / "VeltrUpgrade.ini", RandomText(64 << 10, 1)); },
            "has no section [KL1A]", 0},
        SideInputCase{"DescriptionWithA10MBLine", "`VeltrUpgrade.ini` with a line of 10 MB",
                      [](const fs::path& p) {
                        WriteBytes(p / "VeltrUpgrade.ini", "[KL1A]\nVersion=211\nNote=" +
                                                               std::string(10 << 20, 'x') + "\n");
                      },
                      "VeltrUpgrade.ini", 0},
        SideInputCase{"BinaryBuildText", "binary \"Build.txt\"",
                      [](const fs::path& p) {
                        std::string bytes = RandomText(4096, 2);
                        bytes[3] = '\0';
                        WriteBytes(p / "Build.txt", bytes);
                      },
                      "", 30},
        SideInputCase{"BuildText10MB", "\"Build.txt\" of 10 MB",
                      [](const fs::path& p) {
                        WriteBytes(p / "Build.txt",
                                   "Build 13-12-10-A" + std::string(10 << 20, ' '));
                      },
                      "", 30}),
    [](const auto& info) { return info.param.name; });

// --- port paths that lead to no serial port ---------------------------------------------------

struct BadPortCase {
  const char* name;
  const char* input;
  std::function<std::string(const fs::path& folder)> make;  // returns the path
  const char* reason;  // in veltr's message on stderr, after the path
};

void PrintTo(const BadPortCase& c, std::ostream* os) {
  *os << c.name;
}

class BadPortTest : public DeviceFolderTest, public ::testing::WithParamInterface<BadPortCase> {};

TEST_P(BadPortTest, OpenFailsAtOnceWithTheSystemsReason) {
  const auto& c = GetParam();
  const std::string path = c.make(folder_);
  const auto r =
      Veltr({"info", "--no-autoselect", "--port", "COM1", "--device-type", "KL1A"}, path);
  EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Searching COM1 ... Port not available or used by other program"))
      << r.out;
  const std::string said = "COM1: " + path + c.reason;
  const size_t at = r.err.find(said);
  EXPECT_NE(at, std::string::npos) << r.err;
  EXPECT_LT(r.seconds, 10.0) << "an open that fails takes no wait";
  const std::string line =
      at == std::string::npos ? r.err : r.err.substr(at, r.err.find('\n', at) - at);
  RecordRefusal(std::string("60-") + c.name, c.input, r.exitCode,
                "\"Port not available or used by other program\"; " + Shown(line), r.seconds);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, BadPortTest,
    ::testing::Values(
        BadPortCase{"DevNull", "port `/dev/null`", [](const fs::path&) { return "/dev/null"; },
                    " is not a serial device"},
        BadPortCase{"RegularFile", "port: a regular file",
                    [](const fs::path& f) {
                      WriteBytes(f / "file", "not a tty");
                      return (f / "file").string();
                    },
                    " is not a serial device"},
        BadPortCase{"Folder", "port: a folder", [](const fs::path& f) { return f.string(); },
                    " is not a serial device"},
        BadPortCase{"Fifo", "port: a FIFO",
                    [](const fs::path& f) {
                      mkfifo((f / "fifo").c_str(), 0644);
                      return (f / "fifo").string();
                    },
                    " is not a serial device"},
        BadPortCase{"Missing", "port: a path that does not exist",
                    [](const fs::path& f) { return (f / "nothing").string(); }, " does not exist"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace veltr::e2e
