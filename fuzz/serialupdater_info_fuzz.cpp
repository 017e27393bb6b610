// What a device tells the serial updater when it is found: the 16-byte identification answer and
// the 128-byte information block, highest index first as it comes off the line. The record they
// give is then run through every table the status lines and the firmware job look up with it.
// A short input leaves the rest of the answer as an erased device reads: all FF.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "serialupdater/device_tables.h"
#include "serialupdater/updater.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsSixteenBits(int value) {
  return value >= 0 && value <= 0xFFFF;
}

void CheckText(const std::string& text) {
  Require(text.size() == 30);
  for (const char c : text) {
    Require(static_cast<std::uint8_t>(c) != 0xFF);
  }
}

// "V" <hundreds> "." <two places>.
void CheckVersionText(int version) {
  const std::string text = su::VersionText(version);
  Require(StartsWith(text, "V"));
  Require(text.size() >= 5 && text[text.size() - 3] == '.');
}

// "L-GG-NNNN", or empty when the letter is not A to Z.
void CheckSerialNumber(const std::string& text) {
  if (text.empty()) {
    return;
  }
  Require(text.size() == 9);
  Require(text[0] >= 'A' && text[0] <= 'Z');
  Require(text[1] == '-' && text[4] == '-');
}

// The lookups of detection and of the three jobs for one record.
void CheckTables(const su::DeviceRecord& d) {
  const int type = d.typeCode;
  const int hw = d.hardwareVersion;

  const auto connected = su::ConnectedText(type, hw);
  if (type == 0) {
    Require(connected && *connected == " No supported device found!");
  } else if (connected) {
    Require(StartsWith(*connected, " You are connected to "));
  }
  if (const auto caption = su::CaptionOf(type, hw)) {
    Require(StartsWith(*caption, "Update: "));
  }

  // Every type an identifier can give has its firmware in the package.
  const auto rule = su::FileRuleOf(type);
  Require(type == 0 || rule.has_value());
  if (rule) {
    Require(rule->name != nullptr);
    const int logic = su::VersionNumber(su::LogicVersionText(type));
    const int proc = su::VersionNumber(su::ProcVersionText(type));
    Require(logic >= 100 && logic <= 999 && proc >= 100 && proc <= 999);
    CheckVersionText(logic);
    CheckVersionText(proc);
    if (rule->logicCode != nullptr) {
      Require(EndsWith(su::LogicFileName(*rule, d.hwVariant, type), ".sop"));
    }
    if (rule->procCode != nullptr) {
      Require(EndsWith(su::ProcFileName(*rule, d.hwVariant, type), ".bin"));
    }
  } else {
    Require(su::ProcLoaderOf(type, hw) == su::ProcLoader::kNone);
  }
  // A length the image buffer cannot hold (800001 bytes less one block) could never be met.
  if (const auto length = su::RequiredLogicLength(type, hw, d.hwVariant)) {
    Require(*length > 0 && *length + 256 <= 800001);
  }
  static_cast<void>(su::RebootsBetweenImages(type, hw));
  const int erase = su::EraseCount(type, hw);
  Require(erase == 384 || erase == 896);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veltr::fuzz::Input input(data, size);
  su::Identification answer;
  answer.fill(0xFF);
  const auto head = input.Take(answer.size());
  std::copy(head.begin(), head.end(), answer.begin());

  su::DeviceRecord device;
  su::TakeIdentification(answer, device);
  Require(device.typeCode == su::TypeFromIdentifier(std::string(answer.begin() + 8, answer.end())));
  Require(IsSixteenBits(device.hardwareVersion) && IsSixteenBits(device.uploaderVersion));
  Require(std::string("01234v").find(device.hwVariant) != std::string::npos);

  su::InfoBlock block;
  block.fill(0xFF);
  const auto received = input.Take(block.size());
  for (std::size_t k = 0; k < block.size(); ++k) {
    const std::size_t index = block.size() - 1 - k;
    block[index] = su::InfoBlockByte(index, k < received.size() ? received[k] : 0xFF);
  }
  su::TakeInformationBlock(block, device);
  CheckText(device.userText1);
  CheckText(device.userText2);
  Require(IsSixteenBits(device.logicVersion) && IsSixteenBits(device.procVersion));
  CheckSerialNumber(device.serialNumber);
  Require(device.serialNumber == su::DecodeSerialNumber(block));

  CheckVersionText(device.hardwareVersion);
  CheckVersionText(device.uploaderVersion);
  CheckVersionText(device.logicVersion);
  CheckVersionText(device.procVersion);
  CheckTables(device);
  return 0;
}
