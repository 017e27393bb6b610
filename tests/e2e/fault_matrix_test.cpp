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
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/device_folder.h"
#include "e2e/table_file.h"
#include "e2e/usb_testbed.h"
#include "netns/netns_lab.h"

namespace veltr::e2e {
namespace {

namespace fs = std::filesystem;

// How veltr reaches the simulated device: a pseudo-terminal, a hidraw node faked by umockdev, or
// UDP between the two namespaces of a network lab.
enum class Transport { Serial, Usb, Ethernet };

const char* TransportName(Transport transport) {
  switch (transport) {
    case Transport::Serial:
      return "Serial";
    case Transport::Usb:
      return "Usb";
    case Transport::Ethernet:
      return "Ethernet";
  }
  return "?";
}

// The device each transport upgrades: a KL1A on the serial line, a VR2-TP on USB and Ethernet
// (started in its upgrade code or loader, so that every page frame is a flash page).
struct Product {
  const char* type;
  const char* logicFile;
  size_t logicLength;
  const char* processorFile;
  size_t processorLength;
  const char* upgradeCode;  // nullptr: none on this transport
  int version;
};

Product ProductOf(Transport transport) {
  switch (transport) {
    case Transport::Serial:
      break;
    case Transport::Usb:
      return {"VR2-TP", "pv2r1213.sop", 235820, "uv2r1213.bin", 10000, "uv2rusu1101.bin", 213};
    case Transport::Ethernet:
      return {"VR2-TP", "pv2r1213.sop", 235820, "uv2r1213.bin", 10000, "uv2retu1101.bin", 213};
  }
  return {"KL1A", "pk1a1211.sop", 31146, "uk1a1211.bin", 10000, nullptr, 211};
}

// Page frames of 256 bytes: the logic pages come first, then the processor's.
size_t LogicPages(const Product& product) {
  return (product.logicLength + 255) / 256;
}

// What brings the device back after a failed first run.
enum class Recovery {
  SameJob,     // the same job again, on the same device
  PowerCycle,  // the device switched off and on (the fault gone with it), then the job
  ColdBoot,    // switched on as a device that no longer starts: the cold boot pass and the job
};

const char* RecoveryText(Recovery recovery, Transport transport) {
  switch (recovery) {
    case Recovery::SameJob:
      return "same job again";
    case Recovery::PowerCycle:
      return transport == Transport::Usb ? "device plugged in again, job again"
                                         : "device switched off and on, job again";
    case Recovery::ColdBoot:
      return "cold boot pass, job again";
  }
  return "?";
}

// In descriptions and simulator options "{P}" stands for the 8th processor page frame of the
// transport's device, "{P+1}" for the frame after it.
// The cold boot pass is a serial matter: elsewhere a device whose firmware no longer starts comes
// up in its upgrade code or loader, and switching it off and on is all it takes.
Recovery RecoveryOn(Recovery recovery, Transport transport) {
  return recovery == Recovery::ColdBoot && transport != Transport::Serial ? Recovery::PowerCycle
                                                                          : recovery;
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

std::string Framed(std::string text, Transport transport) {
  const size_t processorFrame = LogicPages(ProductOf(transport)) + 8;
  for (const auto& [mark, frame] : {std::pair<std::string, size_t>{"{P+1}", processorFrame + 1},
                                    std::pair<std::string, size_t>{"{P}", processorFrame}}) {
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
      text.replace(at, mark.size(), std::to_string(frame));
    }
  }
  return text;
}

constexpr Transport kAll[] = {Transport::Serial, Transport::Usb, Transport::Ethernet};
const std::vector<Transport> kEvery(std::begin(kAll), std::end(kAll));

// Page frames are counted from 1 over the simulator's life; the KL1A package sends 122 logic
// pages, then 40 processor pages (and the first again, last), the VR2-TP package 922 and 40.
const std::vector<FaultCase> kFaults = {
    {"NoFault", "none", {}, Recovery::SameJob, kEvery},
    {"AnswerLost",
     "page answer lost (frames 3 and {P})",
     {"--drop-page", "3,{P}"},
     Recovery::SameJob,
     kEvery},
    {"EchoCorrupted",
     "EEPROM echo corrupted (byte 5)",
     {"--fail-echo", "5"},
     Recovery::SameJob,
     kEvery},
    {"WrongSumEchoed",
     "wrong sum echoed (frames 3 and {P})",
     {"--corrupt-page", "3,{P}"},
     Recovery::SameJob,
     kEvery},
    {"StrayBytes",
     "stray bytes on the line between answers",
     {"--stray-bytes"},
     Recovery::SameJob,
     kEvery},
    {"SilentFromPage",
     "device silent from frame {P+1} on",
     {"--silent-after-pages", "{P}"},
     Recovery::ColdBoot,
     kEvery},
    {"RestartMidUpload",
     "device restarts after frame {P}",
     {"--restart-after-pages", "{P}"},
     Recovery::SameJob,
     kEvery},
    {"AnswerTooShort",
     "answer of the wrong length (frames 3 and {P})",
     {"--short-answer-page", "3,{P}"},
     Recovery::SameJob,
     kEvery},
    {"AnswerAfterTimeOut",
     "answer after its time-out (frames 3 and {P})",
     {"--late-answer-page", "3,{P}"},
     Recovery::SameJob,
     kEvery},
    {"SlowDevice", "every answer 30 ms late", {"--slow", "30"}, Recovery::SameJob, kEvery},
    {"Unplugged",
     "device unplugged after frame {P}",
     {"--unplug-after-pages", "{P}"},
     Recovery::PowerCycle,
     {Transport::Usb}},
    {"DatagramDuplicated",
     "answer datagram duplicated (frames 3 and {P})",
     {"--duplicate-page", "3,{P}"},
     Recovery::SameJob,
     {Transport::Ethernet}},
    {"DatagramFromAnotherAddress",
     "page acknowledged from another address, not by the device (frames 3 and {P})",
     {"--foreign-page", "3,{P}", "--foreign-address", "10.77.1.99"},
     Recovery::SameJob,
     {Transport::Ethernet}},
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
  static constexpr const char* kDeviceAddress = "10.77.1.2";

  void SetUp() override {
    DeviceFolderTest::SetUp();
    switch (GetParam().transport) {
      case Transport::Serial:
        break;
      case Transport::Usb:
        if (const std::string missing = UsbTestbedMissing(); !missing.empty()) {
          GTEST_SKIP() << missing;
        }
        testbed_ = std::make_unique<UsbTestbed>();
        node_ = testbed_->AddDevice(0);
        launcher_ = [this](const std::string& program, const std::vector<std::string>& args) {
          return UnderTestbed(testbed_->Root(), program, args);
        };
        break;
      case Transport::Ethernet: {
        // veltr and the simulator run only inside the lab's namespaces, never beside the test.
        lab_ = std::make_unique<netns::NetnsLab>();
        std::string why;
        if (!lab_->Make(&why)) {
          GTEST_SKIP() << why;
        }
        ASSERT_TRUE(lab_->AddDeviceAddress(std::string(kDeviceAddress) + "/24"));
        ASSERT_TRUE(lab_->AddDeviceAddress("10.77.1.99/24"));
        launcher_ = [this](const std::string& program, const std::vector<std::string>& args) {
          return lab_->HostCommand(program, args);
        };
        break;
      }
    }
  }
  void TearDown() override {
    DeviceFolderTest::TearDown();
    lab_.reset();
    testbed_.reset();
  }

  // The device's memory while it runs on: pages and EEPROM bytes are in its files before they are
  // acknowledged, the rest once the line has been quiet for a moment.
  static devsim::DeviceState Peek(const std::string& dir) {
    usleep(400 * 1000);
    std::string error;
    auto state = devsim::LoadState(dir, &error);
    EXPECT_TRUE(state) << error;
    return state ? *state : devsim::DeviceState{};
  }

  // The device of the case's transport, with the faults given; returns where veltr finds it on
  // COM1 (the slave tty on serial; nowhere on the others). A dead device comes up in its upgrade
  // code or loader where the cold boot pass is a serial matter.
  std::string StartLink(const std::vector<std::string>& faults, bool dead = false) {
    const Transport transport = GetParam().transport;
    std::vector<std::string> args = {"--type", ProductOf(transport).type, "--hw", "101"};
    if (dead && transport == Transport::Serial) {
      args.insert(args.end(), {"--start", "dead", "--power-up-after", "1500"});
    }
    for (const auto& fault : faults) {
      args.push_back(Framed(fault, transport));
    }
    if (transport == Transport::Serial) {
      return StartDevice(args);
    }
    args.insert(args.end(), {"--serial", "B-07-1234", "--state", StateDir()});
    auto sim = std::make_unique<SimulatorProcess>();
    if (transport == Transport::Usb) {
      args.insert(args.end(), {"--usb", "--start", "upgrade", "--link", node_});
      args.push_back("--verbose");
      EXPECT_TRUE(sim->Start(kBinDir + "/veltr-devsim", args, (folder_ / "device.log").string()));
    } else {
      args.insert(args.end(), {"--udp", kDeviceAddress, "--start", "loader", "--verbose"});
      EXPECT_TRUE(lab_->StartOnDevices(*sim, kBinDir + "/veltr-devsim", args,
                                       (folder_ / "device.log").string()));
    }
    sims_.push_back(std::move(sim));
    return Missing("no-tty");
  }

  RunResult Upgrade(const std::string& where, bool coldBoot = false) {
    const Transport transport = GetParam().transport;
    std::vector<std::string> args = {"upgrade", "--yes", "--device-type",
                                     ProductOf(transport).type};
    switch (transport) {
      case Transport::Serial:
        args.insert(args.end(), {"--no-autoselect", "--port", "COM1"});
        break;
      case Transport::Usb:
        args.insert(args.end(), {"--port", "USB", "--serial-number", "B07-1234"});
        break;
      case Transport::Ethernet:
        args.insert(args.end(), {"--port", "Ethernet", "--address", kDeviceAddress});
        break;
    }
    if (coldBoot && transport == Transport::Serial) {
      args.push_back("--cold-boot");
    }
    return Veltr(args, where);
  }

  // Writes this case's row and rewrites the table from every row present.
  static void Record(const MatrixCase& c, const std::string& cells) {
    char key[64];
    std::snprintf(key, sizeof key, "%02zu-%d-%s.md", c.row, static_cast<int>(c.transport),
                  TransportName(c.transport));
    const std::string row = std::string("| ") + Framed(c.fault.description, c.transport) + " | " +
                            TransportName(c.transport) + " | " + cells + " |";
    EXPECT_TRUE(WriteTableRow(VELTR_FAULT_MATRIX_DIR, "fault-matrix.md",
                              "| Fault | Transport | First run: exit, message | Failed line | "
                              "Flash, EEPROM after | Recovery | After recovery |\n"
                              "|---|---|---|---|---|---|---|\n",
                              key, row));
  }

  // What the device said it did, one transaction a line (empty on serial).
  std::string DeviceLog() const {
    std::ifstream in(folder_ / "device.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<UsbTestbed> testbed_;
  std::string node_;  // the testbed's hidraw node, linked to the simulator's line while plugged
  std::unique_ptr<netns::NetnsLab> lab_;
};

TEST_P(FaultMatrixTest, UpgradeSucceedsOrFailsInWordsAndTheDeviceRecovers) {
  const auto& c = GetParam();
  const Product product = ProductOf(c.transport);
  const Bytes logic = ImageBytes(product.logicLength, 31);
  const Bytes processor = ImageBytes(product.processorLength, 32);
  WritePackageFile(product.logicFile, logic);
  WritePackageFile(product.processorFile, processor);
  if (product.upgradeCode != nullptr) {
    WritePackageFile(product.upgradeCode, ImageBytes(1024, 33));
  }
  WritePackageFile("VeltrUpgrade.ini", std::string("[") + product.type +
                                           "]\nVersion=" + std::to_string(product.version) + "\n");
  const std::string versions =
      "versions " + std::to_string(product.version) + "/" + std::to_string(product.version);

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
    EXPECT_EQ(Versions(device), versions);
    cells << " | - | -";
  } else {
    EXPECT_GE(first.exitCode, 1) << first.out << first.err;
    EXPECT_LE(first.exitCode, 8) << first.out << first.err;
    EXPECT_EQ(message.rfind("Firmware upgrade failed: ", 0), 0u) << first.out;
    EXPECT_LT(first.seconds, 90.0) << "a failing device ends the job in bounded time";

    RunResult second;
    const Recovery recovery = RecoveryOn(c.fault.recovery, c.transport);
    switch (recovery) {
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
    EXPECT_EQ(second.exitCode, 0) << second.out << second.err << DeviceLog();
    device = Device();
    const bool recovered = device.LogicBytes(logic.size()) == logic &&
                           device.ProcessorBytes(processor.size()) == processor;
    EXPECT_TRUE(recovered) << "the flash differs from the image after the recovery";
    cells << " | " << RecoveryText(recovery, c.transport) << " | " << second.exitCode << ", "
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
