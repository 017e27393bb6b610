// The host's end of the line in the simulator's tests: a pseudo-terminal pair made here (not by
// the simulator's own helper), bytes written and read the way the upgrade program does it.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace devsim_test {

using Bytes = std::vector<std::uint8_t>;

// Reads that expect an answer wait this long: far above any answer time, so a slow machine
// does not fail a test. Reads that expect silence are short: the device answers in microseconds,
// and a late answer on a loaded machine could only hide a fault, never invent one.
constexpr int kAnswerTimeoutMs = 2000;
constexpr int kSilenceMs = 150;

class HostLine {
 public:
  HostLine();
  ~HostLine();
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;

  int master() const { return master_; }
  const std::string& slavePath() const { return path_; }

  void SetSpeed(speed_t speed);
  void Write(const Bytes& bytes);
  // Whatever arrived within the time-out, at most `count` bytes.
  Bytes Read(std::size_t count, int timeoutMs = kAnswerTimeoutMs);
  // True when nothing at all arrives within `ms`.
  bool Silent(int ms = kSilenceMs);
  void Purge();
  Bytes Exchange(const Bytes& request, std::size_t answer, int timeoutMs = kAnswerTimeoutMs) {
    Purge();
    Write(request);
    return Read(answer, timeoutMs);
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Request builders, written from the wire format independently of the simulator.
Bytes AccessSequence();
Bytes ExitRequest();
Bytes WarmBootRequest();
Bytes PageFrame(std::uint8_t code, std::uint8_t address1, std::uint8_t address2, const Bytes& data);
Bytes LogicPageFrame(std::uint32_t index, const Bytes& data);  // address = index * 2, high first
Bytes ProcessorPageFrame(std::uint32_t index, const Bytes& data);  // address = index, low first
Bytes PageAck(const Bytes& data);                                  // 55, sum16 high, sum16 low, FF
Bytes PagePattern(std::uint32_t seed);
std::uint16_t Sum16(const Bytes& data);
std::uint8_t Sum8(const Bytes& data);

// The host's reading of the serial number field: empty when the third value is not a letter.
std::string DecodeSerial(const std::uint8_t* area);

// A test-name-safe label for a table row: letters and digits, anything else an underscore.
std::string Label(const std::string& text);

double MillisecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace devsim_test
