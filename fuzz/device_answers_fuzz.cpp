// What a device on the serial line answers the commands that read something back: the
// identification at program-mode entry, the EEPROM info area, the page acknowledgements.
// The first byte picks the command; the rest is what the line delivers, read by read.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/buffer.h"
#include "base/port.h"
#include "fuzz/fuzz_input.h"
#include "protocol/commands.h"

namespace {

class FuzzedLine : public veltr::IVeltrPort {
 public:
  explicit FuzzedLine(veltr::fuzz::Input& input) : input_(input) {}
  veltr::ConnectResult Open(const veltr::PortSettings&) override {
    return veltr::ConnectResult::Connected;
  }
  int32_t GetMode() const override { return -1; }
  veltr::DeviceType GetDeviceType() const override { return veltr::kNoDeviceType; }
  bool Close() override { return true; }
  bool SetTimeout(uint32_t) override { return true; }
  bool Write(const veltr::CVeltrBuffer&) override { return true; }
  bool Read(veltr::CVeltrBuffer& buffer) override {
    if (input_.Empty()) {
      return false;
    }
    const uint32_t size = buffer.GetSize();
    const auto bytes = input_.Take(size);
    if (size != 0) {
      std::memcpy(buffer.At(0), bytes.data(), bytes.size());
    }
    return bytes.size() == size;
  }
  bool SetBaudRate(uint32_t rate) override {
    rate_ = rate;
    return true;
  }
  uint32_t GetBaudRate() const override { return rate_; }
  const char* GetName() const override { return "RS232"; }
  veltr::PortId GetPortId() const override { return veltr::kPortCom1; }
  std::vector<veltr::FoundDevice> FoundDevices() const override { return {}; }

 private:
  veltr::fuzz::Input& input_;
  uint32_t rate_ = 19200;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veltr::fuzz::Input input(data, size);
  const uint8_t which = input.Byte();
  FuzzedLine line(input);
  switch (which % 4) {
    case 0: {
      veltr::CVeltrCommandProgramModeEnter enter;
      const uint32_t alreadySent = which & 0x10;
      veltr::DeviceIdentity identity;
      static_cast<void>(enter.Execute(line, &alreadySent, &identity));
      break;
    }
    case 1: {
      veltr::CVeltrCommandEEPROMRead read;
      veltr::EepromInfoRecord record;
      static_cast<void>(read.Execute(line, &record));
      break;
    }
    case 2: {
      std::vector<uint8_t> page(256, 0x5A);
      veltr::PageRecord record{page.data(), 256, which, veltr::kNoDeviceType};
      veltr::CVeltrCommandPROMPageWrite write;
      static_cast<void>(write.Execute(line, &record));
      break;
    }
    default: {
      veltr::CVeltrCommandProgramModeExit exit;
      static_cast<void>(exit.Execute(line, nullptr));
      break;
    }
  }
  return 0;
}
