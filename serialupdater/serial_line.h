// The updater's own serial access on termios: raw 8-bit bytes, 8 data bits, no parity, one stop
// bit, no flow control. The modem lines are left as the driver has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace su {

class SerialLine {
 public:
  SerialLine() = default;
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Fails when the device is missing, cannot be set up as a line, or another program holds it.
  bool Open(const std::string& path, int baud);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Waits until what was written has gone, then changes the speed of both directions.
  bool SetSpeed(int baud);
  // The speed the line is set to; 0 when closed.
  int Speed() const { return baud_; }

  // Writes everything, waiting at most about a second for room; false on failure.
  bool Write(const std::uint8_t* data, std::size_t count);
  bool WriteByte(std::uint8_t byte) { return Write(&byte, 1); }

  // Bytes waiting in the input queue.
  int InputCount() const;
  // One waiting byte; false when none is there.
  bool ReadByte(std::uint8_t& byte);
  // Throws away the input queue only: bytes still going out stay.
  void Discard();
  // Blocks until input is waiting or `ms` has passed; true when input is waiting.
  bool WaitReadable(int ms) const;

 private:
  int fd_ = -1;
  int baud_ = 0;
};

}  // namespace su
