#pragma once

// What the reliability tests share: a temporary folder holding the package and the simulated
// device's memory, simulators started on it, and veltr run against them.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devsim/device_state.h"
#include "e2e/process.h"
#include "support/image_bytes.h"

namespace veltr::e2e {

using Bytes = std::vector<uint8_t>;

inline const std::string kBinDir = VELTR_BIN_DIR;

using veltr::test::ImageBytes;

inline std::vector<std::string> Lines(const std::string& text) {
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

inline bool HasLine(const std::string& text, const std::string& line) {
  for (const auto& l : Lines(text)) {
    if (l == line) {
      return true;
    }
  }
  return false;
}

class DeviceFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "veltr-rel-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directories(folder_ / "package");
    std::filesystem::create_directories(folder_ / "device");
  }
  void TearDown() override {
    sims_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // A simulator whose memory lives in the device folder; returns its tty.
  std::string StartDevice(std::vector<std::string> args, const std::string& errorFile = "") {
    args.push_back("--state");
    args.push_back(StateDir());
    auto sim = std::make_unique<SimulatorProcess>();
    EXPECT_TRUE(sim->Start(kBinDir + "/veltr-devsim", args, errorFile));
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

  // A message as the tables in the documents show it: the test's temporary folder as <tmp>.
  std::string Shown(std::string text) const {
    const std::string folder = folder_.string();
    for (size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at)) {
      text.replace(at, folder.size(), "<tmp>");
    }
    return text;
  }

  std::string StateDir() const { return (folder_ / "device").string(); }
  std::string PackageDir() const { return (folder_ / "package").string(); }
  std::string Missing(const std::string& name) const { return (folder_ / name).string(); }
  std::string IniPath() const { return (folder_ / "package" / "VeltrUpgrade.ini").string(); }

  void WritePackageFile(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(folder_ / "package" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  void WritePackageFile(const std::string& name, const std::string& text) const {
    WritePackageFile(name, Bytes(text.begin(), text.end()));
  }

  // veltr with COM1 the given tty (the other three nowhere), the test's package and its
  // description.
  RunResult Veltr(std::vector<std::string> args, const std::string& com1,
                  const SignalPlan* plan = nullptr) {
    const std::vector<std::string> com = {com1, Missing("tty2"), Missing("tty3"), Missing("tty4")};
    for (size_t i = 0; i < com.size(); ++i) {
      args.push_back("--serial");
      args.push_back("COM" + std::to_string(i + 1) + "=" + com[i]);
    }
    args.push_back("--package");
    args.push_back(PackageDir());
    args.push_back("--ini");
    args.push_back(IniPath());
    if (!std::filesystem::exists(IniPath())) {
      WritePackageFile("VeltrUpgrade.ini", std::string("[KL1A]\nVersion=211\n"));
    }
    if (launcher_) {
      const auto command = launcher_(kBinDir + "/veltr", args);
      return RunProgram(command[0], {command.begin() + 1, command.end()}, 180, plan);
    }
    return RunProgram(kBinDir + "/veltr", args, 180, plan);
  }

  // When set, veltr runs through the command line it makes of the program and its arguments: in
  // a network lab, under the USB testbed.
  std::function<std::vector<std::string>(const std::string&, const std::vector<std::string>&)>
      launcher_;

  std::filesystem::path folder_;
  std::vector<std::unique_ptr<SimulatorProcess>> sims_;
};

}  // namespace veltr::e2e
