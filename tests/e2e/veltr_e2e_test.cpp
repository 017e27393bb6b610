// The command line against the simulated device, over pseudo-terminals: every byte crosses a
// kernel tty between two processes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "devsim/device_state.h"
#include "e2e/process.h"

namespace veltr::e2e {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kBin = VELTR_BIN_DIR;

Bytes ImageBytes(size_t length, uint8_t seed) {
  Bytes bytes(length);
  uint32_t x = 0x9E3779B9u * (seed + 1u);
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<uint8_t>(x);
  }
  return bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  for (const auto& l : Lines(text)) {
    if (l == line) {
      return true;
    }
  }
  return false;
}

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "veltr-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::create_directories(folder_ / "package");
    fs::create_directories(folder_ / "device");
  }
  void TearDown() override {
    sims_.clear();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // A simulator whose memory lives in the test's device folder; returns its tty.
  std::string StartDevice(std::vector<std::string> args) {
    args.push_back("--state");
    args.push_back(StateDir());
    auto sim = std::make_unique<SimulatorProcess>();
    EXPECT_TRUE(sim->Start(kBin + "/veltr-devsim", args));
    const std::string path = sim->SlavePath();
    sims_.push_back(std::move(sim));
    return path;
  }
  void StopDevices() {
    for (auto& sim : sims_) {
      EXPECT_TRUE(sim->Stop()) << "the simulator did not end cleanly";
    }
    sims_.clear();
  }
  devsim::DeviceState Device() {
    StopDevices();
    std::string error;
    auto state = devsim::LoadState(StateDir(), &error);
    EXPECT_TRUE(state) << error;
    return state ? *state : devsim::DeviceState{};
  }

  std::string StateDir() const { return (folder_ / "device").string(); }
  std::string PackageDir() const { return (folder_ / "package").string(); }
  std::string Missing(const std::string& name) const { return (folder_ / name).string(); }

  void WritePackageFile(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(folder_ / "package" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  void WritePackageFile(const std::string& name, const std::string& text) const {
    WritePackageFile(name, Bytes(text.begin(), text.end()));
  }

  // veltr with COM1 to COM4 mapped as given (a device tty, or a path where no tty is) and the
  // test's package.
  RunResult Veltr(std::vector<std::string> args, const std::vector<std::string>& com) {
    for (size_t i = 0; i < com.size(); ++i) {
      args.push_back("--serial");
      args.push_back("COM" + std::to_string(i + 1) + "=" + com[i]);
    }
    if (args[0] != "ports") {
      args.push_back("--package");
      args.push_back(PackageDir());
      args.push_back("--ini");
      args.push_back((folder_ / "package" / "VeltrUpgrade.ini").string());
    }
    if (!fs::exists(folder_ / "package" / "VeltrUpgrade.ini")) {
      WritePackageFile("VeltrUpgrade.ini", std::string("[KL1A]\nVersion=211\n"));
    }
    return RunProgram(kBin + "/veltr", args);
  }
  // COM1 the device, the other three nowhere.
  std::vector<std::string> OnCom1(const std::string& tty) const {
    return {tty, Missing("tty2"), Missing("tty3"), Missing("tty4")};
  }

  fs::path folder_;
  std::vector<std::unique_ptr<SimulatorProcess>> sims_;
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
      {"upgrade", "--package", Missing("nowhere")},
      {"frobnicate"},
  };
  for (const auto& args : cases) {
    const auto r = RunProgram(kBin + "/veltr", args);
    EXPECT_EQ(r.exitCode, 64) << args[0] << " " << (args.size() > 1 ? args[1] : "") << r.err;
    EXPECT_FALSE(r.err.empty());
  }
}

TEST_F(E2eTest, PortsListsTheMap) {
  const auto r = Veltr({"ports"}, {"/dev/ttyUSB7"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(HasLine(r.out, "  COM1 -> /dev/ttyUSB7")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "  COM2 -> /dev/ttyS1")) << r.out;
}

}  // namespace
}  // namespace veltr::e2e
