#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/display.h"
#include "engine/upgrade_engine.h"
#include "package/package_description.h"
#include "support/scripted_port.h"
#include "transport/port_map.h"
#include "transport/system_ports.h"

namespace veltr::test {

// Deterministic image contents, different for every byte position within a page run.
inline Bytes ImageBytes(size_t length, uint8_t seed = 1) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + seed + i / 256);
  }
  return bytes;
}

// An engine wired to a display, with its package folder in a fresh temporary folder. By default
// the engine has this machine's ports on the ttys of portMap_; a derived fixture may hand it
// doubles instead.
class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : engine_(MakeSystemPorts(portMap_)) {}
  explicit EngineTest(CVeltrPortSet ports) : engine_(std::move(ports)) {}

  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "veltr-engine-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    engine_.SetDisplay(&display_);
    engine_.SetSettings(&settings_);
    engine_.SetPackage(&package_);
    engine_.SetWorkingFolder(folder_.string());
  }
  void TearDown() override {
    // Test ports die with the test body; the engine must not leave upgrade mode through them.
    engine_.SetConnected(false);
    engine_.SetCurrentPort(engine_.PortFor(kPortCom1));
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  void WriteFile(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(folder_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
  }
  void WriteFile(const std::string& name, const std::string& text) const {
    WriteFile(name, Bytes(text.begin(), text.end()));
  }

  void Connect(DeviceType type, uint16_t hardware, IVeltrPort& port) {
    engine_.info.type = type;
    engine_.info.hardwareVersion = VersionWord::Of(hardware);
    engine_.SetCurrentPort(port);
    engine_.SetConnected(true);
  }

  std::string Line(uint32_t page, uint32_t line) const { return display_.GetLine(page, line); }

  std::filesystem::path folder_;
  IVeltrDisplay display_;
  AppSettings settings_;
  PackageVersionTable package_;
  CVeltrPortMap portMap_;
  UpgradeEngine engine_;
};

}  // namespace veltr::test
