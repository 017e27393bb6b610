#include "devsim/serial_number.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace devsim {
namespace {

constexpr int kFirstPosition = 58;
// Where the chain goes when the first byte's nibble is zero.
constexpr int kFallbackPosition = 42;
constexpr int kNumberSplit = 200;

std::uint8_t Stored(int value) {
  return static_cast<std::uint8_t>((232 - value) & 0xFF);
}
int Value(std::uint8_t stored) {
  return (232 - stored) & 0xFF;
}
int Step(std::uint8_t stored) {
  return (stored & 15) != 0 ? (stored & 15) : 16;
}

// Bytes outside the four coded positions carry a fixed pattern, as a factory-programmed device
// would; a host must not read anything from them.
void FillPattern(SerialArea& area) {
  for (std::size_t i = 0; i < area.size(); ++i) {
    area[i] = static_cast<std::uint8_t>(0x5A + i * 37);
  }
}

std::optional<int> ParseDecimal(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<SerialArea> EncodeSerialNumber(const std::string& text) {
  const auto dash1 = text.find('-');
  const auto dash2 = text.find('-', dash1 == std::string::npos ? dash1 : dash1 + 1);
  if (dash1 != 1 || dash2 == std::string::npos) {
    return std::nullopt;
  }
  const char letter = text[0];
  const auto group = ParseDecimal(text.substr(dash1 + 1, dash2 - dash1 - 1));
  const auto number = ParseDecimal(text.substr(dash2 + 1));
  if (letter < 'A' || letter > 'Z' || !group || !number || *group > 255 || *number < 0) {
    return std::nullopt;
  }
  // number = high * 200 + low, with high a signed byte and low a plain byte.
  const int high = std::min(*number / kNumberSplit, 127);
  const int low = *number - high * kNumberSplit;
  if (low > 255) {
    return std::nullopt;
  }

  SerialArea area;
  FillPattern(area);
  int position = kFirstPosition;
  area[position] = Stored(low);
  position = (area[position] & 15) != 0 ? position - (area[position] & 15) : kFallbackPosition;
  area[position] = Stored(*group);
  position -= Step(area[position]);
  area[position] = Stored(letter);
  position -= Step(area[position]);
  area[position] = Stored(high);

  // Only texts in the form the host prints ("%02d" fields) survive the round trip.
  const auto decoded = DecodeSerialNumber(area);
  if (!decoded || *decoded != text) {
    return std::nullopt;
  }
  return area;
}

std::optional<SerialParts> SerialPartsOf(const SerialArea& area) {
  int position = kFirstPosition;
  SerialParts parts;
  parts.low = static_cast<std::uint8_t>(Value(area[position]));
  position = (area[position] & 15) != 0 ? position - (area[position] & 15) : kFallbackPosition;
  parts.group = static_cast<std::uint8_t>(Value(area[position]));
  position -= Step(area[position]);
  const int letter = Value(area[position]);
  if (letter < 'A' || letter > 'Z') {
    return std::nullopt;
  }
  parts.letter = static_cast<std::uint8_t>(letter);
  position -= Step(area[position]);
  parts.high = static_cast<std::uint8_t>(Value(area[position]));
  return parts;
}

std::optional<std::string> DecodeSerialNumber(const SerialArea& area) {
  const auto parts = SerialPartsOf(area);
  if (!parts) {
    return std::nullopt;
  }
  const int number = static_cast<std::int8_t>(parts->high) * kNumberSplit + parts->low;
  char text[32];
  std::snprintf(text, sizeof text, "%c-%02d-%02d%02d", parts->letter, parts->group, number / 100,
                number % 100);
  return std::string(text);
}

}  // namespace devsim
