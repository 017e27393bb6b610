#include "devsim/net_answers.h"

#include <algorithm>
#include <cstdio>

namespace devsim {
namespace {

struct CodeRow {
  int type;
  std::uint8_t code;
  std::uint8_t variant;
};

// Types without a row have no network interface and report code 0.
constexpr CodeRow kCodes[] = {
    {0, 0x60, 0xFF},  {1, 0x61, 0xFF},  {2, 0x62, 0xFF},  {3, 0x70, 0xFF},  {4, 0x71, 0xFF},
    {5, 0x50, 0xFF},  {6, 0x51, 0xFF},  {7, 0x54, 0xFF},  {8, 0x56, 0xFF},  {10, 0x31, 0xFF},
    {13, 0x80, 0xFF}, {14, 0x86, 0xFF}, {15, 0x83, 0xFF}, {16, 0x81, 0xFF}, {17, 0x84, 0xFF},
    {18, 0x44, 0xFF}, {19, 0x45, 0xFF}, {22, 0x52, 0xFF}, {24, 0x90, 0xFF}, {25, 0x94, 0x01},
    {27, 0x94, 0x05}, {28, 0x94, 0x06}, {29, 0x94, 0x07}, {30, 0x47, 0xFF}, {31, 0x94, 0x0A},
    {32, 0x10, 0xFF},
};

constexpr std::uint8_t kDiscoveryCode = 0x8F;
constexpr std::uint8_t kIdentifyCode = 0xF0;
constexpr std::uint8_t kModeCode = 0x8A;
constexpr std::uint8_t kShortModeCode = 0x81;

void Seal(Datagram& frame) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
    sum = static_cast<std::uint8_t>(sum + frame[i]);
  }
  frame.back() = sum;
}

bool Is(const std::uint8_t* data, std::size_t size, std::initializer_list<std::uint8_t> bytes) {
  return size == bytes.size() && std::equal(bytes.begin(), bytes.end(), data);
}

}  // namespace

NetIdentity MakeNetIdentity(int type, const std::string& serialNumber) {
  NetIdentity identity;
  for (const CodeRow& row : kCodes) {
    if (row.type == type) {
      identity.code = row.code;
      identity.variant = row.variant;
    }
  }
  char letter = 0;
  unsigned group = 0;
  unsigned number = 0;
  if (std::sscanf(serialNumber.c_str(), "%c-%u-%u", &letter, &group, &number) == 3) {
    identity.serial[0] = static_cast<std::uint8_t>(letter);
    identity.serial[1] = static_cast<std::uint8_t>(group);
    identity.serial[2] = static_cast<std::uint8_t>(number / 200);
    identity.serial[3] = static_cast<std::uint8_t>(number % 200);
  }
  return identity;
}

NetRequest ClassifyRequest(const std::uint8_t* data, std::size_t size) {
  if (Is(data, size, {0x05, kDiscoveryCode, 0xFF, 0xFF, 0x01, 0x93})) {
    return NetRequest::kDiscovery;
  }
  if (Is(data, size, {0x04, kIdentifyCode, 0xFF, 0xFF, 0xF2})) {
    return NetRequest::kIdentify;
  }
  if (Is(data, size, {0x04, kModeCode, 0xFF, 0xFF, 0x8C})) {
    return NetRequest::kMode;
  }
  if (Is(data, size, {0x02, kIdentifyCode, 0xF2})) {
    return NetRequest::kShortIdentify;
  }
  if (Is(data, size, {0x02, kShortModeCode, 0x83})) {
    return NetRequest::kShortMode;
  }
  return NetRequest::kNone;
}

Datagram DiscoveryAnswer(int length, const std::uint8_t ip[4], const NetIdentity& identity,
                         std::uint8_t modeByte) {
  const bool longForm = length == 30;
  Datagram frame(longForm ? 31 : 20, 0);
  frame[0] = static_cast<std::uint8_t>(frame.size() - 1);
  frame[1] = kDiscoveryCode;
  frame[2] = 0xFF;
  frame[3] = 0xFF;
  frame[4] = 0x01;
  const std::size_t ipAt = longForm ? 6 : 5;
  const std::size_t codeAt = longForm ? 20 : 9;
  const std::size_t serialAt = longForm ? 23 : 12;
  std::copy(ip, ip + 4, frame.begin() + static_cast<long>(ipAt));
  frame[codeAt] = identity.code;
  frame[codeAt + 1] = identity.variant;
  std::copy(identity.serial, identity.serial + 4, frame.begin() + static_cast<long>(serialAt));
  frame[frame.size() - 2] = modeByte;
  Seal(frame);
  return frame;
}

Datagram IdentifyAnswer(bool addressed, const NetIdentity& identity) {
  Datagram frame(addressed ? 16 : 14, 0);
  frame[0] = static_cast<std::uint8_t>(frame.size() - 1);
  frame[1] = kIdentifyCode;
  std::size_t at = 2;
  if (addressed) {
    frame[2] = 0xFF;
    frame[3] = 0xFF;
    at = 4;
  }
  frame[at] = identity.code;
  frame[at + 1] = identity.variant;
  std::copy(identity.serial, identity.serial + 4, frame.begin() + static_cast<long>(at + 7));
  Seal(frame);
  return frame;
}

Datagram ModeAnswer(bool addressed, std::uint8_t modeByte) {
  if (!addressed) {
    Datagram frame = {0x03, kShortModeCode, modeByte, 0};
    Seal(frame);
    return frame;
  }
  Datagram frame(21, 0);
  frame[0] = 20;
  frame[1] = kModeCode;
  frame[2] = 0xFF;
  frame[3] = 0xFF;
  frame[16] = modeByte;
  Seal(frame);
  return frame;
}

}  // namespace devsim
