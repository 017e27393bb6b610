#include "transport/port_ethernet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "fake_network.h"
#include "transport/device_identity.h"

namespace veltr {
namespace {

using test::Bytes;
using test::FakeNetwork;
using Clock = std::chrono::steady_clock;

const Bytes kDiscoveryRequest = {0x05, 0x8F, 0xFF, 0xFF, 0x01, 0x93};
const Bytes kIdentifyAddressedRequest(std::begin(kIdentifyAddressed), std::end(kIdentifyAddressed));
const Bytes kIdentifyShortRequest(std::begin(kIdentifyShort), std::end(kIdentifyShort));
const Bytes kModeAddressedRequest(std::begin(kModeAddressed), std::end(kModeAddressed));
const Bytes kModeShortRequest(std::begin(kModeShort), std::end(kModeShort));

void Seal(Bytes& frame) {
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    sum = static_cast<uint8_t>(sum + frame[i]);
  }
  frame.back() = sum;
}

struct Identity {
  uint8_t code;
  uint8_t variant;
  uint8_t serial[4];  // letter, number, high, low
  uint8_t modeByte;
};

// The device's discovery answer in its 20-byte (older) or 31-byte (newer) layout. The bytes no
// field uses are filled with a pattern so that a field read from the wrong place shows.
Bytes DiscoveryAnswerBytes(bool longLayout, const uint8_t (&ip)[4], const Identity& id) {
  const size_t length = longLayout ? 30 : 19;
  Bytes f(length + 1);
  for (size_t i = 0; i < f.size(); ++i) {
    f[i] = static_cast<uint8_t>(0xA0 + i);
  }
  f[0] = static_cast<uint8_t>(length);
  f[1] = 0x8F;
  f[2] = 0xFF;
  f[3] = 0xFF;
  f[4] = 0x01;
  const size_t ipAt = longLayout ? 6 : 5;
  const size_t codeAt = longLayout ? 20 : 9;
  const size_t serialAt = longLayout ? 23 : 12;
  std::memcpy(&f[ipAt], ip, 4);
  f[codeAt] = id.code;
  f[codeAt + 1] = id.variant;
  std::memcpy(&f[serialAt], id.serial, 4);
  f[longLayout ? 29 : 18] = id.modeByte;
  Seal(f);
  return f;
}

Bytes IdentifyAnswer(bool addressed, const Identity& id) {
  Bytes f(addressed ? 16 : 14, 0x5A);
  f[0] = static_cast<uint8_t>(f.size() - 1);
  const size_t codeAt = addressed ? 4 : 2;
  f[codeAt] = id.code;
  f[codeAt + 1] = id.variant;
  std::memcpy(&f[addressed ? 11 : 9], id.serial, 4);
  Seal(f);
  return f;
}

Bytes ModeAnswer(bool addressed, uint8_t modeByte) {
  Bytes f(addressed ? 21 : 4, 0x5A);
  f[0] = static_cast<uint8_t>(f.size() - 1);
  f[addressed ? 16 : 2] = modeByte;
  Seal(f);
  return f;
}

Bytes CutShort(Bytes frame) {
  frame.pop_back();
  return frame;
}

void Fill(CVeltrBuffer& buffer, const Bytes& bytes) {
  ASSERT_TRUE(buffer.Resize(static_cast<uint32_t>(bytes.size())));
  std::memcpy(buffer.At(0), bytes.data(), bytes.size());
}

Bytes Contents(const CVeltrBuffer& buffer) {
  return Bytes(buffer.At(0), buffer.At(0) + buffer.GetSize());
}

PortSettings EthernetSettings(const std::string& address, uint16_t udpPort = kDeviceUdpPort) {
  PortSettings settings;
  settings.name = "Ethernet";
  settings.address = address;
  settings.udpPort = udpPort;
  return settings;
}

// ---- Discovery answers, layout by layout -------------------------------------------------

constexpr Identity kMt10InUpgrade = {0x50, 0xFF, {'A', 7, 3, 25}, 254};
constexpr Identity kFxRackVariant6 = {0x94, 6, {'B', 12, 49, 199}, 4};
constexpr Identity kVr2ByNumber = {0x91, 0, {'C', 47, 0, 1}, 0};

struct AnswerCase {
  const char* name;
  bool longLayout;
  Identity identity;
  std::function<void(Bytes&)> damage;  // null for an intact answer
  bool accepted;
  DeviceType type = kNoDeviceType;
  const char* serial = "";
  int32_t mode = -1;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
  *os << c.name;
}

class DiscoveryAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(DiscoveryAnswerTest, DecodesOnlyWholeAnswersWithTheirOwnFields) {
  const AnswerCase& c = GetParam();
  Bytes f = DiscoveryAnswerBytes(c.longLayout, {192, 168, 7, 201}, c.identity);
  if (c.damage) {
    c.damage(f);
  }
  std::optional<DiscoveryAnswer> answer =
      DecodeDiscoveryAnswer(f.data(), static_cast<long>(f.size()));
  ASSERT_EQ(answer.has_value(), c.accepted);
  if (!c.accepted) {
    return;
  }
  EXPECT_EQ(IpText(answer->ip), "192.168.7.201");
  EXPECT_EQ(answer->type, c.type);
  EXPECT_EQ(answer->serialNumber, c.serial);
  EXPECT_EQ(answer->mode, c.mode);
}

void ResealAfter(Bytes& f, size_t index, uint8_t value) {
  f[index] = value;
  Seal(f);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DiscoveryAnswerTest,
    ::testing::Values(
        AnswerCase{"ShortLayout", false, kMt10InUpgrade, nullptr, true, 5, "A07-0625", 5},
        AnswerCase{"LongLayout", true, kMt10InUpgrade, nullptr, true, 5, "A07-0625", 5},
        AnswerCase{"ShortLayoutVariantByte", false, kFxRackVariant6, nullptr, true, 28, "B12-9999",
                   2},
        AnswerCase{"LongLayoutVariantByte", true, kFxRackVariant6, nullptr, true, 28, "B12-9999",
                   2},
        AnswerCase{"ShortLayoutNumberByte", false, kVr2ByNumber, nullptr, true, 30, "C47-0001", 0},
        AnswerCase{"LongLayoutNumberByte", true, kVr2ByNumber, nullptr, true, 30, "C47-0001", 0},
        AnswerCase{"WrongSum", false, kMt10InUpgrade, [](Bytes& f) { f.back() ^= 1; }, false},
        AnswerCase{"WrongSumLong", true, kMt10InUpgrade, [](Bytes& f) { f.back() ^= 1; }, false},
        AnswerCase{"OtherCode", false, kMt10InUpgrade, [](Bytes& f) { ResealAfter(f, 1, 0x8E); },
                   false},
        AnswerCase{"OtherPayloadByte", true, kMt10InUpgrade,
                   [](Bytes& f) { ResealAfter(f, 4, 0x02); }, false},
        AnswerCase{"OtherLength", false, kMt10InUpgrade, [](Bytes& f) { ResealAfter(f, 0, 20); },
                   false},
        AnswerCase{"CutShortByOneByte", false, kMt10InUpgrade, [](Bytes& f) { f.pop_back(); },
                   false},
        AnswerCase{"LongCutToShortLength", true, kMt10InUpgrade, [](Bytes& f) { f.resize(20); },
                   false},
        AnswerCase{"OwnRequest", false, kMt10InUpgrade, [](Bytes& f) { f = kDiscoveryRequest; },
                   false}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

// ---- Discovery through the in-process network --------------------------------------------

NetInterface Interface(const char* name, const uint8_t (&ip)[4], const uint8_t (&mask)[4],
                       bool up = true, bool loopback = false) {
  NetInterface item;
  item.name = name;
  item.up = up;
  item.loopback = loopback;
  item.address = IpFromOctets(ip[0], ip[1], ip[2], ip[3]);
  item.netmask = IpFromOctets(mask[0], mask[1], mask[2], mask[3]);
  return item;
}

class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() {
    network_.interfaces = std::vector<NetInterface>{
        Interface("lo", {127, 0, 0, 1}, {255, 0, 0, 0}, true, true),
        Interface("eth0", {10, 0, 0, 1}, {255, 255, 255, 0}),
    };
  }
  ConnectResult Discover() { return port_.Open(EthernetSettings("")); }

  FakeNetwork network_;
  CVeltrPortEthernet port_{network_};
};

TEST_F(DiscoveryTest, BroadcastsTheRequestFromTheDevicePortToEveryHost) {
  EXPECT_EQ(Discover(), ConnectResult::NoDeviceFound);
  const UdpAddress destination = CVeltrPortEthernet::DiscoveryDestination(kDeviceUdpPort);
  EXPECT_EQ(IpText(destination.ip), "255.255.255.255");
  EXPECT_EQ(destination.port, 7890);

  ASSERT_FALSE(network_.sockets.empty());
  const FakeNetwork::Record& socket = *network_.sockets.front();
  EXPECT_TRUE(socket.broadcast);
  EXPECT_EQ(socket.boundPort, std::optional<uint16_t>(7890));
  ASSERT_EQ(socket.sent.size(), 1u);
  EXPECT_EQ(socket.sent[0].bytes, kDiscoveryRequest);
  EXPECT_EQ(socket.sent[0].to.ip, destination.ip);
  EXPECT_EQ(socket.sent[0].to.port, destination.port);
  EXPECT_TRUE(socket.closed) << "a discovery ends with its socket closed";
  EXPECT_TRUE(port_.FoundDevices().empty());
}

TEST_F(DiscoveryTest, ListsDevicesInAnswerOrderWithTheirReachability) {
  network_.discoveryAnswers = {
      kDiscoveryRequest,  // the bound socket hears its own broadcast
      DiscoveryAnswerBytes(false, {10, 0, 0, 20}, kMt10InUpgrade),
      // The same answer cut short: a receive buffer kept from the whole one would complete it.
      CutShort(DiscoveryAnswerBytes(false, {10, 0, 0, 20}, kMt10InUpgrade)),
      DiscoveryAnswerBytes(true, {10, 0, 7, 30}, kFxRackVariant6),  // outside eth0's subnet
      DiscoveryAnswerBytes(false, {10, 0, 0, 40}, kVr2ByNumber),    // connect refused
      DiscoveryAnswerBytes(true, {10, 0, 0, 50}, kVr2ByNumber),
  };
  network_.unreachable = {IpFromOctets(10, 0, 0, 40)};

  EXPECT_EQ(Discover(), ConnectResult::SelectionRequired);
  const std::vector<FoundDevice> found = port_.FoundDevices();
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].address, "10.0.0.20");
  EXPECT_EQ(found[0].serialNumber, "A07-0625");
  EXPECT_EQ(found[0].type, 5);
  EXPECT_EQ(found[0].mode, 5);
  EXPECT_EQ(found[0].status, kDeviceOk);
  EXPECT_EQ(found[1].address, "10.0.7.30");
  EXPECT_EQ(found[1].type, 28);
  EXPECT_EQ(found[1].status, kDeviceNotReachable);
  EXPECT_EQ(found[2].address, "10.0.0.40");
  EXPECT_EQ(found[2].status, kDeviceNotReachable);
  EXPECT_EQ(found[3].address, "10.0.0.50");
  EXPECT_EQ(found[3].status, kDeviceOk);
  EXPECT_STREQ(DeviceStatusText(found[1].status), "Not reachable");

  // The reachability probes connect and send nothing; only the broadcast was ever sent.
  EXPECT_EQ(network_.AllSent().size(), 1u);
  for (const auto& socket : network_.sockets) {
    EXPECT_TRUE(socket->closed);
  }
}

TEST_F(DiscoveryTest, OnlyAnInterfaceThatIsUpNotLoopbackAndOwnsTheLocalAddressCounts) {
  const uint32_t device = IpFromOctets(10, 0, 0, 20);
  network_.discoveryAnswers = {DiscoveryAnswerBytes(false, {10, 0, 0, 20}, kMt10InUpgrade)};

  // The matching interface is down.
  network_.interfaces =
      std::vector<NetInterface>{Interface("eth0", {10, 0, 0, 1}, {255, 255, 255, 0}, false)};
  EXPECT_EQ(Discover(), ConnectResult::SelectionRequired);
  EXPECT_EQ(port_.FoundDevices().at(0).status, kDeviceNotReachable);

  // The system chose a local address that no interface holds.
  network_.interfaces =
      std::vector<NetInterface>{Interface("eth0", {10, 0, 0, 1}, {255, 255, 255, 0})};
  network_.localAddressFor[device] = IpFromOctets(10, 0, 0, 9);
  EXPECT_EQ(Discover(), ConnectResult::SelectionRequired);
  EXPECT_EQ(port_.FoundDevices().at(0).status, kDeviceNotReachable);

  // A loopback interface with that address does not count either.
  network_.interfaces =
      std::vector<NetInterface>{Interface("lo", {10, 0, 0, 9}, {255, 0, 0, 0}, true, true)};
  EXPECT_EQ(Discover(), ConnectResult::SelectionRequired);
  EXPECT_EQ(port_.FoundDevices().at(0).status, kDeviceNotReachable);

  // Without an interface list the device is given the benefit of the doubt.
  network_.interfaces.reset();
  EXPECT_EQ(Discover(), ConnectResult::SelectionRequired);
  ASSERT_EQ(port_.FoundDevices().size(), 1u) << "each discovery starts a fresh list";
  EXPECT_EQ(port_.FoundDevices().at(0).status, kDeviceOk);
}

TEST_F(DiscoveryTest, AnotherProgramOnTheDevicePortIsAPortErrorNotAnEmptyNetwork) {
  network_.bindErrno = EADDRINUSE;
  EXPECT_EQ(Discover(), ConnectResult::PortNotAvailable);
  EXPECT_NE(port_.LastError().find("7890 is in use by another program"), std::string::npos)
      << port_.LastError();
  EXPECT_TRUE(network_.AllSent().empty());
}

// ---- Connecting by address ----------------------------------------------------------------

struct NameCase {
  const char* name;
  const char* address;
  bool lookedUp;
  const char* connectedTo;  // null: the connection is refused
  const char* error = "";   // what LastError says then
};

void PrintTo(const NameCase& c, std::ostream* os) {
  *os << c.name;
}

class AddressTextTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(AddressTextTest, OnlyATextStartingWithALetterIsLookedUpAsAName) {
  const NameCase& c = GetParam();
  FakeNetwork network;
  network.hosts["stagebox"] = IpFromOctets(10, 0, 0, 77);
  network.hosts["1stagebox"] = IpFromOctets(10, 0, 0, 78);
  network.hosts["10.0.0.300"] = IpFromOctets(10, 0, 0, 79);
  network.unreachable = {IpFromOctets(10, 9, 9, 9)};
  CVeltrPortEthernet port(network);

  const ConnectResult result = port.Open(EthernetSettings(c.address));

  EXPECT_EQ(!network.lookedUp.empty(), c.lookedUp);
  if (c.connectedTo == nullptr) {
    EXPECT_EQ(result, ConnectResult::PortNotAvailable);
    EXPECT_EQ(port.LastError(), c.error);
    EXPECT_TRUE(network.AllSent().empty());
    return;
  }
  ASSERT_FALSE(network.sockets.empty());
  ASSERT_TRUE(network.sockets.front()->connectedTo.has_value());
  EXPECT_EQ(IpText(network.sockets.front()->connectedTo->ip), c.connectedTo);
  EXPECT_EQ(network.sockets.front()->connectedTo->port, 7890);
}

INSTANTIATE_TEST_SUITE_P(
    Names, AddressTextTest,
    ::testing::Values(NameCase{"DottedAddress", "10.0.0.5", false, "10.0.0.5"},
                      NameCase{"HostName", "stagebox", true, "10.0.0.77"},
                      NameCase{"UnknownHostName", "nobox", true, nullptr,
                               "the host name \"nobox\" is not known"},
                      NameCase{"MistypedAddress", "10.0.0.300", false, nullptr,
                               "\"10.0.0.300\" is not a dotted IPv4 address"},
                      NameCase{"DigitFirstName", "1stagebox", false, nullptr,
                               "\"1stagebox\" is not a dotted IPv4 address"},
                      NameCase{"UnreachableAddress", "10.9.9.9", false, nullptr,
                               "cannot reach 10.9.9.9: Network is unreachable"},
                      NameCase{"TrailingText", "10.0.0.5x", false, nullptr,
                               "\"10.0.0.5x\" is not a dotted IPv4 address"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

// Which identification sequence a device answers, and what the port makes of it.
struct IdentifyCase {
  const char* name;
  bool answersAddressedIdentify;
  bool answersAddressedMode;
  bool answersShort;
  ConnectResult result;
  DeviceType type;
  const char* serial;
  int32_t mode;
};

void PrintTo(const IdentifyCase& c, std::ostream* os) {
  *os << c.name;
}

class IdentifySequenceTest : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(IdentifySequenceTest, FallsBackToTheShortSequenceAsAWhole) {
  const IdentifyCase& c = GetParam();
  // Distinct identities per form show which answer the port decoded.
  const Identity addressed = {0x50, 0xFF, {'A', 7, 3, 25}, 254};
  const Identity shortForm = {0x91, 0, {'C', 47, 0, 1}, 7};
  FakeNetwork network;
  std::vector<Bytes> requests;
  network.device = [&](const Bytes& request) -> std::vector<Bytes> {
    requests.push_back(request);
    if (request == kIdentifyAddressedRequest && c.answersAddressedIdentify) {
      return {IdentifyAnswer(true, addressed)};
    }
    if (request == kModeAddressedRequest && c.answersAddressedMode) {
      return {ModeAnswer(true, addressed.modeByte)};
    }
    if (request == kIdentifyShortRequest && c.answersShort) {
      return {IdentifyAnswer(false, shortForm)};
    }
    if (request == kModeShortRequest && c.answersShort) {
      return {ModeAnswer(false, shortForm.modeByte)};
    }
    return {};
  };
  CVeltrPortEthernet port(network);

  EXPECT_EQ(port.Open(EthernetSettings("10.0.0.5")), c.result);
  EXPECT_EQ(port.GetDeviceType(), c.type);
  EXPECT_EQ(port.GetMode(), c.mode);
  EXPECT_EQ(port.GetSerialNumber(), c.serial);
  if (c.result != ConnectResult::Connected) {
    // Three attempts of each identify request, nothing else, and the socket closed again.
    EXPECT_EQ(requests, (std::vector<Bytes>{kIdentifyAddressedRequest, kIdentifyAddressedRequest,
                                            kIdentifyAddressedRequest, kIdentifyShortRequest,
                                            kIdentifyShortRequest, kIdentifyShortRequest}));
    EXPECT_TRUE(network.sockets.front()->closed);
    CVeltrBuffer frame;
    Fill(frame, {0x01});
    EXPECT_FALSE(port.Write(frame));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, IdentifySequenceTest,
    ::testing::Values(IdentifyCase{"AddressedDevice", true, true, false, ConnectResult::Connected,
                                   5, "A07-0625", 5},
                      IdentifyCase{"ShortOnlyDevice", false, false, true, ConnectResult::Connected,
                                   30, "C47-0001", 3},
                      // The short identify answer replaces what the addressed one said.
                      IdentifyCase{"AddressedModeUnanswered", true, false, true,
                                   ConnectResult::Connected, 30, "C47-0001", 3},
                      IdentifyCase{"SilentDevice", false, false, false,
                                   ConnectResult::BrokenConnection, -1, "", -1}),
    [](const ::testing::TestParamInfo<IdentifyCase>& info) {
      return std::string(info.param.name);
    });

// ---- A real socket on the loopback interface --------------------------------------------

// A device stand-in on 127.0.0.1: answers each datagram with what handler returns.
class LoopbackResponder {
 public:
  using Handler = std::function<std::vector<Bytes>(const Bytes&)>;

  explicit LoopbackResponder(Handler handler, uint16_t port = 0) : handler_(std::move(handler)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = htons(port);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    socklen_t length = sizeof local;
    if (bound_ && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
      port_ = ntohs(local.sin_port);
    }
    if (bound_ && handler_) {
      thread_ = std::thread([this] { Serve(); });
    }
  }
  ~LoopbackResponder() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  bool Bound() const { return bound_; }
  uint16_t Port() const { return port_; }
  std::vector<Bytes> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd poller{fd_, POLLIN, 0};
      if (::poll(&poller, 1, 50) <= 0) {
        continue;
      }
      uint8_t data[512];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          ::recvfrom(fd_, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) {
        continue;
      }
      const Bytes request(data, data + n);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      for (const Bytes& answer : handler_(request)) {
        ::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
      }
    }
  }

  Handler handler_;
  int fd_ = -1;
  bool bound_ = false;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

// Identifies as an MT10 in its upgrade code and echoes every other frame.
std::vector<Bytes> Mt10Device(const Bytes& request) {
  if (request == kIdentifyAddressedRequest) {
    return {IdentifyAnswer(true, kMt10InUpgrade)};
  }
  if (request == kModeAddressedRequest) {
    return {ModeAnswer(true, kMt10InUpgrade.modeByte)};
  }
  return {request};
}

TEST(EthernetLoopbackTest, ConnectsByAddressAndExchangesOneFramePerDatagram) {
  LoopbackResponder device(Mt10Device);
  ASSERT_TRUE(device.Bound());
  CVeltrPortEthernet port;

  ASSERT_EQ(port.Open(EthernetSettings("127.0.0.1", device.Port())), ConnectResult::Connected)
      << port.LastError();
  EXPECT_EQ(port.GetDeviceType(), 5);
  EXPECT_EQ(port.GetMode(), kModeUpgradeCode);
  EXPECT_EQ(port.GetSerialNumber(), "A07-0625");
  EXPECT_TRUE(port.SetTimeout(2000));

  CVeltrBuffer frame;
  Fill(frame, {0x03, 0x85, 0x01, 0x89});
  ASSERT_TRUE(port.Write(frame));
  CVeltrBuffer answer;
  ASSERT_TRUE(answer.Resize(4));
  ASSERT_TRUE(port.Read(answer));
  EXPECT_EQ(Contents(answer), Contents(frame));

  // A datagram of another length than the one expected is no answer, whole or cut.
  Fill(frame, Bytes(21, 0x11));
  ASSERT_TRUE(port.Write(frame));
  ASSERT_TRUE(answer.Resize(4));
  EXPECT_FALSE(port.Read(answer));

  const std::vector<Bytes> requests = device.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0], kIdentifyAddressedRequest);
  EXPECT_EQ(requests[1], kModeAddressedRequest);

  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.Write(frame));
  EXPECT_FALSE(port.Read(answer));
  EXPECT_FALSE(port.SetTimeout(100));
}

// A datagram that came twice, or an answer that came after its time-out, waits on the socket
// when the next request goes out: it is thrown away then, so each answer is read with its own
// request instead of one behind.
TEST(EthernetLoopbackTest, ADuplicatedAnswerIsNotReadAsTheAnswerToTheNextFrame) {
  LoopbackResponder device([](const Bytes& request) {
    return request.size() == 4 ? std::vector<Bytes>{request, request} : Mt10Device(request);
  });
  ASSERT_TRUE(device.Bound());
  CVeltrPortEthernet port;
  ASSERT_EQ(port.Open(EthernetSettings("127.0.0.1", device.Port())), ConnectResult::Connected);
  ASSERT_TRUE(port.SetTimeout(2000));

  CVeltrBuffer answer;
  ASSERT_TRUE(answer.Resize(4));
  for (uint8_t page : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
    CVeltrBuffer frame;
    Fill(frame, {0x03, 0x85, page, static_cast<uint8_t>(0x88 + page)});
    ASSERT_TRUE(port.Write(frame));
    ASSERT_TRUE(port.Read(answer));
    EXPECT_EQ(Contents(answer), Contents(frame)) << "frame " << int{page};
    // Lets the second copy arrive before the next request goes out.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TEST(EthernetLoopbackTest, ASilentDeviceCostsSixHalfSecondAttemptsThenTheSocketCloses) {
  LoopbackResponder device([](const Bytes&) { return std::vector<Bytes>{}; });
  ASSERT_TRUE(device.Bound());
  CVeltrPortEthernet port;

  const Clock::time_point start = Clock::now();
  EXPECT_EQ(port.Open(EthernetSettings("127.0.0.1", device.Port())),
            ConnectResult::BrokenConnection);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(seconds, 2.8) << "six attempts of 500 ms each";
  EXPECT_LT(seconds, 30.0);
  EXPECT_EQ(device.Requests().size(), 6u);

  CVeltrBuffer frame;
  Fill(frame, {0x01});
  EXPECT_FALSE(port.Write(frame)) << "the socket is closed after a failed identification";
}

TEST(EthernetLoopbackTest, ReadTimesOutAfterTheTimeoutSet) {
  LoopbackResponder device([](const Bytes& request) {
    return request.size() == 1 ? std::vector<Bytes>{} : Mt10Device(request);
  });
  ASSERT_TRUE(device.Bound());
  CVeltrPortEthernet port;
  ASSERT_EQ(port.Open(EthernetSettings("127.0.0.1", device.Port())), ConnectResult::Connected);
  ASSERT_TRUE(port.SetTimeout(300));

  CVeltrBuffer frame;
  Fill(frame, {0x01});
  ASSERT_TRUE(port.Write(frame));
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(port.Read(frame));
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 10000);
}

// Never lets a datagram leave: a discovery on the real system stops at the send.
class NoSendNetwork final : public IVeltrNetwork {
 public:
  std::unique_ptr<IVeltrUdpSocket> MakeSocket() override {
    std::unique_ptr<IVeltrUdpSocket> real = SystemNetwork().MakeSocket();
    return real ? std::make_unique<Socket>(std::move(real), sends) : nullptr;
  }
  std::optional<std::vector<NetInterface>> LocalInterfaces() override { return std::nullopt; }
  std::optional<uint32_t> LookUpHost(const std::string&) override { return std::nullopt; }

  int sends = 0;

 private:
  class Socket final : public IVeltrUdpSocket {
   public:
    Socket(std::unique_ptr<IVeltrUdpSocket> real, int& sends)
        : real_(std::move(real)), sends_(sends) {}
    bool EnableBroadcast() override { return true; }  // never asks the system for it
    bool Bind(uint16_t port) override { return real_->Bind(port); }
    bool Connect(const UdpAddress&) override { return false; }
    bool SetReceiveTimeout(uint32_t ms) override { return real_->SetReceiveTimeout(ms); }
    long Send(const uint8_t*, uint32_t) override { return ++sends_, -1; }
    long SendTo(const uint8_t*, uint32_t, const UdpAddress&) override { return ++sends_, -1; }
    long Receive(uint8_t*, uint32_t) override { return -1; }
    void DiscardPending() override {}
    std::optional<uint32_t> LocalAddress() override { return std::nullopt; }
    int LastErrno() const override { return real_->LastErrno(); }

   private:
    std::unique_ptr<IVeltrUdpSocket> real_;
    int& sends_;
  };
};

TEST(EthernetLoopbackTest, DiscoveryWhileAnotherProgramHoldsTheDevicePortNamesTheProgram) {
  // Whoever holds 7890 on 127.0.0.1 (this test, or another program already) keeps the port's
  // bind on any address from succeeding.
  LoopbackResponder other(nullptr, kDeviceUdpPort);
  NoSendNetwork network;
  CVeltrPortEthernet port(network);

  EXPECT_EQ(port.Open(EthernetSettings("")), ConnectResult::PortNotAvailable);
  EXPECT_EQ(port.LastError(), "UDP port 7890 is in use by another program");
  EXPECT_EQ(network.sends, 0);
  EXPECT_TRUE(port.FoundDevices().empty());
}

}  // namespace
}  // namespace veltr
