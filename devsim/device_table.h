// The simulator's own knowledge of the device family: which identifier each type reports, at which
// speed its loader and program mode listen, and how far its processor flash reaches. Kept apart
// from the program's tables on purpose, so that a wrong row on one side shows up as a failing
// exchange.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devsim {

struct TypeRow {
  int number;
  const char* shortName;
  const char* identifier;  // exactly 8 bytes, blanks included; nullptr for a type no device reports
  int baud;
  std::uint16_t defaultHardware;  // a hardware version the firmware package serves
};

constexpr int kTypeCount = 33;
constexpr int kUnknownType = -1;
constexpr int kUnknownTypeBaud = 19200;
// The normal firmware and the warm boot always run at this speed, whatever the type.
constexpr int kFirmwareBaud = 57600;

// Row of a type number 0..32, nullptr otherwise.
const TypeRow* FindType(int number);

// A short name exactly as the table spells it ("PXR(-TP)"), the same name in any letter case, or a
// type number in decimal.
std::optional<int> ParseTypeName(const std::string& text);

// The type a device with this identifier and hardware version word is, as a host would judge it;
// kUnknownType when no row reports the identifier.
int TypeOfIdentifier(const std::string& identifier, std::uint16_t hardware);

// Program-mode speed; unknown types listen at 19200.
int BaudOfType(int type);

// Highest processor page index the device's flash accepts.
std::uint32_t ProcessorPageLimit(int type);

// What a device says of itself in its USB identify answer: the device code, and the variant byte
// that tells the members of code 0x94 apart. Nothing for a type without a USB interface.
struct UsbCode {
  std::uint8_t code;
  std::uint8_t variant;
};
std::optional<UsbCode> UsbCodeOfType(int type);

}  // namespace devsim
