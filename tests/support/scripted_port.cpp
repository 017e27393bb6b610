#include "support/scripted_port.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace veltr::test {

ScriptedPort::ScriptedPort(std::string name, PortId portId, uint32_t baudRate)
    : name_(std::move(name)), portId_(portId), baudRate_(baudRate) {}

void ScriptedPort::QueueSilence(int count) {
  for (int i = 0; i < count; ++i) {
    QueueRead(ReadResult::Silent());
  }
}

std::vector<PortEvent> ScriptedPort::EventsOf(PortOp op) const {
  std::vector<PortEvent> out;
  std::copy_if(events_.begin(), events_.end(), std::back_inserter(out),
               [op](const PortEvent& e) { return e.op == op; });
  return out;
}

std::vector<Bytes> ScriptedPort::Chunks() const {
  std::vector<Bytes> out;
  for (const PortEvent& e : events_) {
    if (e.op == PortOp::kWrite && e.ok) {
      out.push_back(e.bytes);
    }
  }
  return out;
}

Bytes ScriptedPort::Sent() const {
  Bytes out;
  for (const Bytes& chunk : Chunks()) {
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

std::vector<uint32_t> ScriptedPort::Timeouts() const {
  std::vector<uint32_t> out;
  for (const PortEvent& e : EventsOf(PortOp::kSetTimeout)) {
    out.push_back(e.value);
  }
  return out;
}

std::vector<uint32_t> ScriptedPort::BaudRateCalls() const {
  std::vector<uint32_t> out;
  for (const PortEvent& e : EventsOf(PortOp::kSetBaudRate)) {
    out.push_back(e.value);
  }
  return out;
}

bool ScriptedPort::NextCallFails(PortOp op) {
  const int call = ++counts_[Index(op)];
  return failures_[Index(op)].Fails(call);
}

ConnectResult ScriptedPort::Open(const PortSettings& settings) {
  settings_ = settings;
  opens_.push_back(settings);
  const ConnectResult result = openHook_ ? openHook_(settings) : openResult_;
  open_ = result == ConnectResult::Connected;
  return result;
}

bool ScriptedPort::Close() {
  ++closes_;
  open_ = false;
  return true;
}

bool ScriptedPort::SetTimeout(uint32_t milliseconds) {
  const bool ok = !NextCallFails(PortOp::kSetTimeout);
  if (ok) {
    timeout_ = milliseconds;
  }
  events_.push_back({PortOp::kSetTimeout, ok, {}, milliseconds});
  return ok;
}

bool ScriptedPort::SetBaudRate(uint32_t rate) {
  const bool ok = !NextCallFails(PortOp::kSetBaudRate);
  if (ok) {
    baudRate_ = rate;
  }
  events_.push_back({PortOp::kSetBaudRate, ok, {}, rate});
  return ok;
}

bool ScriptedPort::Write(const CVeltrBuffer& buffer) {
  const bool ok = !NextCallFails(PortOp::kWrite);
  const uint32_t size = buffer.GetSize();
  Bytes bytes(size);
  if (size != 0) {
    std::memcpy(bytes.data(), buffer.At(0), size);
  }
  events_.push_back({PortOp::kWrite, ok, bytes, baudRate_});
  if (ok && responder_) {
    responder_(*this, bytes);
  }
  return ok;
}

bool ScriptedPort::Read(CVeltrBuffer& buffer) {
  if (NextCallFails(PortOp::kRead) || reads_.empty()) {
    events_.push_back({PortOp::kRead, false, {}, baudRate_});
    return false;
  }
  ReadResult result = std::move(reads_.front());
  reads_.pop_front();
  const uint32_t size = buffer.GetSize();
  const size_t delivered = std::min<size_t>(result.bytes.size(), size);
  if (delivered != 0) {
    std::memcpy(buffer.At(0), result.bytes.data(), delivered);
  }
  const bool ok = !result.fails && result.bytes.size() == size;
  result.bytes.resize(delivered);
  events_.push_back({PortOp::kRead, ok, std::move(result.bytes), baudRate_});
  return ok;
}

}  // namespace veltr::test
