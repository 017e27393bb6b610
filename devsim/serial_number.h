// The serial number field: the first 64 bytes of the EEPROM info area. The device keeps the number
// as four scattered bytes, each stored as (232 - value) mod 256; the low nibble of every stored
// byte says how far in front of it the next one lies, so the positions follow from the values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace devsim {

using SerialArea = std::array<std::uint8_t, 64>;

// "B-07-1234": a letter A..Z, a group number 0..255, and a number 0..25655. Fails on any text that
// would not read back exactly as given.
std::optional<SerialArea> EncodeSerialNumber(const std::string& text);

// The four values as the device keeps them: letter, group, and the number split as
// high * 200 + low. Nothing when the letter is not one.
struct SerialParts {
  std::uint8_t letter = 0;
  std::uint8_t group = 0;
  std::uint8_t high = 0;
  std::uint8_t low = 0;
};
std::optional<SerialParts> SerialPartsOf(const SerialArea& area);

// The text a host reads back, or nothing when the third value is not a letter.
std::optional<std::string> DecodeSerialNumber(const SerialArea& area);

}  // namespace devsim
