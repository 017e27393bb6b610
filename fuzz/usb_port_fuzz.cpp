// The USB port against a device that says anything: report lengths from its descriptor, then the
// identification and mode answers and the frames unpacked from its input reports. The input is
// split into what each call of the HID backend hands back.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "fuzz/fuzz_input.h"
#include "transport/hid_backend.h"
#include "transport/port_usb.h"

namespace {

class FuzzedHid : public veltr::IVeltrHidBackend {
 public:
  explicit FuzzedHid(veltr::fuzz::Input& input) : input_(input) {}
  std::vector<std::string> Enumerate() override {
    const int count = input_.Byte() % 3;
    std::vector<std::string> nodes;
    for (int i = 0; i < count; ++i) {
      nodes.push_back("/dev/hidraw" + std::to_string(i));
    }
    return nodes;
  }
  int Open(const std::string&) override { return input_.Byte() == 0xEE ? -1 : 3; }
  bool ReportLengths(int, uint32_t& in, uint32_t& out) override {
    in = input_.Byte();
    out = input_.Byte();
    return in != 0xFF;
  }
  bool WriteReport(int, const uint8_t*, uint32_t) override { return input_.Byte() != 0xEE; }
  bool ReadReport(int, uint8_t* report, uint32_t length, uint32_t) override {
    if (input_.Empty()) {
      return false;
    }
    const auto bytes = input_.Take(length);
    std::memset(report, 0, length);
    std::memcpy(report, bytes.data(), bytes.size());
    return bytes.size() == length;
  }
  void DiscardInput(int) override {}
  bool Close(int) override { return true; }
  std::string LastError() const override { return "fuzzed"; }

 private:
  veltr::fuzz::Input& input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veltr::fuzz::Input input(data, size);
  const uint8_t how = input.Byte();
  veltr::CVeltrPortUSB port(std::make_unique<FuzzedHid>(input));
  veltr::PortSettings settings;
  settings.name = "USB";
  if (how & 1) {
    settings.serialNumber = "A07-0625";
  }
  const auto result = port.Open(settings);
  static_cast<void>(port.FoundDevices());
  if (result == veltr::ConnectResult::Connected) {
    static_cast<void>(port.GetMode());
    static_cast<void>(port.GetDeviceType());
    veltr::CVeltrBuffer frame;
    if (frame.Resize(4 + (how >> 1) % 300)) {
      static_cast<void>(port.Write(frame));
      static_cast<void>(port.Read(frame));
    }
  }
  static_cast<void>(port.Close());
  return 0;
}
