// veltr and veltr-devsim over a veth pair between two network namespaces of the test's own:
// discovery by broadcast, connecting by address and by host name, the upgrade code, and uploads
// over UDP. Skipped, never run elsewhere, when the namespaces cannot be made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "devsim/device_state.h"
#include "e2e/process.h"
#include "netns/netns_lab.h"
#include "support/image_bytes.h"

namespace veltr::netns {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using e2e::RunResult;
const std::string kBin = VELTR_BIN_DIR;

using veltr::test::ImageBytes;

// The line with its runs of blanks made single, so a row reads as its columns.
std::string Squeezed(const std::string& line) {
  std::istringstream words(line);
  std::string word;
  std::string out;
  while (words >> word) {
    out += (out.empty() ? "" : " ") + word;
  }
  return out;
}

std::vector<std::string> SqueezedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(Squeezed(line));
  }
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    if (l == line) {
      return true;
    }
  }
  return false;
}

// The rows of a device listing, columns single-spaced, in the order printed.
std::vector<std::string> Rows(const std::string& out) {
  std::vector<std::string> rows;
  for (const auto& line : SqueezedLines(out)) {
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
      rows.push_back(line);
    }
  }
  return rows;
}

struct Device {
  std::string cidr;  // address/prefix on the device side's veth
  std::vector<std::string> options;
};

class EthernetLabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!lab_.Make(&why)) {
      GTEST_SKIP() << why;
    }
    std::string pattern = (fs::temp_directory_path() / "veltr-netns-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::create_directories(folder_ / "package");
  }

  void TearDown() override {
    sims_.clear();
    if (!folder_.empty()) {
      std::error_code ignored;
      fs::remove_all(folder_, ignored);
    }
  }

  // A simulated device at the address; with a state folder of its own when state is named.
  void StartDevice(const Device& device, const std::string& state = "") {
    ASSERT_TRUE(lab_.AddDeviceAddress(device.cidr));
    std::vector<std::string> args = {"--udp", device.cidr.substr(0, device.cidr.find('/'))};
    args.insert(args.end(), device.options.begin(), device.options.end());
    if (!state.empty()) {
      args.push_back("--state");
      args.push_back((folder_ / state).string());
    }
    auto sim = std::make_unique<e2e::SimulatorProcess>();
    ASSERT_TRUE(lab_.StartOnDevices(*sim, kBin + "/veltr-devsim", args));
    sims_.push_back(std::move(sim));
  }

  void StopDevices() {
    for (auto& sim : sims_) {
      EXPECT_TRUE(sim->Stop()) << "the simulator did not end cleanly";
    }
    sims_.clear();
  }

  devsim::DeviceState Memory(const std::string& state) {
    StopDevices();
    std::string error;
    auto memory = devsim::LoadState((folder_ / state).string(), &error);
    EXPECT_TRUE(memory) << error;
    return memory ? *memory : devsim::DeviceState{};
  }

  void WritePackageFile(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(folder_ / "package" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  void WritePackageFile(const std::string& name, const std::string& text) const {
    WritePackageFile(name, Bytes(text.begin(), text.end()));
  }

  RunResult Veltr(std::vector<std::string> args) {
    if (args[0] != "discover") {
      args.push_back("--package");
      args.push_back((folder_ / "package").string());
      args.push_back("--ini");
      args.push_back((folder_ / "package" / "VeltrUpgrade.ini").string());
      if (!fs::exists(folder_ / "package" / "VeltrUpgrade.ini")) {
        WritePackageFile("VeltrUpgrade.ini", std::string("[PXR-FX]\nVersion=213\n"));
      }
    }
    return lab_.RunOnHost(kBin + "/veltr", args);
  }

  NetnsLab lab_;
  fs::path folder_;
  std::vector<std::unique_ptr<e2e::SimulatorProcess>> sims_;
};

TEST_F(EthernetLabTest, DiscoveryWithoutDevicesExitsNineAfterTheReceiveWindow) {
  const auto r = Veltr({"discover", "--port", "Ethernet"});
  EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "No device found on Ethernet.")) << r.out;
  EXPECT_GE(r.seconds, 0.45);
  EXPECT_LT(r.seconds, 20.0);
}

struct DiscoveryCase {
  const char* name;
  std::vector<Device> devices;  // started in this order
  std::vector<std::string> rows;
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) {
  *os << c.name;
}

class DiscoveryTest : public EthernetLabTest,
                      public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(DiscoveryTest, ListsEveryDeviceInTheOrderItsAnswerArrived) {
  for (const auto& device : GetParam().devices) {
    StartDevice(device);
  }
  const auto r = Veltr({"discover", "--port", "Ethernet"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Rows(r.out), GetParam().rows) << r.out;
  EXPECT_TRUE(HasLine(Squeezed(SqueezedLines(r.out).front()),
                      "# Type Serial number IP address Mode Status"))
      << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Lab, DiscoveryTest,
    ::testing::Values(
        DiscoveryCase{"OneDevice",
                      {{"10.77.1.2/24", {"--type", "PXR-FX", "--serial", "B-07-1234"}}},
                      {"1 PXR-FX B07-1234 10.77.1.2 Veltrano Ok"}},
        DiscoveryCase{"TwoDevicesLaterAnswerListedSecond",
                      {{"10.77.1.2/24",
                        {"--type", "PXR-FX", "--serial", "A-01-0200", "--discovery-delay", "250",
                         "--discovery-length", "19"}},
                       {"10.77.1.3/24",
                        {"--type", "PL1-TP", "--serial", "C-12-9999", "--console-mode", "4"}}},
                      {"1 PL1-TP C12-9999 10.77.1.3 Quillon/Brask Ok",
                       "2 PXR-FX A01-0200 10.77.1.2 Veltrano Ok"}},
        DiscoveryCase{"OutsideTheSubnetNotReachable",
                      {{"10.77.2.5/24", {"--type", "PXR-FX", "--serial", "D-03-0042"}}},
                      {"1 PXR-FX D03-0042 10.77.2.5 Veltrano Not reachable"}},
        DiscoveryCase{"OlderAnswerLayoutAndShortForms",
                      {{"10.77.1.4/24",
                        {"--type", "PL1-TP", "--serial", "E-05-0005", "--discovery-length", "19",
                         "--short-forms-only", "--start", "loader"}}},
                      {"1 PL1-TP E05-0005 10.77.1.4 Upgrade Ok"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EthernetLabTest, WithoutAddressTheListEndsTheRunWithTen) {
  StartDevice({"10.77.1.2/24", {"--type", "PXR-FX"}});
  const auto r = Veltr({"info", "--port", "Ethernet"});
  EXPECT_EQ(r.exitCode, 10) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Searching Ethernet ... Device selection required")) << r.out;
  EXPECT_EQ(Rows(r.out).size(), 1u) << r.out;
}

// The first device to answer lies outside the subnet: --first passes it over for the first Ok.
TEST_F(EthernetLabTest, FirstTakesTheFirstReachableDevice) {
  StartDevice({"10.77.2.5/24", {"--type", "PXR-FX", "--serial", "A-01-0001"}});
  StartDevice(
      {"10.77.1.3/24", {"--type", "PL1-TP", "--serial", "A-01-0002", "--discovery-delay", "150"}});
  WritePackageFile("upl1etu1101.bin", ImageBytes(512, 4));
  const auto r = Veltr({"info", "--port", "Ethernet", "--first", "--device-type", "PL1-TP"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("A01-0002 at 10.77.1.3"), std::string::npos) << r.out;
}

TEST_F(EthernetLabTest, AddressWhereNothingAnswersTriesBothFormsThenGivesUp) {
  const auto r = Veltr({"info", "--port", "Ethernet", "--address", "10.77.1.9"});
  EXPECT_NE(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Searching Ethernet ... Broken connection")) << r.out;
  // Three addressed and three short identify requests, each waiting 500 ms.
  EXPECT_GE(r.seconds, 2.8) << r.out;
  EXPECT_LT(r.seconds, 30.0) << r.out;
}

struct ConnectCase {
  const char* name;
  std::vector<std::string> deviceOptions;
  std::string address;  // as given to --address
};

void PrintTo(const ConnectCase& c, std::ostream* os) {
  *os << c.name;
}

class ConnectTest : public EthernetLabTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectTest, ConnectsAndReadsTheDevice) {
  ASSERT_TRUE(lab_.AddHostName("10.77.1.2", "veltr-bench-7"));
  auto options = GetParam().deviceOptions;
  options.insert(options.end(), {"--type", "PXR-FX", "--uploader", "108"});
  StartDevice({"10.77.1.2/24", options});
  WritePackageFile("upxxetu1101.bin", ImageBytes(1024, 9));
  const auto r = Veltr(
      {"info", "--port", "Ethernet", "--address", GetParam().address, "--device-type", "PXR-FX"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("   Searching Ethernet ..."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Connection established"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Lab, ConnectTest,
                         ::testing::Values(ConnectCase{"DottedAddress", {}, "10.77.1.2"},
                                           ConnectCase{
                                               "HostNameFromTheLabsHostsFile", {}, "veltr-bench-7"},
                                           ConnectCase{"OlderDeviceAnsweringOnlyShortForms",
                                                       {"--short-forms-only"},
                                                       "10.77.1.2"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct UpgradeCase {
  const char* name;
  const char* type;
  const char* section;
  const char* sop;
  size_t logicLength;
  const char* bin;
  const char* upgradeCode;
};

void PrintTo(const UpgradeCase& c, std::ostream* os) {
  *os << c.name;
}

class UpgradeTest : public EthernetLabTest, public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(UpgradeTest, FromConsoleModeLoadsTheUpgradeCodeThenTheFlashHoldsTheImages) {
  const auto& c = GetParam();
  const Bytes logic = ImageBytes(c.logicLength, 1);
  const Bytes processor = ImageBytes(20000, 2);
  WritePackageFile(c.sop, logic);
  WritePackageFile(c.bin, processor);
  WritePackageFile(c.upgradeCode, ImageBytes(1024, 3));
  WritePackageFile("Build.txt", std::string("Build 26-12-10-E"));
  WritePackageFile("VeltrUpgrade.ini", std::string("[") + c.section + "]\nVersion=213\n");
  StartDevice({"10.77.1.2/24", {"--type", c.type, "--uploader", "108"}}, "device");
  const auto r = Veltr({"upgrade", "--yes", "--port", "Ethernet", "--address", "10.77.1.2",
                        "--device-type", c.type});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(" Uploading upgrade code ..."), std::string::npos) << r.out;
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade succeeded.")) << r.out;

  const auto memory = Memory("device");
  EXPECT_EQ(memory.LogicBytes(logic.size()), logic);
  EXPECT_EQ(memory.ProcessorBytes(processor.size()), processor);
  size_t codeParts = 0;
  for (const auto& entry : memory.writeLog) {
    codeParts += entry.kind == devsim::WriteKind::kUpgradeCodePage ? 1 : 0;
  }
  EXPECT_GT(codeParts, 0u) << "the upgrade code went to the device";
}

INSTANTIATE_TEST_SUITE_P(Lab, UpgradeTest,
                         ::testing::Values(UpgradeCase{"PxrFx", "PXR-FX", "PXR-FX", "ppxx1213.sop",
                                                       773864, "upxx1213.bin", "upxxetu1101.bin"},
                                           UpgradeCase{"Pl1Tp", "PL1-TP", "PL1-TP", "ppl11213.sop",
                                                       235820, "upl11213.bin", "upl1etu1101.bin"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EthernetLabTest, UserTextAndSettingsEraseReachTheEeprom) {
  StartDevice({"10.77.1.2/24", {"--type", "PXR-FX", "--start", "loader"}}, "device");
  const std::vector<std::string> at = {"--port",    "Ethernet",      "--address",
                                       "10.77.1.2", "--device-type", "PXR-FX"};
  std::vector<std::string> args = {"user-text", "Stage left", "Rack 2"};
  args.insert(args.end(), at.begin(), at.end());
  auto r = Veltr(args);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "User text upgrade succeeded.")) << r.out;

  args = {"erase-settings", "--yes"};
  args.insert(args.end(), at.begin(), at.end());
  r = Veltr(args);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "Settings erasing succeeded.")) << r.out;

  const auto memory = Memory("device");
  const auto info = memory.InfoArea();
  EXPECT_EQ(std::string(info.begin() + 64, info.begin() + 74), "Stage left");
  EXPECT_EQ(std::string(info.begin() + 94, info.begin() + 100), "Rack 2");
  const bool erased = std::any_of(memory.writeLog.begin(), memory.writeLog.end(), [](auto& e) {
    return e.kind == devsim::WriteKind::kEepromErase && e.count > 0;
  });
  EXPECT_TRUE(erased);
  EXPECT_EQ(memory.eeprom[devsim::kInfoAreaSize], 0xFF);
}

TEST_F(EthernetLabTest, DeviceSilentMidUploadFailsThenASecondRunCompletes) {
  const Bytes logic = ImageBytes(773864, 5);
  const Bytes processor = ImageBytes(3000, 6);
  WritePackageFile("ppxx1213.sop", logic);
  WritePackageFile("upxx1213.bin", processor);
  const std::vector<std::string> upgrade = {"upgrade",   "--yes",     "--port",        "Ethernet",
                                            "--address", "10.77.1.2", "--device-type", "PXR-FX"};
  StartDevice({"10.77.1.2/24",
               {"--type", "PXR-FX", "--uploader", "108", "--start", "loader",
                "--silent-after-pages", "40"}},
              "device");
  auto r = Veltr(upgrade);
  EXPECT_NE(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Failed: "), std::string::npos) << r.out;
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade failed: communication failed.")) << r.out;
  EXPECT_LT(r.seconds, 60.0);
  StopDevices();

  // The same device again, its memory as the first run left it.
  std::vector<std::string> args = {"--udp",  "10.77.1.2", "--start",
                                   "loader", "--state",   (folder_ / "device").string()};
  auto sim = std::make_unique<e2e::SimulatorProcess>();
  ASSERT_TRUE(lab_.StartOnDevices(*sim, kBin + "/veltr-devsim", args));
  sims_.push_back(std::move(sim));
  r = Veltr(upgrade);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto memory = Memory("device");
  EXPECT_EQ(memory.LogicBytes(logic.size()), logic);
  EXPECT_EQ(memory.ProcessorBytes(processor.size()), processor);
}

}  // namespace
}  // namespace veltr::netns
