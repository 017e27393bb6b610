// The command line against the simulated device, over pseudo-terminals: every byte crosses a
// kernel tty between two processes.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devsim/device_state.h"
#include "devsim/device_table.h"
#include "e2e/device_folder.h"
#include "e2e/process.h"
#include "e2e/table_file.h"
#include "protocol/commands.h"
#include "support/port_holder.h"

namespace veltr::e2e {
namespace {

namespace fs = std::filesystem;
const std::string kBin = VELTR_BIN_DIR;

// The shared device folder, with veltr run on all four COM names and the package description
// optional.
class E2eTest : public DeviceFolderTest {
 protected:
  // veltr with COM1 to COM4 mapped as given (a device tty, or a path where no tty is) and the
  // test's package.
  RunResult Veltr(std::vector<std::string> args, const std::vector<std::string>& com,
                  const SignalPlan* plan = nullptr) {
    for (size_t i = 0; i < com.size(); ++i) {
      args.push_back("--serial");
      args.push_back("COM" + std::to_string(i + 1) + "=" + com[i]);
    }
    if (args[0] != "ports") {
      args.push_back("--package");
      args.push_back(PackageDir());
      if (withIni_) {
        args.push_back("--ini");
        args.push_back(IniPath());
      }
    }
    if (withIni_ && !fs::exists(IniPath())) {
      WritePackageFile("VeltrUpgrade.ini", std::string("[KL1A]\nVersion=211\n"));
    }
    return RunProgram(kBin + "/veltr", args, 180, plan);
  }
  // COM1 the device, the other three nowhere.
  std::vector<std::string> OnCom1(const std::string& tty) const {
    return {tty, Missing("tty2"), Missing("tty3"), Missing("tty4")};
  }

  bool withIni_ = true;  // pass the test's package description with --ini
};

TEST_F(E2eTest, SearchWithAutoselectFindsTheDeviceBehindCom3) {
  const std::string tty = StartDevice(
      {"--type", "KL1A", "--hw", "101", "--uploader", "110", "--serial", "B-07-1234", "--text1",
       "Stage left", "--text2", "Rack 3", "--logic-version", "209", "--processor-version", "210"});
  const auto r = Veltr({"info"}, {Missing("ttyS0"), "/dev/null", tty, Missing("ttyS3")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> expected = {
      "Establishing connection",
      "   Searching COM1 ... Port not available or used by other program",
      "   Searching COM2 ... Port not available or used by other program",
      "   Searching COM3 ... Connection established",
      "   Searching COM4 ... Skipped",
      "You are connected to KL1A (Stage Box device)",
      "   Hardware Version: V1.01",
      "   Uploader Version: V1.10",
      "   Serial Number: B-07-1234",
      "   Current Logic and DSP Firmware Version: V2.09",
      "   Current Processor and HI Firmware Version: V2.10",
      "   Current User Text 1: \"Stage left\"",
      "   Current User Text 2: \"Rack 3\"",
  };
  EXPECT_EQ(Lines(r.out), expected);
  // The system's own reasons for the two refused ports go to stderr.
  EXPECT_NE(r.err.find("COM1: " + Missing("ttyS0")), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("COM2: /dev/null is not a serial device"), std::string::npos) << r.err;
}

TEST_F(E2eTest, WithoutAutoselectOnlyTheChosenPortIsTried) {
  const std::string tty = StartDevice({"--type", "MT10E", "--hw", "120"});
  const auto r = Veltr({"info", "--no-autoselect", "--port", "COM2", "--device-type", "MT10E"},
                       {tty, tty, Missing("x"), Missing("y")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[1], "   Searching COM1 ... Skipped");
  EXPECT_EQ(lines[2], "   Searching COM2 ... Connection established");
  EXPECT_EQ(lines[3], "   Searching COM3 ... Skipped");
  EXPECT_EQ(lines[4], "   Searching COM4 ... Skipped");
  EXPECT_EQ(lines[5], "You are connected to MT10E");
}

// What stands where COM1 points, for the reasons a port does not open.
enum class PortTrouble { Missing, PlainFile, HeldByAnotherProcess };

struct PortTroubleCase {
  const char* name;
  PortTrouble trouble;
};

void PrintTo(const PortTroubleCase& c, std::ostream* os) {
  *os << c.name;
}

class PortTroubleTest : public E2eTest, public ::testing::WithParamInterface<PortTroubleCase> {};

// The status line keeps the system's words; stderr adds the reason a user can act on.
TEST_P(PortTroubleTest, StatusLineAndTheReason) {
  std::string path;
  std::string reason;
  std::unique_ptr<test::PortHolderProcess> holder;
  switch (GetParam().trouble) {
    case PortTrouble::Missing:
      path = Missing("ttyUSB7");
      reason = "COM1: " + path + " does not exist";
      break;
    case PortTrouble::PlainFile:
      path = Missing("notes.txt");
      std::ofstream(path) << "not a port";
      reason = "COM1: " + path + " is not a serial device";
      break;
    case PortTrouble::HeldByAnotherProcess:
      path = StartDevice({"--type", "KL1A", "--hw", "101"});
      holder = std::make_unique<test::PortHolderProcess>(path);
      ASSERT_TRUE(holder->Holds());
      reason = "COM1: " + path + " is in use by another program: ";
      break;
  }
  const auto r = Veltr({"info", "--no-autoselect", "--port", "COM1"},
                       {path, Missing("b"), Missing("c"), Missing("d")});
  EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Searching COM1 ... Port not available or used by other program"))
      << r.out;
  EXPECT_NE(r.err.find("veltr: " + reason), std::string::npos) << r.err;
  if (holder) {
    // The simulator keeps its end of the line open too; the locking process must be among those
    // named.
    EXPECT_NE(
        r.err.find(holder->CommandName() + " (process " + std::to_string(holder->Pid()) + ")"),
        std::string::npos)
        << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, PortTroubleTest,
    ::testing::Values(PortTroubleCase{"PathThatDoesNotExist", PortTrouble::Missing},
                      PortTroubleCase{"FileThatIsNotATty", PortTrouble::PlainFile},
                      PortTroubleCase{"PortHeldByAnotherProcess",
                                      PortTrouble::HeldByAnotherProcess}),
    [](const auto& info) { return std::string(info.param.name); });

// A device expected at the wrong speed does not hear the search.
TEST_F(E2eTest, DeviceExpectedAtAnotherSpeedIsNotFound) {
  const std::string tty = StartDevice({"--type", "MT10E", "--hw", "120", "--start", "program"});
  const auto r = Veltr({"info", "--device-type", "KL1A"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Searching COM1 ... No device connected to port")) << r.out;
  // No terminal and no --yes: the cold boot offer is declined, and the run ends quietly. The
  // failure message belongs to a second failed pass only.
  EXPECT_TRUE(HasLine(r.out, "-> not answered: run with --yes to wait for a cold boot")) << r.out;
  EXPECT_FALSE(HasLine(r.out, "Cannot establish connection!")) << r.out;
}

TEST_F(E2eTest, ColdBootPassWaitsForTheDeviceToPowerUp) {
  const std::string tty =
      StartDevice({"--type", "KL1B", "--hw", "101", "--start", "dead", "--power-up-after", "3000"});
  const auto r = Veltr({"info", "--cold-boot", "--port", "COM2", "--json"},
                       {Missing("a"), tty, Missing("b"), Missing("c")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"text\":\"   Searching COM2 ... Cold boot: 10\""), std::string::npos);
  EXPECT_NE(r.out.find("\"text\":\"   Searching COM2 ... Cold boot: 9\""), std::string::npos);
  EXPECT_NE(r.out.find("\"text\":\"   Searching COM1 ... Skipped\""), std::string::npos);
  EXPECT_NE(r.out.find("\"text\":\"   Searching COM2 ... Connection established\""),
            std::string::npos);
  EXPECT_NE(r.out.find("You are connected to KL1B (Front of House device)"), std::string::npos);
  EXPECT_NE(r.out.find("\"event\":\"result\""), std::string::npos);
}

TEST_F(E2eTest, FailedSearchOffersTheColdBootAndGivesUp) {
  const auto r = Veltr({"info", "--yes"}, {Missing("a"), Missing("b"), Missing("c"), Missing("d")});
  EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
  EXPECT_NE(r.out.find("Failed to find device at ports COM1 - COM4."), std::string::npos);
  EXPECT_TRUE(HasLine(r.out, "Cannot establish connection!")) << r.out;
}

struct UpgradeCase {
  const char* name;
  const char* type;
  const char* deviceType;
  const char* hardware;
  const char* uploader;
  int32_t version;
  const char* sop;
  size_t logicLength;
  const char* bin;
  size_t processorLength;
};

// The row's name where a test lists its parameter, instead of the bytes of the row.
void PrintTo(const UpgradeCase& c, std::ostream* os) {
  *os << c.name;
}

class FirmwareUpgradeTest : public E2eTest, public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(FirmwareUpgradeTest, FlashHoldsTheImagesAndTheDeviceRecordsTheUpgrade) {
  const auto& c = GetParam();
  const Bytes logic = ImageBytes(c.logicLength, 1);
  const Bytes processor = ImageBytes(c.processorLength, 2);
  WritePackageFile(c.sop, logic);
  WritePackageFile(c.bin, processor);
  WritePackageFile("Build.txt", std::string("Build 13-12-10-A"));
  WritePackageFile("VeltrUpgrade.ini",
                   std::string("[") + c.type + "]\nVersion=" + std::to_string(c.version) + "\n");
  const std::string tty = StartDevice(
      {"--type", c.type, "--hw", c.hardware, "--uploader", c.uploader, "--text2", "keep me"});
  const auto r = Veltr({"upgrade", "--yes", "--device-type", c.deviceType}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade succeeded.")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "   Loading file ... Done"));
  const std::string blocks = std::to_string((c.processorLength + 255) / 256 + 1);
  EXPECT_TRUE(HasLine(r.out, "   Uploading " + blocks + " block of " + blocks + " ... Done"))
      << r.out;

  const auto device = Device();
  EXPECT_EQ(device.LogicBytes(logic.size()), logic);
  EXPECT_EQ(device.ProcessorBytes(processor.size()), processor);
  // Processor page 0 is written first as a placeholder and last for real.
  std::vector<uint32_t> processorPages;
  for (const auto& entry : device.writeLog) {
    if (entry.kind == devsim::WriteKind::kProcessorPage) {
      processorPages.push_back(entry.page);
    }
  }
  ASSERT_EQ(processorPages.size(), (processor.size() + 255) / 256 + 1);
  EXPECT_EQ(processorPages.front(), 0u);
  EXPECT_EQ(processorPages.back(), 0u);
  EXPECT_EQ(processorPages[1], processorPages.size() - 2) << "then from the last page down";

  const auto info = device.InfoArea();
  EXPECT_EQ(std::string(info.begin() + 64, info.begin() + 80), "Build 13-12-10-A");
  EXPECT_EQ(info[80], 0xFF);
  EXPECT_EQ(std::string(info.begin() + 94, info.begin() + 101), "keep me");
  const uint8_t high = static_cast<uint8_t>(c.version >> 8);
  const uint8_t low = static_cast<uint8_t>(c.version & 0xFF);
  EXPECT_EQ(Bytes(info.begin() + 124, info.end()), (Bytes{high, low, high, low}));
}

INSTANTIATE_TEST_SUITE_P(
    E2e, FirmwareUpgradeTest,
    ::testing::Values(UpgradeCase{"KL1A", "KL1A", "KL1A", "101", "110", 211, "pk1a1211.sop", 31146,
                                  "uk1a1211.bin", 10000},
                      UpgradeCase{"PXR", "PXR(-TP)", "PXR(-TP)", "101", "108", 213, "ppxr1213.sop",
                                  235820, "upxr1213.bin", 60000}),
    [](const auto& info) { return info.param.name; });

struct RefusedImageCase {
  const char* name;
  bool writeLogic;
  size_t logicLength;
  int exitCode;
  const char* loadingLine;
  const char* message;
};

void PrintTo(const RefusedImageCase& c, std::ostream* os) {
  *os << c.name;
}

class RefusedImageTest : public E2eTest, public ::testing::WithParamInterface<RefusedImageCase> {};

TEST_P(RefusedImageTest, NoPageReachesTheDevice) {
  const auto& c = GetParam();
  if (c.writeLogic) {
    WritePackageFile("pk1a1211.sop", ImageBytes(c.logicLength, 3));
  }
  WritePackageFile("uk1a1211.bin", ImageBytes(1000, 4));
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101"});
  const auto r = Veltr({"upgrade", "--yes"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, c.loadingLine)) << r.out;
  EXPECT_TRUE(HasLine(r.out, c.message)) << r.out;
  const auto device = Device();
  for (const auto& entry : device.writeLog) {
    EXPECT_NE(entry.kind, devsim::WriteKind::kLogicPage);
    EXPECT_NE(entry.kind, devsim::WriteKind::kProcessorPage);
    EXPECT_NE(entry.kind, devsim::WriteKind::kEepromWrite);
  }
}

INSTANTIATE_TEST_SUITE_P(
    E2e, RefusedImageTest,
    ::testing::Values(RefusedImageCase{"Damaged", true, 31145, 6,
                                       "   Loading file ... Failed: damaged file",
                                       "Firmware upgrade failed: damaged file."},
                      RefusedImageCase{"Missing", false, 0, 5,
                                       "   Loading file ... Failed: missing file",
                                       "Firmware upgrade failed: failed load file."}),
    [](const auto& info) { return info.param.name; });

// What a package file can be instead of a good image.
enum class Damage {
  Length,
  Missing,
  Unreadable,
  Folder,
  DanglingLink,
  LinkToRandom,
  LinkToZero,
  Fifo,
  Sparse
};

struct PackageFile {
  const char* name;
  size_t length;
};

struct DamagedPackageCase {
  const char* name;
  const char* type;
  const char* hardware;
  int32_t version;
  std::vector<std::string> options;
  std::vector<PackageFile> goodFiles;
  PackageFile damagedFile;  // the length counts for Length and Sparse only
  Damage damage;
  int exitCode;
  std::vector<std::string> lines;  // the upload page as printed, the last one the failed step's
};

void PrintTo(const DamagedPackageCase& c, std::ostream* os) {
  *os << c.name;
}

class DamagedPackageTest : public E2eTest,
                           public ::testing::WithParamInterface<DamagedPackageCase> {
 protected:
  void Damaged(const PackageFile& file, Damage damage) const {
    const fs::path path = folder_ / "package" / file.name;
    switch (damage) {
      case Damage::Length:
        WritePackageFile(file.name, ImageBytes(file.length, 11));
        break;
      case Damage::Missing:
        break;
      case Damage::Unreadable:
        WritePackageFile(file.name, ImageBytes(1000, 11));
        fs::permissions(path, fs::perms::none);
        break;
      case Damage::Folder:
        fs::create_directory(path);
        break;
      case Damage::DanglingLink:
        fs::create_symlink(folder_ / "nowhere", path);
        break;
      case Damage::LinkToRandom:
        fs::create_symlink("/dev/urandom", path);
        break;
      case Damage::LinkToZero:
        fs::create_symlink("/dev/zero", path);
        break;
      case Damage::Fifo:
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        break;
      case Damage::Sparse:
        WritePackageFile(file.name, std::string());
        fs::resize_file(path, file.length);
        break;
    }
  }

  // The device already holds firmware, which a refused package must leave as it is.
  void InstallOldFirmware(const char* type) {
    std::string error;
    auto state = devsim::NewDevice(devsim::ParseTypeName(type).value_or(0), &error);
    ASSERT_TRUE(state) << error;
    state->StoreLogicPage(0, oldLogic_.data());
    state->StoreProcessorPage(0, oldProcessor_.data());
    ASSERT_TRUE(devsim::SaveState(StateDir(), *state, &error)) << error;
  }

  const Bytes oldLogic_ = ImageBytes(256, 21);
  const Bytes oldProcessor_ = ImageBytes(256, 22);
};

// Every image of the job is read and checked before the first page goes out: a bad one ends the
// job on its own loading line, and the device keeps what it had. Nothing may wait on a FIFO.
TEST_P(DamagedPackageTest, RefusedBeforeTheFirstPage) {
  const auto& c = GetParam();
  for (const auto& file : c.goodFiles) {
    WritePackageFile(file.name, ImageBytes(file.length, 12));
  }
  Damaged(c.damagedFile, c.damage);
  if (c.damage == Damage::Unreadable &&
      access((folder_ / "package" / c.damagedFile.name).c_str(), R_OK) == 0) {
    GTEST_SKIP() << "this user reads a file without read permission";
  }
  WritePackageFile("VeltrUpgrade.ini",
                   std::string("[") + c.type + "]\nVersion=" + std::to_string(c.version) + "\n");
  InstallOldFirmware(c.type);
  const std::string tty = StartDevice({"--type", c.type, "--hw", c.hardware});
  std::vector<std::string> args = {"upgrade", "--yes", "--device-type", c.type};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const auto r = Veltr(args, OnCom1(tty));

  EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
  EXPECT_LT(r.seconds, 20.0) << "a bad package is refused at once";
  const auto out = Lines(r.out);
  const auto first = std::find(out.begin(), out.end(), c.lines.front());
  ASSERT_NE(first, out.end()) << r.out;
  EXPECT_EQ(std::vector<std::string>(first, std::min(first + c.lines.size(), out.end())), c.lines)
      << r.out;
  const std::string failure = c.exitCode == 5 ? "failed load file" : "damaged file";
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade failed: " + failure + ".")) << r.out;
  EXPECT_EQ(r.out.find("Uploading"), std::string::npos) << "no upload begun";
  char time[32];
  std::snprintf(time, sizeof time, " | %d | %.2f s |", r.exitCode, r.seconds);
  WriteTableRow(VELTR_DAMAGED_INPUTS_DIR, "damaged-inputs.md",
                "| Input | Message | Exit | Time |\n|---|---|---|---|\n",
                std::string("10-") + c.name,
                std::string("| ") + c.name + " | \"" + c.lines.back().substr(3) +
                    "\", \"Firmware upgrade failed: " + failure + ".\"" + time);

  const auto device = Device();
  EXPECT_TRUE(device.writeLog.empty()) << "the device took " << device.writeLog.size() << " writes";
  EXPECT_EQ(device.LogicPage(0), oldLogic_);
  EXPECT_EQ(device.ProcessorPage(0), oldProcessor_);
}

const std::vector<PackageFile> kKl1aLogic = {{"pk1a1211.sop", 31146}};
const std::vector<PackageFile> kKl1aPackage = {{"pk1a1211.sop", 31146}, {"uk1a1211.bin", 10000}};
const std::vector<std::string> kKl1aLogicLines = {
    "Loading Logic and DSP Files",
    "   File Version KL1A: V2.11.1",
    "   Loading file ... Done",
};

std::vector<std::string> Kl1aProcessorFails(const char* failure) {
  std::vector<std::string> lines = kKl1aLogicLines;
  lines.insert(lines.end(), {"Loading Processor and HI Files", "   File Version KL1A: V2.11.1",
                             std::string("   Loading file ... Failed: ") + failure});
  return lines;
}

DamagedPackageCase Kl1aProcessor(const char* name, Damage damage, size_t length = 0) {
  const bool damaged = damage == Damage::Length || damage == Damage::Sparse;
  return {name,
          "KL1A",
          "101",
          211,
          {},
          kKl1aLogic,
          {"uk1a1211.bin", length},
          damage,
          damaged ? 6 : 5,
          Kl1aProcessorFails(damaged ? "damaged file" : "missing file")};
}

INSTANTIATE_TEST_SUITE_P(
    E2e, DamagedPackageTest,
    ::testing::Values(
        Kl1aProcessor("EmptyProcessorImage", Damage::Length, 0),
        Kl1aProcessor("ProcessorOnePastTheFlash", Damage::Length, 56 * 256 + 1),
        Kl1aProcessor("ProcessorMissing", Damage::Missing),
        Kl1aProcessor("ProcessorUnreadable", Damage::Unreadable),
        Kl1aProcessor("ProcessorIsAFolder", Damage::Folder),
        Kl1aProcessor("ProcessorDanglingLink", Damage::DanglingLink),
        Kl1aProcessor("ProcessorLinkToRandom", Damage::LinkToRandom),
        Kl1aProcessor("ProcessorLinkToZero", Damage::LinkToZero),
        Kl1aProcessor("ProcessorSparse5GiB", Damage::Sparse, 5ull << 30),
        DamagedPackageCase{"LogicIsAFifo",
                           "KL1A",
                           "101",
                           211,
                           {},
                           {{"uk1a1211.bin", 10000}},
                           {"pk1a1211.sop", 0},
                           Damage::Fifo,
                           5,
                           {"Loading Logic and DSP Files", "   File Version KL1A: V2.11.1",
                            "   Loading file ... Failed: missing file"}},
        DamagedPackageCase{"LogicOneByteLong",
                           "KL1A",
                           "101",
                           211,
                           {},
                           {{"uk1a1211.bin", 10000}},
                           {"pk1a1211.sop", 31147},
                           Damage::Length,
                           6,
                           {"Loading Logic and DSP Files", "   File Version KL1A: V2.11.1",
                            "   Loading file ... Failed: damaged file"}},
        DamagedPackageCase{"BiosWrongSum",
                           "PXR(-TP)",
                           "101",
                           213,
                           {"--bios"},
                           {},
                           {"ubpxr1213.bin", 14848},
                           Damage::Length,
                           6,
                           {"Loading Processor BIOS File", "   File Version PXR(-TP): V2.13.1",
                            "   Loading file ... Failed: damaged file"}},
        DamagedPackageCase{"EmptyBiosImage",
                           "PXR(-TP)",
                           "101",
                           213,
                           {"--bios"},
                           {},
                           {"ubpxr1213.bin", 0},
                           Damage::Length,
                           6,
                           {"Loading Processor BIOS File", "   File Version PXR(-TP): V2.13.1",
                            "   Loading file ... Failed: damaged file"}},
        DamagedPackageCase{
            "Lnk40eWrongLength",
            "LNK40E",
            "104",
            211,
            {},
            {{"pl4e1211.sop", 163172}},
            {"ul4e1211.bin", 6072},
            Damage::Length,
            6,
            {"Loading Logic and DSP Files", "   File Version LNK40E: V2.11.1",
             "   Loading file ... Done", "Loading Processor and HI Files",
             "   File Version LNK40E: V2.11.1", "   Loading file ... Failed: damaged file"}}),
    [](const auto& info) { return info.param.name; });

// A FIFO under the name of the build text is no build text: the upgrade goes through and the
// device keeps its own user text 1.
TEST_F(E2eTest, FifoAsBuildTextKeepsUserText1) {
  const Bytes logic = ImageBytes(31146, 13);
  const Bytes processor = ImageBytes(10000, 14);
  WritePackageFile("pk1a1211.sop", logic);
  WritePackageFile("uk1a1211.bin", processor);
  ASSERT_EQ(mkfifo((folder_ / "package" / "Build.txt").c_str(), 0644), 0);
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--text1", "Stage left"});
  const auto r = Veltr({"upgrade", "--yes"}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade succeeded.")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "   Current User Text 1: \"Stage left\"")) << r.out;

  const auto device = Device();
  EXPECT_EQ(device.LogicBytes(logic.size()), logic);
  EXPECT_EQ(device.ProcessorBytes(processor.size()), processor);
  const auto info = device.InfoArea();
  EXPECT_EQ(std::string(info.begin() + 64, info.begin() + 74), "Stage left");
  EXPECT_EQ(info[74], 0xFF);
  EXPECT_EQ(Bytes(info.begin() + 124, info.end()), (Bytes{0, 211, 0, 211}));
}

TEST_F(E2eTest, DeviceSilentMidUploadFailsThenASecondRunCompletes) {
  const Bytes logic = ImageBytes(31146, 5);
  const Bytes processor = ImageBytes(3000, 6);
  WritePackageFile("pk1a1211.sop", logic);
  WritePackageFile("uk1a1211.bin", processor);
  std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--silent-after-pages", "40"});
  auto r = Veltr({"upgrade", "--yes"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Uploading 41 block of 122 ... Failed: no response")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade failed: communication failed.")) << r.out;
  StopDevices();

  tty = StartDevice({});
  r = Veltr({"upgrade", "--yes"}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto device = Device();
  EXPECT_EQ(device.LogicBytes(logic.size()), logic);
  EXPECT_EQ(device.ProcessorBytes(processor.size()), processor);
}

// Lost and damaged answers are retried, and junk between transactions is purged before the next
// request: the upgrade still ends with the right flash.
TEST_F(E2eTest, UpgradeRecoversFromDroppedAndCorruptAnswersAndStrayBytes) {
  const Bytes logic = ImageBytes(31146, 7);
  const Bytes processor = ImageBytes(5000, 8);
  WritePackageFile("pk1a1211.sop", logic);
  WritePackageFile("uk1a1211.bin", processor);
  const std::string tty =
      StartDevice({"--type", "KL1A", "--hw", "101", "--drop-page", "5", "--corrupt-page", "9",
                   "--corrupt-page", "130", "--stray-bytes", "--slow", "5"});
  const auto r = Veltr({"upgrade", "--yes"}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto device = Device();
  EXPECT_EQ(device.LogicBytes(logic.size()), logic);
  EXPECT_EQ(device.ProcessorBytes(processor.size()), processor);
}

// The wire trace of a small upgrade: every frame in the order it crossed the line, the program
// mode's access sequence never in clear, the times never going back.
TEST_F(E2eTest, TraceOfAnUpgradeHoldsEveryFrameInOrder) {
  WritePackageFile("pk1a1211.sop", ImageBytes(31146, 9));
  WritePackageFile("uk1a1211.bin", ImageBytes(1000, 10));
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101"});
  const std::string trace = (folder_ / "upgrade.trace").string();
  const auto r = Veltr({"upgrade", "--yes", "--trace", trace}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  std::ifstream in(trace);
  ASSERT_TRUE(in) << "no trace file";
  std::vector<std::string> what;
  std::string text;
  long long lastTime = -1;
  long long firstTime = -1;
  for (std::string line; std::getline(in, line);) {
    text += line + "\n";
    if (line.empty() || line[0] == '#') {
      continue;
    }
    std::istringstream fields(line);
    long long time = -1;
    std::string port;
    fields >> time >> port;
    ASSERT_GE(time, lastTime) << line;
    ASSERT_TRUE(port == "COM1" || port == "RS232") << line;
    lastTime = time;
    firstTime = firstTime < 0 ? time : firstTime;
    std::string rest;
    std::getline(fields >> std::ws, rest);
    what.push_back(rest);
  }
  EXPECT_GT(lastTime, firstTime);

  // Where each kind of frame first went out, and how many of it.
  auto first = [&](const std::string& head) {
    for (size_t i = 0; i < what.size(); ++i) {
      if (what[i].rfind(head, 0) == 0) {
        return static_cast<long>(i);
      }
    }
    return -1L;
  };
  auto count = [&](const std::string& head) {
    return std::count_if(what.begin(), what.end(),
                         [&](const std::string& w) { return w.rfind(head, 0) == 0; });
  };
  const long open = first("open 0 19200");
  const long entry = first("> 16 <access sequence, 16 bytes>");
  const long eepromRead = first("> 1 40");
  const long logicPage = first("> 261 10 00 00 ");
  const long processorPlaceholder = first("> 261 20 00 00 FF FF");
  const long eepromWrite = first("> 1 42");
  EXPECT_LT(-1, open);
  EXPECT_LT(open, entry);
  EXPECT_LT(entry, eepromRead);
  EXPECT_LT(eepromRead, logicPage);
  EXPECT_LT(logicPage, processorPlaceholder);
  EXPECT_LT(processorPlaceholder, eepromWrite);
  EXPECT_EQ(count("> 261 10 "), 122);
  EXPECT_EQ(count("> 261 20 "), 5) << "four pages and the placeholder";
  EXPECT_EQ(count("< 4 55 "), 122 + 5) << "every page acknowledged";
  EXPECT_GE(count("timeout "), 1);

  CVeltrCommandProgramModeEnter sequence;
  std::string clear;
  for (uint32_t i = 0; i < sequence.GetSize(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", *sequence.At(i));
    clear += hex;
  }
  EXPECT_EQ(text.find(clear.substr(1)), std::string::npos) << "the access sequence in clear";
}

// A front end draws its progress bar from the data beside the text, never from the text.
TEST_F(E2eTest, JsonBlockLinesCarryTheirProgress) {
  WritePackageFile("uk1a1211.bin", ImageBytes(1000, 11));
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101"});
  const auto r = Veltr({"upgrade", "--yes", "--no-logic", "--json"}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"text\":\"   Uploading 1 block of 5 ...\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"block\":1,\"blocks\":5,\"ended\":false"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"block\":5,\"blocks\":5,\"ended\":true"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"step\":\"processor\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"step\":\"logic\""), std::string::npos) << "--no-logic";
}

TEST_F(E2eTest, UserTextAndSettingsEraseReachTheEeprom) {
  const std::string tty = StartDevice(
      {"--type", "KL1B", "--hw", "201", "--logic-version", "207", "--processor-version", "208"});
  auto r = Veltr({"user-text", "Front of house", "Caf\xC3\xA9 \xE2\x82\xAC"}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "User text upgrade succeeded.")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "   Current User Text 2: \"Caf\xC3\xA9 \xE2\x82\xAC\"")) << r.out;

  r = Veltr({"erase-settings", "--yes"}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "Settings erasing succeeded.")) << r.out;

  const auto device = Device();
  const auto info = device.InfoArea();
  EXPECT_EQ(std::string(info.begin() + 64, info.begin() + 78), "Front of house");
  EXPECT_EQ(std::string(info.begin() + 94, info.begin() + 100), "Caf\xE9 \x80");
  EXPECT_EQ(Bytes(info.begin() + 124, info.end()), (Bytes{0, 207, 0, 208}));
  // KL1B with hardware 2.01 has the large settings area: 896 bytes.
  for (size_t i = devsim::kInfoAreaSize; i < devsim::kEepromSize; ++i) {
    ASSERT_EQ(device.eeprom[i], 0xFF) << "settings byte " << i - devsim::kInfoAreaSize;
  }
}

TEST_F(E2eTest, UserTextTooLongIsAUsageError) {
  const auto r = Veltr({"user-text", std::string(31, 'x'), ""}, {Missing("a")});
  EXPECT_EQ(r.exitCode, 64);
  EXPECT_NE(r.err.find("at most 30"), std::string::npos) << r.err;
}

struct RefusalCase {
  const char* name;
  const char* type;
  const char* hardware;
  const char* uploader;
  const char* message;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class RefusalTest : public E2eTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, ChecksRefuseBeforeAskingAnything) {
  const auto& c = GetParam();
  const std::string tty =
      StartDevice({"--type", c.type, "--hw", c.hardware, "--uploader", c.uploader});
  const auto r = Veltr({"upgrade", "--device-type", c.type}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 64) << r.out << r.err;
  EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Ok to update Firmware"), std::string::npos) << "no confirmation asked";
  EXPECT_TRUE(Device().writeLog.empty());
}

INSTANTIATE_TEST_SUITE_P(
    E2e, RefusalTest,
    ::testing::Values(
        RefusalCase{
            "OldBios", "PXR(-TP)", "101", "107",
            "BIOS V1.07 found. Please, upgrade to BIOS V1.08 before upgrading the firmware."},
        RefusalCase{"OldHardware", "MT30E", "110", "100",
                    "This hardware revision is not supported in this release.\nPlease, contact "
                    "factory to obtain firmware for your device."}),
    [](const auto& info) { return info.param.name; });

TEST_F(E2eTest, BiosSwitchSkipsTheBiosCheck) {
  const std::string tty = StartDevice({"--type", "PXR(-TP)", "--hw", "101", "--uploader", "107"});
  const auto r = Veltr({"upgrade", "--bios", "--device-type", "PXR(-TP)"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 64) << "declined: no terminal and no --yes";
  EXPECT_NE(r.out.find("Ok to update Firmware of your system?"), std::string::npos) << r.out;
  EXPECT_TRUE(Device().writeLog.empty());
}

TEST_F(E2eTest, BootTakesTheDeviceOutOfUpgradeMode) {
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101"});
  const auto r = Veltr({"boot"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "The device has left upgrade mode.")) << r.out;
}

TEST_F(E2eTest, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"info", "--device-type", "KL9Z"},
      {"info", "--port", "COM5"},
      {"info", "--serial", "COM7=/dev/ttyS0"},
      {"info", "--port", "COM2", "--serial-number", "A07-0625"},
      {"upgrade", "--first"},
      {"discover", "--port", "COM1"},
      {"discover"},
      {"upgrade", "--package", Missing("nowhere")},
      {"frobnicate"},
  };
  for (const auto& args : cases) {
    const auto r = RunProgram(kBin + "/veltr", args);
    EXPECT_EQ(r.exitCode, 64) << args[0] << " " << (args.size() > 1 ? args[1] : "") << r.err;
    EXPECT_FALSE(r.err.empty());
  }
}

// No USB device on a test machine: the listing is empty, which is its own exit status.
TEST_F(E2eTest, DiscoverWithoutDevicesExitsNine) {
  const auto r = RunProgram(kBin + "/veltr", {"discover", "--port", "USB"});
  if (r.exitCode == 0) {
    GTEST_SKIP() << "a device is plugged in:\n" << r.out;
  }
  EXPECT_EQ(r.exitCode, 9) << r.err;
  EXPECT_TRUE(HasLine(r.out, "No device found on USB.")) << r.out;

  const auto json = RunProgram(kBin + "/veltr", {"discover", "--port", "USB", "--json"});
  EXPECT_EQ(json.exitCode, 9);
  EXPECT_NE(json.out.find("{\"code\":9,\"command\":\"discover\",\"event\":\"result\""),
            std::string::npos)
      << json.out;
  // Ethernet without an address broadcasts: only the network lab runs it (tests/netns).
}

TEST_F(E2eTest, PortsListsTheMap) {
  const auto r = Veltr({"ports"}, {"/dev/ttyUSB7"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(HasLine(r.out, "  COM1 -> /dev/ttyUSB7")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "  COM2 -> /dev/ttyS1")) << r.out;
}

// The same for a script: one object a line, the map in COM order, every device with its stable
// name and driver (whatever this machine has), the result last.
TEST_F(E2eTest, PortsAsJson) {
  const auto r = Veltr({"ports", "--json"}, {"/dev/ttyUSB7", "/dev/serial/by-id/usb-FTDI-if00"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<nlohmann::json> events;
  for (const auto& line : Lines(r.out)) {
    events.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_FALSE(events.back().is_discarded()) << line;
  }
  ASSERT_GE(events.size(), 5u) << r.out;
  const std::vector<std::string> paths = {"/dev/ttyUSB7", "/dev/serial/by-id/usb-FTDI-if00",
                                          "/dev/ttyS2", "/dev/ttyS3"};
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(events[i]["event"], "port-map");
    EXPECT_EQ(events[i]["port"], "COM" + std::to_string(i + 1));
    EXPECT_EQ(events[i]["path"], paths[i]);
  }
  for (size_t i = paths.size(); i + 1 < events.size(); ++i) {
    const nlohmann::json& device = events[i];
    EXPECT_EQ(device["event"], "serial-device") << device;
    EXPECT_TRUE(device["path"].is_string() && device["stable-name"].is_string() &&
                device["driver"].is_string() && device["available"].is_boolean())
        << device;
    EXPECT_EQ(device["available"].get<bool>(), !device.contains("problem")) << device;
  }
  EXPECT_EQ(events.back()["event"], "result");
  EXPECT_EQ(events.back()["command"], "ports");
  EXPECT_EQ(events.back()["code"], 0);
}

// --- signals ---------------------------------------------------------------------------------

struct SignalCase {
  const char* name;
  int signal;
  bool terminalGone;  // the output is closed as the signal goes out, as a hung-up terminal
};

void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << c.name;
}

class UploadSignalTest : public E2eTest, public ::testing::WithParamInterface<SignalCase> {};

// A device with half its pages written does not start: a signal during the upload is told to
// wait, the upload runs to its end, and the program ends with the job's status.
TEST_P(UploadSignalTest, UploadRunsToItsEndAndTheFlashHoldsTheImage) {
  const auto& c = GetParam();
  const Bytes logic = ImageBytes(31146, 11);
  const Bytes processor = ImageBytes(8000, 12);
  WritePackageFile("pk1a1211.sop", logic);
  WritePackageFile("uk1a1211.bin", processor);
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--slow", "3"});
  SignalPlan plan;
  plan.signal = c.signal;
  plan.after = "   Uploading 1 block of";
  plan.closeOutput = c.terminalGone;
  const auto r = Veltr({"upgrade", "--yes"}, OnCom1(tty), &plan);
  ASSERT_GE(r.signalledAt, 0) << "the upload never started: " << r.out << r.err;
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  if (!c.terminalGone) {
    EXPECT_NE(r.err.find("Please, wait for upload completion."), std::string::npos) << r.err;
    EXPECT_TRUE(HasLine(r.out, "Firmware upgrade succeeded.")) << r.out;
  }
  const auto device = Device();
  EXPECT_EQ(device.LogicBytes(logic.size()), logic);
  EXPECT_EQ(device.ProcessorBytes(processor.size()), processor);
}

INSTANTIATE_TEST_SUITE_P(E2e, UploadSignalTest,
                         ::testing::Values(SignalCase{"Sigterm", SIGTERM, false},
                                           SignalCase{"Sigint", SIGINT, false},
                                           SignalCase{"SighupTerminalGone", SIGHUP, true}),
                         [](const auto& info) { return info.param.name; });

// Outside an upload a signal ends the program as usual: here in the middle of the cold boot
// count-down, which would otherwise wait ten seconds.
TEST_F(E2eTest, SignalDuringTheSearchEndsTheProgram) {
  const std::string tty = StartDevice({"--type", "KL1A", "--start", "dead"});
  SignalPlan plan;
  plan.signal = SIGTERM;
  plan.after = "Cold boot: 10";
  const auto r = Veltr({"info", "--cold-boot", "--port", "COM2"},
                       {Missing("a"), tty, Missing("b"), Missing("c")}, &plan);
  ASSERT_GE(r.signalledAt, 0) << r.out << r.err;
  EXPECT_EQ(r.exitCode, 128 + SIGTERM) << r.out << r.err;
  EXPECT_LT(r.seconds - r.signalledAt, 5.0) << "it waited for the count-down";
  EXPECT_EQ(r.err.find("Please, wait"), std::string::npos) << r.err;
}

// A signal while the program waits on a question, the device in program mode: the device is
// taken out of program mode before the program ends.
TEST_F(E2eTest, SignalBetweenJobsTakesTheDeviceOutOfProgramMode) {
  const std::string log = (folder_ / "device.log").string();
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101", "--verbose"}, log);
  SignalPlan plan;
  plan.signal = SIGTERM;
  plan.after = "[y/N]";
  plan.terminalInput = true;
  const auto r = Veltr({"erase-settings"}, OnCom1(tty), &plan);
  ASSERT_GE(r.signalledAt, 0) << r.out << r.err;
  EXPECT_EQ(r.exitCode, 128 + SIGTERM) << r.out << r.err;
  EXPECT_NE(r.err.find("veltr: ended by SIGTERM"), std::string::npos) << r.err;
  EXPECT_FALSE(HasLine(r.out, "Settings erasing succeeded.")) << r.out;
  StopDevices();
  std::ifstream in(log);
  const std::string transactions((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  const size_t entered = transactions.rfind("program-mode entry: identity sent");
  ASSERT_NE(entered, std::string::npos) << transactions;
  EXPECT_NE(transactions.find("program-mode exit: ok", entered), std::string::npos) << transactions;
  EXPECT_TRUE(Device().writeLog.empty());
}

// --- texts -----------------------------------------------------------------------------------

struct UserTextCase {
  const char* name;
  const char* text;
  const char* message;
};

void PrintTo(const UserTextCase& c, std::ostream* os) {
  *os << c.name;
}

class UserTextRefusalTest : public E2eTest, public ::testing::WithParamInterface<UserTextCase> {};

TEST_P(UserTextRefusalTest, RefusedBeforeTheDeviceIsTouched) {
  const auto& c = GetParam();
  const std::string tty = StartDevice({"--type", "KL1B", "--hw", "101"});
  const auto r = Veltr({"user-text", "Stage", c.text}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 64) << r.out << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "") << "no search was run";
  EXPECT_TRUE(Device().writeLog.empty());
}

INSTANTIATE_TEST_SUITE_P(
    E2e, UserTextRefusalTest,
    ::testing::Values(
        UserTextCase{"ByteFF",
                     "a\xC3\xBF"
                     "b",
                     "user text 2: character 2 (\"\xC3\xBF\", byte FF) ends a text field on the "
                     "device"},
        UserTextCase{"Escape", "\x1B[31mRED\x07",
                     "user text 2: character 1 is a control character (\\x1b)"},
        UserTextCase{"Bell", "ding\x07", "user text 2: character 5 is a control character (\\x07)"},
        UserTextCase{"Tab", "a\tb", "user text 2: character 2 is a control character (\\x09)"},
        UserTextCase{"Delete", "ab\x7F", "user text 2: character 3 is a control character (\\x7f)"},
        UserTextCase{"Newline", "two\nlines",
                     "user text 2: character 4 is a control character (\\x0a)"}),
    [](const auto& info) { return info.param.name; });

// Texts from "Build.txt" and from the device reach the terminal with their control characters
// made visible, never as escape sequences a terminal would act on.
TEST_F(E2eTest, ControlCharactersOfDeviceAndBuildTextsAreShownVisibly) {
  WritePackageFile("uk1a1211.bin", ImageBytes(600, 13));
  WritePackageFile("Build.txt", std::string("\x1B[31mRED\x07\r\n"));
  const std::string tty =
      StartDevice({"--type", "KL1A", "--hw", "101", "--text2", "\x1B]0;title\x07"});
  const auto r = Veltr({"upgrade", "--yes", "--no-logic"}, OnCom1(tty));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Current User Text 1: \"\\x1b[31mRED\\x07\\x0d\\x0a\"")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "   Current User Text 2: \"\\x1b]0;title\\x07\"")) << r.out;
  EXPECT_EQ(r.out.find('\x1B'), std::string::npos) << "a raw escape reached the output";
  EXPECT_EQ(r.out.find('\x07'), std::string::npos) << "a raw bell reached the output";
  const auto info = Device().InfoArea();
  EXPECT_EQ(std::string(info.begin() + 64, info.begin() + 75), "\x1B[31mRED\x07\r\n")
      << "the device keeps the build text as it is";
}

// --- package description ---------------------------------------------------------------------

struct PackageNoteCase {
  const char* name;
  const char* ini;  // nullptr: no description at all
  const char* note;
  const char* warning;  // on stderr; empty: none
};

void PrintTo(const PackageNoteCase& c, std::ostream* os) {
  *os << c.name;
}

class PackageNoteTest : public E2eTest, public ::testing::WithParamInterface<PackageNoteCase> {};

// Which description an upgrade uses is said before the job, and a description that does not
// cover the device is warned about; the confirmation (declined: no terminal) still comes.
TEST_P(PackageNoteTest, SaidBeforeTheJob) {
  const auto& c = GetParam();
  if (c.ini == nullptr) {
    if (fs::exists(kBin + "/VeltrUpgrade.ini")) {
      GTEST_SKIP() << "a description lies beside the program";
    }
    withIni_ = false;
  } else {
    WritePackageFile("VeltrUpgrade.ini", std::string(c.ini));
  }
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101"});
  const auto r = Veltr({"upgrade"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 64) << r.out << r.err;
  std::string note = c.note;
  if (note.empty()) {
    note = "Package description: " + IniPath();
  }
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out)[0], note) << r.out;
  EXPECT_NE(r.out.find("Ok to update Firmware"), std::string::npos) << r.out;
  if (std::string(c.warning).empty()) {
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  } else {
    EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
  }
  EXPECT_TRUE(Device().writeLog.empty());
}

INSTANTIATE_TEST_SUITE_P(
    E2e, PackageNoteTest,
    ::testing::Values(
        PackageNoteCase{"Covers", "[KL1A]\nVersion=211\n", "", ""},
        PackageNoteCase{"None", nullptr, "Package description: none found: built-in versions", ""},
        PackageNoteCase{"OtherTypesOnly", "[KL1B]\nVersion=305\n", "",
                        "has no section [KL1A]; the built-in version V2.11 is used"},
        PackageNoteCase{"RandomBytes", "\x93\x11\xFE\x02\x7Fq\x80\x00\xC1\x0D\x0A\xAB", "",
                        "has no section [KL1A]"}),
    [](const auto& info) { return info.param.name; });

// An installed veltr has no description beside it: the one in the package folder is used.
TEST_F(E2eTest, DescriptionInThePackageFolderWhenNoneBesideTheProgram) {
  if (fs::exists(kBin + "/VeltrUpgrade.ini")) {
    GTEST_SKIP() << "a description lies beside the program";
  }
  withIni_ = false;
  WritePackageFile("VeltrUpgrade.ini", std::string("[KL1A]\nVersion=212\n"));
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101"});
  const auto r = Veltr({"upgrade"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 64) << r.out << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out)[0], "Package description: " + IniPath()) << r.out;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

struct DamagedVersionCase {
  const char* name;
  const char* value;
};

void PrintTo(const DamagedVersionCase& c, std::ostream* os) {
  *os << c.name;
}

class DamagedVersionTest : public E2eTest,
                           public ::testing::WithParamInterface<DamagedVersionCase> {};

// A version that no device or file name can carry (today's 16-bit word) is a damaged
// description: the upgrade stops before the device is even searched.
TEST_P(DamagedVersionTest, UpgradeRefusedBeforeAnythingIsSent) {
  const std::string value = GetParam().value;
  WritePackageFile("VeltrUpgrade.ini", "[KL1A]\nVersion=" + value + "\n");
  WritePackageFile("pk1a1211.sop", ImageBytes(31146, 14));
  WritePackageFile("uk1a1211.bin", ImageBytes(1000, 15));
  const std::string tty = StartDevice({"--type", "KL1A", "--hw", "101"});
  const auto r = Veltr({"upgrade", "--yes", "--json"}, OnCom1(tty));
  EXPECT_EQ(r.exitCode, 6) << r.out << r.err;
  EXPECT_NE(r.out.find("[KL1A] Version=" + value + ": not a version from 0 to 65535"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"code\":6,\"command\":\"upgrade\",\"event\":\"result\",\"message\":"
                       "\"Firmware upgrade failed: damaged file.\"}"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Establishing connection"), std::string::npos) << "no search";
  EXPECT_TRUE(Device().writeLog.empty());
}

INSTANTIATE_TEST_SUITE_P(E2e, DamagedVersionTest,
                         ::testing::Values(DamagedVersionCase{"Negative", "-1"},
                                           DamagedVersionCase{"AboveTheWord", "65536"},
                                           DamagedVersionCase{"WrapsTo211In32Bits", "4294967507"}),
                         [](const auto& info) { return info.param.name; });

// --- usage errors and plain output -----------------------------------------------------------

TEST_F(E2eTest, UsageErrorsNameTheArgumentAndAreAResultObjectWithJson) {
  struct Case {
    std::vector<std::string> args;
    const char* command;
    const char* message;
  };
  const Case cases[] = {
      {{"--bogus"}, "", "unknown option --bogus"},
      {{"--bogus", "--json"}, "", "unknown option --bogus"},
      {{"info", "--bogus", "--json"}, "info", "--bogus"},
      {{"info", "--port", "COM9", "--json"}, "info", "--port takes COM1"},
      {{"user-text", "a\x1B", "b", "--json"}, "user-text", "is a control character (\\\\x1b)"},
      {{"frobnicate", "--json"}, "", "unknown subcommand \\\"frobnicate\\\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    const auto r = RunProgram(kBin + "/veltr", c.args);
    EXPECT_EQ(r.exitCode, 64) << r.err;
    const bool json = c.args.back() == "--json";
    if (json) {
      const std::string head = std::string("{\"code\":64,\"command\":\"") + c.command +
                               "\",\"event\":\"result\",\"message\":\"";
      EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
      EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
      EXPECT_EQ(Lines(r.out).size(), 1u) << r.out;
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
  }
}

// Into a file or pipe, a line that changes while the program waits is printed at each change:
// the log shows the count-down and how long it ran.
TEST_F(E2eTest, ColdBootCountDownIsLoggedLineByLineInPlainOutput) {
  // The device powers up while the count-down runs: late enough for "9" to show even when veltr
  // starts slowly on a loaded machine, and well before the count-down's 10 seconds are up.
  const std::string tty =
      StartDevice({"--type", "KL1B", "--hw", "101", "--start", "dead", "--power-up-after", "6000"});
  const auto r = Veltr({"info", "--cold-boot", "--port", "COM2"},
                       {Missing("a"), tty, Missing("b"), Missing("c")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto lines = Lines(r.out);
  const auto at = [&lines](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  const auto ten = at("   Searching COM2 ... Cold boot: 10");
  const auto nine = at("   Searching COM2 ... Cold boot: 9");
  const auto found = at("   Searching COM2 ... Connection established");
  ASSERT_LT(found, static_cast<long>(lines.size())) << r.out;
  EXPECT_LT(ten, nine) << r.out;
  EXPECT_LT(nine, found) << r.out;
  EXPECT_EQ(at("   Searching COM2 ..."), static_cast<long>(lines.size())) << "no bare line";
}

}  // namespace
}  // namespace veltr::e2e
