#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/buffer.h"

namespace veltr {

// A wire trace file: every exchange on a port as one text line, for a technician to send to the
// factory. The lines go through a 1 MiB stdio buffer and reach the disk when it fills, at Flush
// (the end of a job) and when the trace is closed: a whole upload costs a system call or two.
//
//   # veltr wire trace
//   # opened 2026-12-10 16:30:01 UTC; time in microseconds since then, monotonic
//   <time> <port> > <count> <bytes in hex>     written to the device
//   <time> <port> < <count> <bytes in hex>     read from the device
//   <time> <port> >! <count> <bytes> [# why]   a write that failed
//   <time> <port> <! <count> timed-out         a read whose count bytes did not all come in time
//   <time> <port> <! <count> failed # why      a read the system refused
//   <time> <port> timeout <milliseconds>       the port's time-out set
//   <time> <port> baud <rate>                  the line speed set (failed: "baud <rate> failed")
//   <time> <port> open <result> <rate>         the port opened: its connection result, its speed
//   <time> <port> close
//
// A buffer marked secret is written as "<what, n bytes>" instead of its bytes.
class CVeltrWireTrace {
 public:
  CVeltrWireTrace() = default;
  ~CVeltrWireTrace();
  CVeltrWireTrace(const CVeltrWireTrace&) = delete;
  CVeltrWireTrace& operator=(const CVeltrWireTrace&) = delete;

  // Creates or truncates the file. False with the system's reason in error.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return file_ != nullptr; }
  void Flush();
  void Close();

  // dir is ">" or ">!" for writes, "<" for reads.
  void Bytes(const std::string& port, const char* dir, const CVeltrBuffer& buffer,
             const std::string& why = {});
  void ReadFailed(const std::string& port, uint32_t count, const std::string& why);
  // A line of one event word and its arguments: "timeout 250", "baud 57600", "close".
  void Event(const std::string& port, const char* event, const std::string& arguments = {});

 private:
  void Begin(const std::string& port);
  void AppendHex(const uint8_t* bytes, uint32_t count);
  void End();

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_;
  std::string line_;  // reused for every line: no allocation once it has grown to a page frame
};

}  // namespace veltr
