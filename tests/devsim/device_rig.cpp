#include "device_rig.h"

#include <stdlib.h>

namespace devsim_test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "devsim-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

devsim::DeviceState Device(const std::string& type, const devsim::IdentityChanges& changes) {
  std::string error;
  const auto number = devsim::ParseTypeName(type);
  auto state = devsim::NewDevice(number.value_or(-1), &error);
  if (!state || !devsim::ApplyChanges(*state, changes, &error)) {
    throw std::runtime_error("cannot make a " + type + ": " + error);
  }
  return *state;
}

void DeviceRig::StartDevice(devsim::DeviceState state, devsim::SimulatorOptions options) {
  device = std::make_unique<devsim::Simulator>(line.master(), std::move(state), std::move(options));
  std::string error;
  ASSERT_TRUE(device->Start(&error)) << error;
}

void DeviceRig::StartDevice(const std::string& type, devsim::Mode start,
                            devsim::SimulatorOptions options) {
  options.start = start;
  StartDevice(Device(type), std::move(options));
}

void DeviceRig::StopDevice() {
  if (device) {
    device->Stop();
    device.reset();
  }
}

Bytes DeviceRig::ExitAndEnter(speed_t speed) {
  line.SetSpeed(speed);
  const Bytes carriageReturn = line.Exchange(ExitRequest(), 1);
  EXPECT_EQ(carriageReturn, Bytes{0x0D}) << "program-mode exit";
  return line.Exchange(AccessSequence(), 16);
}

Bytes DeviceRig::WarmBootAndEnter(speed_t speed) {
  line.SetSpeed(B57600);
  line.Purge();
  line.Write(WarmBootRequest());
  // The simulator tells a request's line speed by the speed the line has when it reads the bytes:
  // the line stays at 57600 until a loaded machine has surely let it read them.
  usleep(200 * 1000);
  line.SetSpeed(speed);
  EXPECT_EQ(line.Read(1), Bytes{0x0D}) << "warm boot";
  return line.Exchange(AccessSequence(), 16);
}

Bytes DeviceRig::EchoExchange(std::uint8_t command, const Bytes& data) {
  line.Purge();
  line.Write({command});
  Bytes echoes;
  for (std::uint8_t b : data) {
    line.Write({b});
    const Bytes echo = line.Read(1);
    if (echo.empty()) {
      break;
    }
    echoes.push_back(echo[0]);
  }
  return echoes;
}

}  // namespace devsim_test
