#pragma once

#include <string>

#include "base/port.h"
#include "transport/wire_trace.h"

namespace veltr {

// Stands between the engine and whichever port it uses and writes every call that touches the
// line into a wire trace; everything is passed on unchanged, results included.
class CVeltrPortTrace final : public IVeltrPort {
 public:
  explicit CVeltrPortTrace(CVeltrWireTrace& trace) : trace_(trace) {}

  // The port to pass the calls on to; its own name labels the lines until an Open names it.
  void Wrap(IVeltrPort& port);
  IVeltrPort* Inner() const { return inner_; }

  ConnectResult Open(const PortSettings& settings) override;
  int32_t GetMode() const override { return inner_->GetMode(); }
  DeviceType GetDeviceType() const override { return inner_->GetDeviceType(); }
  bool Close() override;
  bool SetTimeout(uint32_t milliseconds) override;
  bool Write(const CVeltrBuffer& buffer) override;
  bool Read(CVeltrBuffer& buffer) override;
  bool SetBaudRate(uint32_t rate) override;
  uint32_t GetBaudRate() const override { return inner_->GetBaudRate(); }
  const char* GetName() const override { return inner_->GetName(); }
  PortId GetPortId() const override { return inner_->GetPortId(); }
  std::vector<FoundDevice> FoundDevices() const override { return inner_->FoundDevices(); }
  std::string LastError() const override { return inner_->LastError(); }

 private:
  CVeltrWireTrace& trace_;
  IVeltrPort* inner_ = nullptr;
  std::string label_;
};

}  // namespace veltr
