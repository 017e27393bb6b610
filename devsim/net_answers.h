// What a device on the network says about itself: the discovery answer and the identify and mode
// answers, in the addressed and short forms. Built from the frame layouts alone; the device code
// table here is the simulator's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

using Datagram = std::vector<std::uint8_t>;

// The mode byte of a device whose upgrade code runs.
constexpr std::uint8_t kUpgradeModeByte = 254;

struct NetIdentity {
  std::uint8_t code = 0;  // 0: a type no network device reports
  std::uint8_t variant = 0xFF;
  std::uint8_t serial[4] = {0, 0, 0, 0};  // letter, group, high, low
};

// Code and variant byte of a type, serial bytes from a serial number text such as "B-07-1234".
NetIdentity MakeNetIdentity(int type, const std::string& serialNumber);

enum class NetRequest { kNone, kDiscovery, kIdentify, kMode, kShortIdentify, kShortMode };

NetRequest ClassifyRequest(const std::uint8_t* data, std::size_t size);

// length is 19 or 30 (the older and the newer layout); ip first octet first.
Datagram DiscoveryAnswer(int length, const std::uint8_t ip[4], const NetIdentity& identity,
                         std::uint8_t modeByte);
Datagram IdentifyAnswer(bool addressed, const NetIdentity& identity);
Datagram ModeAnswer(bool addressed, std::uint8_t modeByte);

}  // namespace devsim
