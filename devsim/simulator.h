// One simulated device on the master side of a pseudo-terminal. The device reads the line speed the
// host has set on the slave before it looks at any byte, so that bytes sent at a speed it is not
// listening at are lost as they would be on a real UART.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devsim/device_state.h"

namespace devsim {

// firmware: normal operation, listens only for the warm boot at 57600.
// loader: for a short window after a reset, waits for the access sequence at program-mode speed.
// program: upgrade commands at program-mode speed.
// dead: powered off; answers nothing until powered up.
enum class Mode { kFirmware, kLoader, kProgram, kDead };

const char* ModeName(Mode mode);
std::optional<Mode> ParseMode(const std::string& name);

struct Faults {
  // Page frames are counted from 1 as they arrive, every attempt of the host included.
  std::vector<std::uint32_t> dropPages;     // no answer, nothing stored
  std::vector<std::uint32_t> corruptPages;  // stored, but acknowledged with a wrong sum
  // Once this many page frames were answered the device hangs: nothing at all is answered again
  // for the life of the simulator.
  std::optional<std::uint32_t> silentAfterPages;
  int slowMs = 0;           // delay before every answer
  bool strayBytes = false;  // junk on the line ~20 ms after an answer, when the host is quiet
  bool refuseProgramMode = false;
  // EEPROM data bytes (write and erase alike) counted from 1 over the simulator's life; the echo is
  // inverted and the device drops the exchange, as after a receive error.
  std::vector<std::uint32_t> failEchoes;
  // Page frames (counted as above) stored but acknowledged with only the first 3 of the 4 bytes.
  std::vector<std::uint32_t> shortAnswerPages;
  // Page frames stored and acknowledged only well after the host stopped waiting (kLateAnswerMs).
  std::vector<std::uint32_t> lateAnswerPages;
  // Once this many page frames were answered the device resets, as on a brown-out: it sends its
  // carriage return, waits in its loader and then starts its firmware. The memory is kept.
  std::optional<std::uint32_t> restartAfterPages;
};

// How late a late answer comes: past the host's one-second page time-out.
constexpr int kLateAnswerMs = 1500;

struct SimulatorOptions {
  Mode start = Mode::kFirmware;
  std::optional<int> powerUpAfterMs;  // a dead device starts by itself this long after Start()
  Faults faults;
  bool wireSpeed = false;  // pace bytes both ways at the line's baud rate, 10 bits a byte
  std::string stateDir;    // empty: the memory lives only as long as the object
  std::function<void(const std::string&)> log;    // one line per transaction; empty: quiet
  std::function<void(const std::string&)> error;  // failures to save the state
};

class Simulator {
 public:
  // masterFd stays the caller's: it is set non-blocking but never closed here.
  Simulator(int masterFd, DeviceState state, SimulatorOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool Start(std::string* error = nullptr);
  // Ends the thread and saves the state when a state folder is set. Safe to call twice.
  void Stop();
  // Cold boot: a dead device sends a single carriage return and enters its loader. Otherwise
  // nothing.
  void PowerUp();

  Mode CurrentMode() const;
  DeviceState Snapshot() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace devsim
