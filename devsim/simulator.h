// One simulated device on the master side of a pseudo-terminal. The device reads the line speed the
// host has set on the slave before it looks at any byte, so that bytes sent at a speed it is not
// listening at are lost as they would be on a real UART.
#pragma once

#include <cstddef>
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
// upgrade: USB only; the upgrade code runs and waits for the access sequence.
enum class Mode { kFirmware, kLoader, kProgram, kDead, kUpgrade };

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
  // USB: when this many page frames were answered the cable is pulled as the next one arrives;
  // the device's end of the line closes and SimulatorOptions::unplug runs.
  std::optional<std::uint32_t> unplugAfterPages;
  // Network: page frames (counted as above) whose answer leaves twice, two datagrams alike.
  std::vector<std::uint32_t> duplicatePages;
  // Network: page frames the device neither stores nor answers, while a datagram from another
  // address (NetworkLink::foreignFd) brings the acknowledgement it would have sent. A host that
  // takes it believes a page is in the flash that is not.
  std::vector<std::uint32_t> foreignPages;
};

// The device on its USB interface: a HID device with 64-byte reports each way and no report ids.
// The line then carries whole output reports from the host, the id byte first (65 bytes each),
// and the device answers with input reports of 64 data bytes, as the hidraw node of such a device
// hands them to a reader. Speeds mean nothing there.
struct UsbOptions {
  bool enabled = false;
  std::uint8_t consoleMode = 1;  // the mode byte while the firmware runs; 254 is the upgrade code
  bool olderLayout = false;      // identify answers without the variant byte
  bool shortOnly = false;        // the addressed requests go unanswered
};

// How the program-mode loader takes the processor image.
// pages: 261-byte page frames (code 20) answered with four bytes.
// words: the older loader: connect 20 and erase 21 answered with a carriage return, then 24 with a
//   word address (high byte first) and two data bytes, each echoed.
// blocks: the small console loader: erase 21 answered with a carriage return, then 24 00 with a
//   one-byte block index and 256 data bytes, answered with a failed-byte count and the sum (high
//   byte first).
enum class ProcessorWrites { kPages, kWords, kBlocks };

std::optional<ProcessorWrites> ParseProcessorWrites(const std::string& name);

// A run of bytes the device received at one line speed.
struct SpeedRun {
  int baud = 0;
  std::size_t count = 0;
};

// A device on the network: every frame arrives as one datagram and every answer leaves as one.
// Its firmware mode is the console mode, which answers discovery and identification and takes the
// upgrade code; the jump starts the upgrade code, which waits for the access sequence with no
// time limit.
struct NetworkLink {
  int broadcastFd = -1;  // discovery requests arrive here; answers leave by the unicast socket
  std::uint8_t ip[4] = {0, 0, 0, 0};
  int discoveryLength = 30;  // 19 for the older answer layout
  int discoveryDelayMs = 0;
  bool shortFormsOnly = false;  // older devices: no answer to the addressed requests
  std::uint8_t consoleModeByte = 0;
  int foreignFd = -1;  // bound to another address on the same port, for Faults::foreignPages
};

// How late a late answer comes: past the host's one-second page time-out.
constexpr int kLateAnswerMs = 1500;

struct SimulatorOptions {
  Mode start = Mode::kFirmware;
  ProcessorWrites processorWrites = ProcessorWrites::kPages;
  std::optional<NetworkLink> network;  // empty: a serial line on a pseudo-terminal
  std::optional<int> powerUpAfterMs;   // a dead device starts by itself this long after Start()
  Faults faults;
  bool wireSpeed = false;  // pace bytes both ways at the line's baud rate, 10 bits a byte
  std::string stateDir;    // empty: the memory lives only as long as the object
  std::function<void(const std::string&)> log;    // one line per transaction; empty: quiet
  std::function<void(const std::string&)> error;  // failures to save the state
  UsbOptions usb;
  // Runs on the simulator's thread when the cable is pulled; the line is not touched afterwards.
  std::function<void()> unplug;
};

class Simulator {
 public:
  // masterFd stays the caller's: it is set non-blocking but never closed here. With a network
  // link it is the UDP socket bound to the device's address.
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
  // Every byte received so far, as runs of equal line speed in arrival order.
  std::vector<SpeedRun> ReceivedSpeeds() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace devsim
