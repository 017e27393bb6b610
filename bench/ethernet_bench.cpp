// ethernet_bench: the firmware upgrade of a PXR-FX over Ethernet against veltr-devsim, beside a
// raw request-and-answer loop of the same datagrams (261 bytes out, 4 back) over the same veth
// pair, and the time a discovery takes when nobody answers.
//
//   ethernet_bench [--pages N] [--rounds R]
//
// The upgrade and the raw loop take turns, R rounds (5 unless told), each against a freshly
// started simulator; the medians are compared, so that one round slowed by other work on the
// machine does not decide the ratio.
// Needs root: everything runs in the network lab of the tests, two namespaces of its own joined
// by a veth pair, so that the discovery broadcast never leaves the lab. The parts that send run
// this program again inside the lab's host namespace (the --inside-* modes); the outer run only
// makes the lab, starts the simulator and prints. Exit 0 whether the targets were met or not.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/port.h"
#include "engine/app_settings.h"
#include "engine/connection.h"
#include "engine/display.h"
#include "engine/jobs.h"
#include "engine/upgrade_engine.h"
#include "netns/netns_lab.h"
#include "package/package_description.h"
#include "protocol/device_types.h"
#include "protocol/sums.h"
#include "transport/port_ethernet.h"
#include "transport/system_ports.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr const char* kDeviceAddress = "10.77.1.2";
constexpr const char* kTypeName = "PXR-FX";
constexpr uint32_t kLogicLength = 773864;
constexpr uint32_t kPageSize = 256;
constexpr size_t kFrameOut = 261;
constexpr size_t kFrameIn = 4;
constexpr double kTargetRatio = 0.9;
constexpr double kTargetDiscoverySeconds = 0.6;

int Fail(const std::string& why) {
  std::fprintf(stderr, "ethernet_bench: %s\n", why.c_str());
  return 1;
}

std::string Self() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::vector<uint8_t> ImageBytes(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t x = seed;
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<uint8_t>(x);
  }
  return bytes;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// ---- inside the lab's host namespace
// -------------------------------------------------------------

// The logic upload of the firmware upgrade, through the engine and its Ethernet port, timed from
// the first page to the end of the closing record. Prints "pages SECONDS".
int InsideUpgrade(const std::string& folder) {
  veltr::AppSettings settings;
  settings.deviceType = veltr::PXRFX;
  settings.autoselect = 0;
  settings.selectDialog = 0;
  settings.port = veltr::kPortEthernet;
  settings.uploadLogic = 1;
  settings.uploadProcessor = 0;
  settings.uploadBios = 0;
  veltr::PackageVersionTable package;
  veltr::LoadPackageDescription(folder + "/VeltrUpgrade.ini", package);
  veltr::IVeltrDisplay display;
  veltr::UpgradeEngine engine(veltr::MakeSystemPorts(veltr::CVeltrPortMap{}));
  veltr::JobRequest request = veltr::RequestFrom(settings);
  request.chosenEthernetDevice = kDeviceAddress;
  engine.SetRequest(request);
  engine.SetDisplay(&display);
  engine.SetSettings(&settings);
  engine.SetPackage(&package);
  engine.SetWorkingFolder(folder);
  if (!veltr::Search(engine)) {
    return Fail(std::string("no connection to the simulator at ") + kDeviceAddress);
  }
  const Clock::time_point start = Clock::now();
  veltr::FirmwareBody(engine);
  const double seconds = Seconds(Clock::now() - start).count();
  if (!engine.job.Succeeded()) {
    return Fail("the upgrade failed: " +
                veltr::FailureText(veltr::FirmwareUpgrade, engine.job.WorkResult()));
  }
  std::printf("%u %.6f\n", (kLogicLength + kPageSize - 1) / kPageSize, seconds);
  return 0;
}

// Logic page frames straight to a device already in program mode, each waiting for its 4-byte
// answer: the floor the network and the simulator set. Prints "pages SECONDS".
int InsideRawLoop(uint32_t pages) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  sockaddr_in device{};
  device.sin_family = AF_INET;
  device.sin_port = htons(veltr::kDeviceUdpPort);
  inet_pton(AF_INET, kDeviceAddress, &device.sin_addr);
  timeval timeout{1, 0};
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&device), sizeof device) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
    return Fail("cannot connect a socket to the simulator");
  }
  const std::vector<uint8_t> image = ImageBytes(size_t{pages} * kPageSize, 0x2F6B1D3Bu);
  uint8_t frame[kFrameOut];
  uint8_t answer[64];
  const Clock::time_point start = Clock::now();
  for (uint32_t page = 0; page < pages; ++page) {
    const uint32_t word = page * 2;  // the logic PROM counts 16-bit words, high byte first
    frame[0] = 0x10;
    frame[1] = static_cast<uint8_t>(word >> 8);
    frame[2] = static_cast<uint8_t>(word);
    std::memcpy(frame + 3, image.data() + size_t{page} * kPageSize, kPageSize);
    const uint16_t sum = veltr::Sum16(frame + 3, kPageSize);
    frame[259] = static_cast<uint8_t>(sum >> 8);
    frame[260] = static_cast<uint8_t>(sum);
    if (send(fd, frame, sizeof frame, 0) != static_cast<ssize_t>(sizeof frame) ||
        recv(fd, answer, sizeof answer, 0) != static_cast<ssize_t>(kFrameIn)) {
      close(fd);
      return Fail("the raw loop lost its answer at page " + std::to_string(page));
    }
  }
  const double seconds = Seconds(Clock::now() - start).count();
  close(fd);
  std::printf("%u %.6f\n", pages, seconds);
  return 0;
}

// One discovery on the Ethernet port with nobody to answer. Prints "0 SECONDS".
int InsideDiscovery() {
  veltr::CVeltrPortEthernet port;
  veltr::PortSettings settings;
  settings.name = "Ethernet";
  settings.udpPort = veltr::kDeviceUdpPort;
  const Clock::time_point start = Clock::now();
  const veltr::ConnectResult result = port.Open(settings);
  const double seconds = Seconds(Clock::now() - start).count();
  if (result != veltr::ConnectResult::NoDeviceFound) {
    return Fail("a discovery in the empty lab found something");
  }
  std::printf("0 %.6f\n", seconds);
  return 0;
}

// ---- outside: the lab and the report
// ---------------------------------------------------------------

struct Measured {
  bool ok = false;
  double count = 0;
  double seconds = 0;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

Measured RunInside(veltr::netns::NetnsLab& lab, const std::vector<std::string>& args) {
  const auto r = lab.RunOnHost(Self(), args);
  Measured m;
  if (r.exitCode != 0 || std::sscanf(r.out.c_str(), "%lf %lf", &m.count, &m.seconds) != 2) {
    std::fprintf(stderr, "%s%s", r.out.c_str(), r.err.c_str());
    return m;
  }
  m.ok = true;
  return m;
}

bool StartDevice(veltr::netns::NetnsLab& lab, veltr::e2e::SimulatorProcess& sim,
                 const std::string& start) {
  return lab.StartOnDevices(
      sim, std::filesystem::path(Self()).parent_path() / "veltr-devsim",
      {"--udp", kDeviceAddress, "--type", kTypeName, "--uploader", "108", "--start", start});
}

int Outside(uint32_t rawPages, int rounds) {
  veltr::netns::NetnsLab lab;
  std::string why;
  if (!lab.Make(&why)) {
    return Fail(why);
  }
  if (!lab.AddDeviceAddress(std::string(kDeviceAddress) + "/24")) {
    return Fail("cannot give the simulator its address");
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "ethernet_bench.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    return Fail("cannot make a package folder");
  }
  const std::filesystem::path folder = pattern;
  WriteFile(folder / "VeltrUpgrade.ini",
            std::vector<uint8_t>{'[', 'P', 'X', 'R', '-', 'F', 'X', ']', '\n', 'V', 'e',
                                 'r', 's', 'i', 'o', 'n', '=', '2', '1', '3',  '\n'});
  WriteFile(folder / "ppxx1213.sop", ImageBytes(kLogicLength, 0x2F6B1D3Bu));
  WriteFile(folder / "Build.txt", std::vector<uint8_t>{'B', 'e', 'n', 'c', 'h'});

  std::vector<double> upgradeRates;
  std::vector<double> rawRates;
  std::vector<double> discoveries;
  bool ok = true;
  for (int round = 0; round < rounds && ok; ++round) {
    Measured upgrade;
    Measured raw;
    {
      // The upgrade code runs already: the upload alone is timed.
      veltr::e2e::SimulatorProcess sim;
      if (StartDevice(lab, sim, "loader")) {
        upgrade = RunInside(lab, {"--inside-upgrade", folder.string()});
      }
    }
    {
      veltr::e2e::SimulatorProcess sim;
      if (StartDevice(lab, sim, "program")) {
        raw = RunInside(lab, {"--inside-raw", std::to_string(rawPages)});
      }
    }
    const Measured discovery = RunInside(lab, {"--inside-discovery"});
    ok = upgrade.ok && raw.ok && discovery.ok;
    if (ok) {
      upgradeRates.push_back(upgrade.count / upgrade.seconds);
      rawRates.push_back(raw.count / raw.seconds);
      discoveries.push_back(discovery.seconds);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!ok) {
    return Fail("a run inside the lab failed");
  }

  const double upgradeRate = Median(upgradeRates);
  const double rawRate = Median(rawRates);
  const double ratio = upgradeRate / rawRate;
  const double discovery = Median(discoveries);
  std::printf(
      "ethernet_bench: %s over a veth pair in the network lab, veltr-devsim at %s, "
      "%d rounds, medians\n",
      kTypeName, kDeviceAddress, rounds);
  std::printf("  upgrade (engine)  %u logic pages  %8.1f pages/s  (range %.1f to %.1f)\n",
              (kLogicLength + kPageSize - 1) / kPageSize, upgradeRate,
              *std::min_element(upgradeRates.begin(), upgradeRates.end()),
              *std::max_element(upgradeRates.begin(), upgradeRates.end()));
  std::printf("  raw loop          %u pages        %8.1f pages/s  (range %.1f to %.1f)\n", rawPages,
              rawRate, *std::min_element(rawRates.begin(), rawRates.end()),
              *std::max_element(rawRates.begin(), rawRates.end()));
  std::printf("  ratio             %.3f (target >= %.1f) %s\n", ratio, kTargetRatio,
              ratio >= kTargetRatio ? "met" : "NOT met");
  std::printf("  discovery, no device  %.3f s (target <= %.1f s) %s\n", discovery,
              kTargetDiscoverySeconds, discovery <= kTargetDiscoverySeconds ? "met" : "NOT met");
  return 0;
}

}  // namespace

// The inside modes send to the network (the discovery broadcasts): started by hand in the
// machine's own namespace they would reach the real network, so they run only where the lab's
// interfaces are the only ones (the loopback and the lab's veth), and never in init's namespace.
bool InALabNamespace() {
  struct stat own {};
  struct stat machine {};
  if (stat("/proc/self/ns/net", &own) == 0 && stat("/proc/1/ns/net", &machine) == 0 &&
      own.st_ino == machine.st_ino) {
    return false;
  }
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return false;
  }
  bool onlyLab = true;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    const std::string name = entry->ifa_name != nullptr ? entry->ifa_name : "";
    if (name != "lo" && name.rfind("vlab", 0) != 0) {
      onlyLab = false;
    }
  }
  freeifaddrs(list);
  return onlyLab;
}

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0].rfind("--inside-", 0) == 0 && !InALabNamespace()) {
    return Fail("refusing " + args[0] + ": not inside a network lab namespace");
  }
  if (args.size() == 2 && args[0] == "--inside-upgrade") {
    return InsideUpgrade(args[1]);
  }
  if (args.size() == 2 && args[0] == "--inside-raw") {
    return InsideRawLoop(static_cast<uint32_t>(std::strtoul(args[1].c_str(), nullptr, 10)));
  }
  if (args.size() == 1 && args[0] == "--inside-discovery") {
    return InsideDiscovery();
  }
  uint32_t pages = (kLogicLength + kPageSize - 1) / kPageSize;
  int rounds = 5;
  for (size_t i = 0; i < args.size(); i += 2) {
    const long value = i + 1 < args.size() ? std::strtol(args[i + 1].c_str(), nullptr, 10) : 0;
    if (args[i] == "--pages" && value > 0) {
      pages = static_cast<uint32_t>(value);
    } else if (args[i] == "--rounds" && value > 0) {
      rounds = static_cast<int>(value);
    } else {
      std::fprintf(stderr, "usage: ethernet_bench [--pages N] [--rounds R]\n");
      return 64;
    }
  }
  return Outside(pages, rounds);
}
