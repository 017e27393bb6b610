// The device on the network, driven over loopback datagrams: every request one datagram, every
// answer one datagram. The sockets are the test's own on ephemeral loopback ports, so nothing
// leaves the machine and nothing else on it is disturbed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "devsim/device_state.h"
#include "devsim/device_table.h"
#include "devsim/simulator.h"

namespace devsim_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint8_t Sum8(const Bytes& bytes, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    sum = static_cast<std::uint8_t>(sum + bytes[i]);
  }
  return sum;
}

int LoopbackSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

sockaddr_in AddressOf(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return address;
}

// A device of a type on a loopback socket, with a host socket connected to it.
class NetworkRig : public ::testing::Test {
 protected:
  void Start(const std::string& type, devsim::NetworkLink link,
             devsim::Mode start = devsim::Mode::kFirmware) {
    device_ = LoopbackSocket();
    host_ = LoopbackSocket();
    ASSERT_GE(device_, 0);
    ASSERT_GE(host_, 0);
    const sockaddr_in device = AddressOf(device_);
    ASSERT_EQ(connect(host_, reinterpret_cast<const sockaddr*>(&device), sizeof device), 0);
    std::string error;
    auto state = devsim::NewDevice(*devsim::ParseTypeName(type), &error);
    ASSERT_TRUE(state) << error;
    devsim::IdentityChanges changes;
    changes.serialNumber = "B-12-9999";
    ASSERT_TRUE(devsim::ApplyChanges(*state, changes, &error)) << error;
    link.ip[0] = 10;
    link.ip[1] = 77;
    link.ip[2] = 1;
    link.ip[3] = 2;
    devsim::SimulatorOptions options;
    options.start = start;
    options.network = link;
    simulator_.emplace(device_, std::move(*state), options);
    ASSERT_TRUE(simulator_->Start(&error)) << error;
  }

  void TearDown() override {
    simulator_.reset();
    for (int fd : {device_, host_}) {
      if (fd >= 0) {
        close(fd);
      }
    }
  }

  // The answer datagram to a request, or nothing within the wait.
  std::optional<Bytes> Ask(const Bytes& request, int waitMs = 1000) {
    if (send(host_, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
      return std::nullopt;
    }
    return Receive(waitMs);
  }

  std::optional<Bytes> Receive(int waitMs) {
    pollfd fd{host_, POLLIN, 0};
    if (poll(&fd, 1, waitMs) != 1) {
      return std::nullopt;
    }
    Bytes answer(2048);
    const ssize_t n = recv(host_, answer.data(), answer.size(), 0);
    if (n < 0) {
      return std::nullopt;
    }
    answer.resize(static_cast<std::size_t>(n));
    return answer;
  }

  int device_ = -1;
  int host_ = -1;
  std::optional<devsim::Simulator> simulator_;
};

const Bytes kDiscovery = {0x05, 0x8F, 0xFF, 0xFF, 0x01, 0x93};
const Bytes kIdentify = {0x04, 0xF0, 0xFF, 0xFF, 0xF2};
const Bytes kMode = {0x04, 0x8A, 0xFF, 0xFF, 0x8C};
const Bytes kShortIdentify = {0x02, 0xF0, 0xF2};
const Bytes kShortMode = {0x02, 0x81, 0x83};

// Where the fields of the answers sit, by the frame layouts; the serial B-12-9999 travels as the
// letter, the group and 9999 as 49 * 200 + 199.
struct AnswerCase {
  const char* name;
  int discoveryLength;
  Bytes request;
  std::size_t size;
  std::vector<std::pair<std::size_t, std::uint8_t>> fields;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
  *os << c.name;
}

const Bytes kSerialBytes = {'B', 12, 49, 199};

class AnswerTest : public NetworkRig, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, OneWholeDatagramWithItsFieldsAndSum) {
  devsim::NetworkLink link;
  link.discoveryLength = GetParam().discoveryLength;
  link.consoleModeByte = 7;
  Start("PXR-FX", link);
  const auto answer = Ask(GetParam().request);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), GetParam().size);
  EXPECT_EQ((*answer)[0], GetParam().size - 1);
  EXPECT_EQ(answer->back(), Sum8(*answer, answer->size() - 1));
  for (const auto& [at, value] : GetParam().fields) {
    EXPECT_EQ((*answer)[at], value) << "byte " << at;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Network, AnswerTest,
    ::testing::Values(
        AnswerCase{"DiscoveryLong",
                   30,
                   kDiscovery,
                   31,
                   {{1, 0x8F},
                    {4, 0x01},
                    {6, 10},
                    {9, 2},
                    {20, 0x94},
                    {23, 'B'},
                    {24, 12},
                    {25, 49},
                    {26, 199},
                    {29, 7}}},
        AnswerCase{"DiscoveryOlderLayout",
                   19,
                   kDiscovery,
                   20,
                   {{1, 0x8F}, {5, 10}, {8, 2}, {9, 0x94}, {12, 'B'}, {15, 199}, {18, 7}}},
        AnswerCase{
            "IdentifyAddressed", 30, kIdentify, 16, {{1, 0xF0}, {4, 0x94}, {11, 'B'}, {14, 199}}},
        AnswerCase{
            "IdentifyShort", 30, kShortIdentify, 14, {{1, 0xF0}, {2, 0x94}, {9, 'B'}, {12, 199}}},
        AnswerCase{"ModeAddressed", 30, kMode, 21, {{1, 0x8A}, {16, 7}}},
        AnswerCase{"ModeShort", 30, kShortMode, 4, {{1, 0x81}, {2, 7}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkRig, OlderDeviceIgnoresTheAddressedRequests) {
  devsim::NetworkLink link;
  link.shortFormsOnly = true;
  Start("PL1-TP", link);
  EXPECT_FALSE(Ask(kIdentify, 300));
  EXPECT_FALSE(Ask(kMode, 300));
  const auto identify = Ask(kShortIdentify);
  ASSERT_TRUE(identify);
  EXPECT_EQ((*identify)[2], 0x10);
}

TEST_F(NetworkRig, DiscoveryAnswerWaitsForItsDelay) {
  devsim::NetworkLink link;
  link.discoveryDelayMs = 200;
  Start("PXR-FX", link);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Ask(kDiscovery, 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
}

// Console mode takes the upgrade code and the jump; only then does the device report the upgrade
// mode and take the access sequence and page frames.
TEST_F(NetworkRig, JumpStartsTheUpgradeCodeWhichThenTakesPages) {
  Start("PXR-FX", devsim::NetworkLink{});
  EXPECT_EQ((*Ask(kShortMode))[2], 0);

  Bytes part(137, 0x5A);
  part[0] = 0x88;
  part[1] = 0x56;
  part[2] = 0xFF;
  part[3] = 0xFF;
  part[4] = 0x00;
  part[5] = 0;  // page
  part[6] = 0;  // part
  part[136] = Sum8(part, 136);
  EXPECT_EQ(Ask(part), (Bytes{0x04, 0x56, 0xFF, 0xFF, 0x58}));
  Bytes jump = {0x08, 0x57, 0xFF, 0xFF, 0xC9, 0x00, 0x01, 0x29, 0};
  jump[8] = Sum8(jump, 8);
  EXPECT_EQ(Ask(jump), (Bytes{0x04, 0x57, 0xFF, 0xFF, 0x59}));
  EXPECT_EQ((*Ask(kShortMode))[2], 254);

  const Bytes access = {0xA5, 0x3C, 0x51, 0xE7, 0x19, 0xB4, 0x6D, 0x02,
                        0xF3, 0x7E, 0x28, 0xC5, 0x90, 0x4B, 0xD6, 0x1F};
  const auto identity = Ask(access);
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->size(), 16u);
  Bytes page(261, 0);
  page[0] = 0x10;
  page[2] = 2;  // word address 2: page 1
  std::uint16_t sum = 0;
  for (int i = 0; i < 256; ++i) {
    page[3 + i] = static_cast<std::uint8_t>(i);
    sum = static_cast<std::uint16_t>(sum + i);
  }
  page[259] = static_cast<std::uint8_t>(sum >> 8);
  page[260] = static_cast<std::uint8_t>(sum);
  const auto ack = Ask(page);
  ASSERT_TRUE(ack);
  EXPECT_EQ(*ack, (Bytes{0x55, static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum),
                         0xFF}));
  EXPECT_EQ(simulator_->Snapshot().LogicPage(1)[255], 255);
}

TEST_F(NetworkRig, ConsoleModeIgnoresPageFrames) {
  Start("PXR-FX", devsim::NetworkLink{});
  Bytes page(261, 0);
  page[0] = 0x10;
  EXPECT_FALSE(Ask(page, 300));
}

}  // namespace
}  // namespace devsim_test
