#pragma once

// A port double for command and procedure tests: it records everything the code under test does
// to it and answers reads from a script, optionally built on the fly from what was just written.

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/port.h"

namespace veltr::test {

using Bytes = std::vector<uint8_t>;

// The outcome of one Read call.
struct ReadResult {
  Bytes bytes;         // delivered into the caller's buffer from its first byte, at most its size
  bool fails = false;  // Read reports failure even when the bytes would fill the buffer

  // A whole answer: Read succeeds when its length is the buffer's size.
  static ReadResult Answer(Bytes bytes) { return {std::move(bytes), false}; }
  // Nothing arrives before the time-out.
  static ReadResult Silent() { return {{}, true}; }
  // Some bytes arrive, then the time-out.
  static ReadResult Partial(Bytes bytes) { return {std::move(bytes), true}; }
};

enum class PortOp { kWrite, kRead, kSetTimeout, kSetBaudRate };

// One call on the port, in the order they were made.
struct PortEvent {
  PortOp op;
  bool ok;
  Bytes bytes;     // kWrite: the bytes handed over; kRead: the bytes delivered
  uint32_t value;  // kSetTimeout: milliseconds; kSetBaudRate: the rate asked for;
                   // kWrite and kRead: the baud rate in force during the call
};

class ScriptedPort : public IVeltrPort {
 public:
  // Called after every successful Write with its bytes; it may queue reads on the port.
  using Responder = std::function<void(ScriptedPort& port, const Bytes& written)>;
  // Decides what an Open gives; it may block to hold the caller there.
  using OpenHook = std::function<ConnectResult(const PortSettings& settings)>;

  explicit ScriptedPort(std::string name = "RS232", PortId portId = kPortSerialObject,
                        uint32_t baudRate = 19200);

  // --- script ---
  void QueueRead(ReadResult result) { reads_.push_back(std::move(result)); }
  void QueueAnswer(Bytes bytes) { QueueRead(ReadResult::Answer(std::move(bytes))); }
  void QueueSilence(int count = 1);
  void SetResponder(Responder responder) { responder_ = std::move(responder); }
  // The nth call (counted from 1) of op fails; a Read failed this way consumes no script entry.
  void FailCall(PortOp op, int nth) { failures_[Index(op)].calls.insert(nth); }
  // Every call of op from the nth on fails.
  void FailCallsFrom(PortOp op, int nth) { failures_[Index(op)].from = nth; }
  void SetOpenResult(ConnectResult result) { openResult_ = result; }
  void SetOpenHook(OpenHook hook) { openHook_ = std::move(hook); }
  void SetFoundDevices(std::vector<FoundDevice> found) { found_ = std::move(found); }
  void SetMode(int32_t mode) { mode_ = mode; }
  void SetDeviceType(DeviceType type) { deviceType_ = type; }

  // --- record ---
  const std::vector<PortEvent>& Events() const { return events_; }
  std::vector<PortEvent> EventsOf(PortOp op) const;
  // The bytes of every successful Write, one entry per call.
  std::vector<Bytes> Chunks() const;
  // All bytes of the successful writes, back to back.
  Bytes Sent() const;
  // Every value SetTimeout and SetBaudRate were called with, failed calls included.
  std::vector<uint32_t> Timeouts() const;
  std::vector<uint32_t> BaudRateCalls() const;
  int CallCount(PortOp op) const { return counts_[Index(op)]; }
  size_t PendingReads() const { return reads_.size(); }
  uint32_t CurrentTimeout() const { return timeout_; }
  bool IsOpen() const { return open_; }
  const PortSettings& LastSettings() const { return settings_; }
  // The settings of every Open, in order.
  const std::vector<PortSettings>& Opens() const { return opens_; }
  int CloseCount() const { return closes_; }

  // --- IVeltrPort ---
  ConnectResult Open(const PortSettings& settings) override;
  int32_t GetMode() const override { return mode_; }
  DeviceType GetDeviceType() const override { return deviceType_; }
  bool Close() override;
  bool SetTimeout(uint32_t milliseconds) override;
  bool Write(const CVeltrBuffer& buffer) override;
  bool Read(CVeltrBuffer& buffer) override;
  bool SetBaudRate(uint32_t rate) override;
  uint32_t GetBaudRate() const override { return baudRate_; }
  const char* GetName() const override { return name_.c_str(); }
  PortId GetPortId() const override { return portId_; }
  std::vector<FoundDevice> FoundDevices() const override { return found_; }

 private:
  struct FailurePlan {
    std::set<int> calls;
    int from = 0;  // 0: never
    bool Fails(int call) const { return calls.count(call) != 0 || (from != 0 && call >= from); }
  };
  static constexpr size_t Index(PortOp op) { return static_cast<size_t>(op); }
  // Counts the call and tells whether it is to fail.
  bool NextCallFails(PortOp op);

  std::string name_;
  PortId portId_;
  uint32_t baudRate_;
  uint32_t timeout_ = 0;
  bool open_ = false;
  ConnectResult openResult_ = ConnectResult::Connected;
  OpenHook openHook_;
  std::vector<PortSettings> opens_;
  std::vector<FoundDevice> found_;
  int closes_ = 0;
  int32_t mode_ = -1;
  DeviceType deviceType_ = kNoDeviceType;
  PortSettings settings_;
  std::deque<ReadResult> reads_;
  Responder responder_;
  std::vector<PortEvent> events_;
  FailurePlan failures_[4];
  int counts_[4] = {};
};

}  // namespace veltr::test
