// The fault matrix: one firmware upgrade per fault and transport against the simulator, with the
// only outcomes a firmware tool may have: success with the flash holding the image, or a failure
// in the program's own words after which the device can still be upgraded. Every case writes its
// row; the table of all rows present is rewritten beside them (VELTR_FAULT_MATRIX_DIR), and
// scripts/fault-matrix.sh copies it into docs/fault-matrix.md.

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/device_folder.h"
#include "e2e/table_file.h"

namespace veltr::e2e {
namespace {

namespace fs = std::filesystem;

// How veltr reaches the simulated device. Serial runs over a pseudo-terminal; the USB (faked
// hidraw node) and Ethernet (network namespace) links come in beside it as further kinds.
enum class Transport { Serial };

const char* TransportName(Transport transport) {
  switch (transport) {
    case Transport::Serial:
      return "Serial";
  }
  return "?";
}

// What brings the device back after a failed first run.
enum class Recovery {
  SameJob,     // the same job again, on the same device
  PowerCycle,  // the device switched off and on (the fault gone with it), then the job
  ColdBoot,    // switched on as a device that no longer starts: the cold boot pass and the job
};

const char* RecoveryText(Recovery recovery) {
  switch (recovery) {
    case Recovery::SameJob:
      return "same job again";
    case Recovery::PowerCycle:
      return "device switched off and on, job again";
    case Recovery::ColdBoot:
      return "cold boot pass, job again";
  }
  return "?";
}

struct FaultCase {
  const char* name;
  const char* description;  // as the table shows it
  std::vector<std::string> simulatorFaults;
  Recovery recovery;
  std::vector<Transport> transports;
};

struct MatrixCase {
  FaultCase fault;
  size_t row;  // the fault's place in the table
  Transport transport;
};

void PrintTo(const MatrixCase& c, std::ostream* os) {
  *os << c.fault.name << "/" << TransportName(c.transport);
}

// Page frames are counted from 1 over the simulator's life; the KL1A package below sends 122
// logic pages, then 40 processor pages (and the first again, last). Faults on frame 130 hit the
// processor upload.
const std::vector<FaultCase> kFaults = {
    {"NoFault", "none", {}, Recovery::SameJob, {Transport::Serial}},
    {"AnswerLost",
     "page answer lost (frames 3 and 130)",
     {"--drop-page", "3,130"},
     Recovery::SameJob,
     {Transport::Serial}},
    {"EchoCorrupted",
     "EEPROM echo corrupted (byte 5)",
     {"--fail-echo", "5"},
     Recovery::SameJob,
     {Transport::Serial}},
    {"WrongSumEchoed",
     "wrong sum echoed (frames 3 and 130)",
     {"--corrupt-page", "3,130"},
     Recovery::SameJob,
     {Transport::Serial}},
    {"StrayBytes",
     "stray bytes on the line between answers",
     {"--stray-bytes"},
     Recovery::SameJob,
     {Transport::Serial}},
    {"SilentFromPage",
     "device silent from frame 131 on",
     {"--silent-after-pages", "130"},
     Recovery::ColdBoot,
     {Transport::Serial}},
    {"RestartMidUpload",
     "device restarts after frame 130",
     {"--restart-after-pages", "130"},
     Recovery::SameJob,
     {Transport::Serial}},
    {"AnswerTooShort",
     "answer of the wrong length (frames 3 and 130)",
     {"--short-answer-page", "3,130"},
     Recovery::SameJob,
     {Transport::Serial}},
    {"AnswerAfterTimeOut",
     "answer after its time-out (frames 3 and 130)",
     {"--late-answer-page", "3,130"},
     Recovery::SameJob,
     {Transport::Serial}},
    {"SlowDevice",
     "every answer 30 ms late",
     {"--slow", "30"},
     Recovery::SameJob,
     {Transport::Serial}},
};

std::vector<MatrixCase> AllCases() {
  std::vector<MatrixCase> cases;
  for (size_t row = 0; row < kFaults.size(); ++row) {
    for (Transport transport : kFaults[row].transports) {
      cases.push_back({kFaults[row], row, transport});
    }
  }
  return cases;
}

// The last line that tells how the job ended.
std::string Outcome(const std::string& out) {
  std::string last;
  for (const auto& line : Lines(out)) {
    if (line.find("upgrade succeeded.") != std::string::npos ||
        line.find("upgrade failed") != std::string::npos ||
        line.find("Cannot establish connection!") != std::string::npos) {
      last = line;
    }
  }
  return last;
}

// The first upload line that failed, as printed, when there is one.
std::string FailedLine(const std::string& out) {
  for (const auto& line : Lines(out)) {
    if (line.find("... Failed: ") != std::string::npos) {
      return line.substr(line.find_first_not_of(' '));
    }
  }
  return "";
}

std::string Versions(const devsim::DeviceState& device) {
  const auto info = device.InfoArea();
  const auto word = [&info](size_t at) { return info[at] << 8 | info[at + 1]; };
  std::ostringstream text;
  text << "versions " << word(124) << "/" << word(126);
  return text.str();
}

class FaultMatrixTest : public DeviceFolderTest, public ::testing::WithParamInterface<MatrixCase> {
 protected:
  // The device's memory while it runs on: pages and EEPROM bytes are in its files before they are
  // acknowledged, the rest once the line has been quiet for a moment.
  static devsim::DeviceState Peek(const std::string& dir) {
    usleep(400 * 1000);
    std::string error;
    auto state = devsim::LoadState(dir, &error);
    EXPECT_TRUE(state) << error;
    return state ? *state : devsim::DeviceState{};
  }

  // The device of the case's transport, with the faults given; returns where veltr finds it (for
  // serial the slave tty). A new transport adds its start here and its veltr options below.
  std::string StartLink(const std::vector<std::string>& faults, bool dead = false) {
    std::vector<std::string> args = {"--type", "KL1A", "--hw", "101"};
    if (dead) {
      args.insert(args.end(), {"--start", "dead", "--power-up-after", "1500"});
    }
    args.insert(args.end(), faults.begin(), faults.end());
    switch (GetParam().transport) {
      case Transport::Serial:
        return StartDevice(args);
    }
    return "";
  }

  RunResult Upgrade(const std::string& where, bool coldBoot = false) {
    std::vector<std::string> args = {"upgrade", "--yes", "--device-type", "KL1A"};
    switch (GetParam().transport) {
      case Transport::Serial:
        args.insert(args.end(), {"--no-autoselect", "--port", "COM1"});
        break;
    }
    if (coldBoot) {
      args.push_back("--cold-boot");
    }
    return Veltr(args, where);
  }

  // Writes this case's row and rewrites the table from every row present.
  static void Record(const MatrixCase& c, const std::string& cells) {
    char key[64];
    std::snprintf(key, sizeof key, "%02zu-%s.md", c.row, TransportName(c.transport));
    const std::string row = std::string("| ") + c.fault.description + " | " +
                            TransportName(c.transport) + " | " + cells + " |";
    EXPECT_TRUE(WriteTableRow(VELTR_FAULT_MATRIX_DIR, "fault-matrix.md",
                              "| Fault | Transport | First run: exit, message | Failed line | "
                              "Flash, EEPROM after | Recovery | After recovery |\n"
                              "|---|---|---|---|---|---|---|\n",
                              key, row));
  }
};

TEST_P(FaultMatrixTest, UpgradeSucceedsOrFailsInWordsAndTheDeviceRecovers) {
  const auto& c = GetParam();
  const Bytes logic = ImageBytes(31146, 31);
  const Bytes processor = ImageBytes(10000, 32);
  WritePackageFile("pk1a1211.sop", logic);
  WritePackageFile("uk1a1211.bin", processor);

  const std::string tty = StartLink(c.fault.simulatorFaults);
  const auto first = Upgrade(tty);
  const std::string message = Outcome(first.out);
  const std::string failedLine = FailedLine(first.out);
  auto device = Peek(StateDir());
  const bool flashHoldsImage = device.LogicBytes(logic.size()) == logic &&
                               device.ProcessorBytes(processor.size()) == processor;
  std::ostringstream cells;
  cells << first.exitCode << ", " << (message.empty() ? "(none)" : message) << " | "
        << (failedLine.empty() ? "-" : failedLine) << " | "
        << (flashHoldsImage ? "image" : "not the image") << ", " << Versions(device);

  if (first.exitCode == 0) {
    // Success is only success with the image in the flash and the versions recorded.
    EXPECT_EQ(message, "Firmware upgrade succeeded.") << first.out;
    EXPECT_TRUE(flashHoldsImage) << "success reported, but the flash differs from the image";
    EXPECT_EQ(Versions(device), "versions 211/211");
    cells << " | - | -";
  } else {
    EXPECT_GE(first.exitCode, 1) << first.out << first.err;
    EXPECT_LE(first.exitCode, 8) << first.out << first.err;
    EXPECT_EQ(message.rfind("Firmware upgrade failed: ", 0), 0u) << first.out;
    EXPECT_LT(first.seconds, 90.0) << "a failing device ends the job in bounded time";

    RunResult second;
    switch (c.fault.recovery) {
      case Recovery::SameJob:
        // The faulty device goes on as it is, its fault counters past their frames.
        second = Upgrade(tty);
        break;
      case Recovery::PowerCycle:
        StopDevices();
        second = Upgrade(StartLink({}));
        break;
      case Recovery::ColdBoot:
        StopDevices();
        second = Upgrade(StartLink({}, true), true);
        break;
    }
    EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
    device = Device();
    const bool recovered = device.LogicBytes(logic.size()) == logic &&
                           device.ProcessorBytes(processor.size()) == processor;
    EXPECT_TRUE(recovered) << "the flash differs from the image after the recovery";
    cells << " | " << RecoveryText(c.fault.recovery) << " | " << second.exitCode << ", "
          << Outcome(second.out) << ", " << (recovered ? "image" : "not the image") << ", "
          << Versions(device);
  }
  Record(c, cells.str());
}

INSTANTIATE_TEST_SUITE_P(E2e, FaultMatrixTest, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) {
                           return std::string(info.param.fault.name) +
                                  TransportName(info.param.transport);
                         });

}  // namespace
}  // namespace veltr::e2e
