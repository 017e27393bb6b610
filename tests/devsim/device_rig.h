// A simulated device on a pair made by the test, and the steps a host takes to reach it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "devsim/device_state.h"
#include "devsim/device_table.h"
#include "devsim/simulator.h"
#include "host_line.h"

namespace devsim_test {

// A fresh folder under the system's temporary directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string path() const { return path_.string(); }
  std::string Sub(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

devsim::DeviceState Device(const std::string& type, const devsim::IdentityChanges& changes = {});

class DeviceRig : public ::testing::Test {
 protected:
  void TearDown() override { StopDevice(); }

  void StartDevice(devsim::DeviceState state, devsim::SimulatorOptions options = {});
  void StartDevice(const std::string& type, devsim::Mode start,
                   devsim::SimulatorOptions options = {});
  void StopDevice();

  // Exit with the entry right behind it, as the host does on a serial line; the identity.
  Bytes ExitAndEnter(speed_t speed);
  // Warm boot at 57600, back to `speed`, entry; the identity.
  Bytes WarmBootAndEnter(speed_t speed);
  // The host's byte-echo exchange; the echoes as they came.
  Bytes EchoExchange(std::uint8_t command, const Bytes& data);

  HostLine line;
  std::unique_ptr<devsim::Simulator> device;
};

}  // namespace devsim_test
