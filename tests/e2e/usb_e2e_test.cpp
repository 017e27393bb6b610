// The command line against simulated USB devices. veltr runs with umockdev's preload library over
// a testbed of our own: sysfs entries of a HID device (vendor 0925, product 0050) with its report
// descriptor and a hidraw child, so the real hidraw backend finds the device with udev and reads
// its report lengths as on a machine with the device plugged in. umockdev makes a plain file of
// a hidraw node, so the node is a link to the simulator's pseudo-terminal instead: output reports
// cross the kernel's tty layer as 65 bytes (id byte first), input reports come back as 64 data
// bytes, as a hidraw node of a device without report ids passes them.

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
#include "support/image_bytes.h"

#include "e2e/usb_testbed.h"

namespace veltr::e2e {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kBin = VELTR_BIN_DIR;

using veltr::test::ImageBytes;

bool HasLine(const std::string& text, const std::string& line) {
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    if (text.compare(start, end == std::string::npos ? std::string::npos : end - start, line) ==
        0) {
      return true;
    }
    if (end == std::string::npos) {
      return false;
    }
    start = end + 1;
  }
  return false;
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct PluggedDevice {
  std::string type = "PXR-FX";
  std::string serial = "B-07-1234";
  std::vector<std::string> extra;  // further simulator options
};

class UsbE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if !VELTR_HAVE_UMOCKDEV
    GTEST_SKIP() << "umockdev is not installed (Debian: umockdev, libumockdev-dev)";
#endif
    if (!fs::exists(kPreload)) {
      GTEST_SKIP() << "umockdev's preload library " << kPreload << " is not installed";
    }
    testbed_ = std::make_unique<UsbTestbed>();
    std::string pattern = (fs::temp_directory_path() / "veltr-usb-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::create_directories(folder_ / "package");
  }
  void TearDown() override {
    sims_.clear();
    testbed_.reset();
    std::error_code ignored;
    if (!folder_.empty()) {
      fs::remove_all(folder_, ignored);
    }
  }

  // A simulated device behind hidraw<index>, its memory in the test's folder.
  void Plug(int index, const PluggedDevice& device) {
    std::vector<std::string> args = {
        "--usb",   "--type",        device.type, "--serial", device.serial,
        "--state", StateDir(index), "--verbose", "--link",   testbed_->AddDevice(index)};
    args.insert(args.end(), device.extra.begin(), device.extra.end());
    auto sim = std::make_unique<SimulatorProcess>();
    ASSERT_TRUE(sim->Start(kBin + "/veltr-devsim", args, LogPath(index)));
    sims_.push_back(std::move(sim));
  }

  devsim::DeviceState Device(int index) {
    for (auto& sim : sims_) {
      EXPECT_TRUE(sim->Stop()) << "the simulator did not end cleanly";
    }
    sims_.clear();
    std::string error;
    auto state = devsim::LoadState(StateDir(index), &error);
    EXPECT_TRUE(state) << error;
    return state ? *state : devsim::DeviceState{};
  }

  // veltr under the preload, seeing the testbed's sysfs and nodes instead of the machine's.
  RunResult Veltr(std::vector<std::string> args) {
    if (args[0] != "discover") {
      // A failed search offers the cold boot on a serial port: keep it away from this machine's.
      for (int i = 1; i <= 4; ++i) {
        args.insert(args.end(),
                    {"--serial", "COM" + std::to_string(i) + "=" +
                                     (folder_ / ("no-tty" + std::to_string(i))).string()});
      }
      args.insert(args.end(), {"--package", PackageDir(), "--ini",
                               PackageDir() + "/VeltrUpgrade.ini", "--device-type", "PXR-FX"});
    }
    if (!fs::exists(PackageDir() + "/VeltrUpgrade.ini")) {
      WritePackageFile("VeltrUpgrade.ini", "[PXR-FX]\nVersion=213\n");
    }
    const auto command = UnderTestbed(testbed_->Root(), kBin + "/veltr", args);
    return RunProgram(command[0], {command.begin() + 1, command.end()}, 120);
  }

  void WritePackageFile(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(folder_ / "package" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  void WritePackageFile(const std::string& name, const std::string& text) const {
    WritePackageFile(name, Bytes(text.begin(), text.end()));
  }

  // The PXR-FX package: upgrade code, logic and processor images.
  void WritePackage(size_t upgradeCodeLength = 1024, size_t processorLength = 20000) {
    upgradeCode_ = ImageBytes(upgradeCodeLength, 1);
    logic_ = ImageBytes(773864, 2);
    processor_ = ImageBytes(processorLength, 3);
    WritePackageFile("upxxusu1101.bin", upgradeCode_);
    WritePackageFile("ppxx1213.sop", logic_);
    WritePackageFile("upxx1213.bin", processor_);
  }

  std::string StateDir(int index) const {
    return (folder_ / ("device" + std::to_string(index))).string();
  }
  std::string LogPath(int index) const {
    return (folder_ / ("device" + std::to_string(index) + ".log")).string();
  }
  std::string Log(int index) const {
    return Contents(LogPath(index));
  }
  std::string PackageDir() const {
    return (folder_ / "package").string();
  }

  std::unique_ptr<UsbTestbed> testbed_;
  fs::path folder_;
  std::vector<std::unique_ptr<SimulatorProcess>> sims_;
  Bytes upgradeCode_;
  Bytes logic_;
  Bytes processor_;
};

TEST_F(UsbE2eTest, ConsoleModeDeviceTakesTheUpgradeCodeThenBothImages) {
  WritePackage();
  Plug(0, {"PXR-FX", "B-07-1234", {"--console-mode", "1", "--uploader", "108"}});
  const auto r = Veltr({"upgrade", "--yes", "--port", "USB", "--serial-number", "B07-1234"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(
      HasLine(r.out, "   Searching USB ... Uploading upgrade code ... Connection established"))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade succeeded.")) << r.out;

  const auto device = Device(0);
  EXPECT_EQ(device.LogicBytes(logic_.size()), logic_);
  EXPECT_EQ(device.ProcessorBytes(processor_.size()), processor_);
  // The upgrade code goes first, 512-byte pages in four parts each, before any flash page.
  std::vector<std::pair<uint32_t, uint32_t>> parts;
  for (const auto& entry : device.writeLog) {
    if (entry.kind == devsim::WriteKind::kUpgradeCodePage) {
      EXPECT_EQ(parts.size(), static_cast<size_t>(&entry - device.writeLog.data()))
          << "an upgrade-code part after a flash page";
      parts.emplace_back(entry.page, entry.count);
    }
  }
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, 0}, {0, 1}, {0, 2}, {0, 3},
                                                               {1, 0}, {1, 1}, {1, 2}, {1, 3}};
  EXPECT_EQ(parts, expected);
}

TEST_F(UsbE2eTest, DeviceRunningItsUpgradeCodeGetsNoSecondCopy) {
  WritePackage();
  Plug(0, {"PXR-FX", "B-07-1234", {"--start", "upgrade"}});
  const auto r = Veltr({"info", "--port", "USB", "--serial-number", "B07-1234"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Searching USB ... Connection established")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "   Serial Number: B-07-1234")) << r.out;
  EXPECT_EQ(Log(0).find("upgrade-code page"), std::string::npos) << Log(0);
}

TEST_F(UsbE2eTest, MissingUpgradeCodeFileEndsTheSearch) {
  Plug(0, {});
  const auto r = Veltr({"info", "--port", "USB", "--serial-number", "B07-1234"});
  EXPECT_NE(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Failed to load upgrade code file"), std::string::npos) << r.out;
  EXPECT_EQ(Log(0).find("program-mode entry"), std::string::npos) << Log(0);
}

// One EEPROM byte a report, each echoed in a report of its own.
TEST_F(UsbE2eTest, UserTextAndSettingsEraseReachTheEeprom) {
  WritePackage();  // leaving program mode starts the firmware: the second run loads the code again
  Plug(0, {"PXR-FX", "B-07-1234", {"--start", "upgrade"}});
  auto r = Veltr({"user-text", "--port", "USB", "--serial-number", "B07-1234", "Stage left", ""});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "User text upgrade succeeded.")) << r.out;
  r = Veltr({"erase-settings", "--yes", "--port", "USB", "--serial-number", "B07-1234"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "Settings erasing succeeded.")) << r.out;

  const auto device = Device(0);
  const auto info = device.InfoArea();
  EXPECT_EQ(std::string(info.begin() + 64, info.begin() + 74), "Stage left");
  size_t erased = 0;
  while (devsim::kInfoAreaSize + erased < devsim::kEepromSize &&
         device.eeprom[devsim::kInfoAreaSize + erased] == 0xFF) {
    ++erased;
  }
  EXPECT_GE(erased, 384u) << "settings bytes erased";
}

TEST_F(UsbE2eTest, DiscoverListsInNodeOrderWithTheSilentDeviceNotResponding) {
  Plug(0, {"KL1A", "A-01-0001", {"--start", "dead"}});
  Plug(1, {"PXR-FX", "B-07-1234", {"--console-mode", "4"}});
  const auto r = Veltr({"discover", "--port", "USB"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const size_t silent = r.out.find("Not responding");
  const size_t answered = r.out.find("B07-1234");
  ASSERT_NE(silent, std::string::npos) << r.out;
  ASSERT_NE(answered, std::string::npos) << r.out;
  EXPECT_LT(silent, answered) << "hidraw0 is listed first:\n" << r.out;
  EXPECT_NE(r.out.find("Quillon/Brask"), std::string::npos) << r.out;

  // --first passes over the silent device and takes the one that answered.
  WritePackage();
  const auto first = Veltr({"info", "--port", "USB", "--first"});
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  EXPECT_TRUE(HasLine(first.out, "   Serial Number: B-07-1234")) << first.out;
}

TEST_F(UsbE2eTest, ListingWithoutAChoiceEntersNoDevice) {
  Plug(0, {"PXR-FX", "B-07-1234", {}});
  const auto r = Veltr({"info", "--port", "USB"});
  EXPECT_EQ(r.exitCode, 10) << r.out << r.err;
  EXPECT_NE(r.out.find("B07-1234"), std::string::npos) << r.out;
  EXPECT_EQ(Log(0).find("program-mode entry"), std::string::npos) << Log(0);
}

TEST_F(UsbE2eTest, SerialNumberChoosesTheDevice) {
  WritePackage();
  Plug(0, {"PXR-FX", "B-07-1234", {}});
  Plug(1, {"PXR-FX", "C-12-0042", {}});
  const auto r = Veltr({"info", "--port", "USB", "--serial-number", "C12-0042"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "   Serial Number: C-12-0042")) << r.out;
  EXPECT_EQ(Log(0).find("program-mode entry"), std::string::npos) << Log(0);
  EXPECT_NE(Log(1).find("program-mode entry"), std::string::npos) << Log(1);

  const auto unknown = Veltr({"info", "--port", "USB", "--serial-number", "C12-0043"});
  EXPECT_EQ(unknown.exitCode, 9) << unknown.out << unknown.err;
}

// The device answers in one of its identification forms and layouts; the port finds its way to
// type and serial number in each.
struct IdentifyCase {
  const char* name;
  std::vector<std::string> options;
  const char* type;
  const char* listedType;
};

void PrintTo(const IdentifyCase& c, std::ostream* os) {
  *os << c.name;
}

class UsbIdentifyTest : public UsbE2eTest, public ::testing::WithParamInterface<IdentifyCase> {};

TEST_P(UsbIdentifyTest, DiscoverTellsTypeSerialNumberAndMode) {
  const auto& c = GetParam();
  Plug(0, {c.type, "D-03-0625", c.options});
  const auto r = Veltr({"discover", "--port", "USB"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_NE(r.out.find("D03-0625"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(c.listedType), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Halvik"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Ok"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    E2e, UsbIdentifyTest,
    ::testing::Values(
        IdentifyCase{"Addressed", {}, "VR8R-FX", "VR8R-FX"},
        IdentifyCase{"ShortOnly", {"--short-identify-only"}, "MT20R-FX", "MT20R-FX"},
        IdentifyCase{"AddressedOlderLayout", {"--older-identify"}, "PXR-FX", "PXR-FX"},
        // Without the variant byte a code 0x94 board counts as a PXR-FX, whatever it is.
        IdentifyCase{"ShortOlderLayout",
                     {"--older-identify", "--short-identify-only"},
                     "MT30R-FX",
                     "PXR-FX"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbE2eTest, UnpluggedMidUploadFailsAndEndsWithoutHanging) {
  WritePackage();
  Plug(0, {"PXR-FX", "B-07-1234", {"--start", "upgrade", "--unplug-after-pages", "40"}});
  const auto r = Veltr({"upgrade", "--yes", "--port", "USB", "--serial-number", "B07-1234"});
  EXPECT_NE(r.exitCode, 0) << r.out << r.err;
  EXPECT_GE(r.exitCode, 0) << "ended by a signal:\n" << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "Firmware upgrade failed: communication failed.")) << r.out;
  EXPECT_NE(r.out.find("   Uploading 41 block of"), std::string::npos) << r.out;
  // Every attempt after the hangup fails at once; a generous bound still tells it from a wait.
  EXPECT_LT(r.seconds, 60) << r.out;
  EXPECT_NE(Log(0).find("cable pulled"), std::string::npos) << Log(0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(testbed_->Root() + "/dev/hidraw0")))
      << "the node went with the device";
}

}  // namespace
}  // namespace veltr::e2e
