#include "transport/port_trace.h"

namespace veltr {

void CVeltrPortTrace::Wrap(IVeltrPort& port) {
  inner_ = &port;
  label_ = port.GetName();
}

ConnectResult CVeltrPortTrace::Open(const PortSettings& settings) {
  const ConnectResult result = inner_->Open(settings);
  // The name the search asked for ("COM2") says more than the object's ("RS232").
  label_ = settings.name.empty() ? std::string(inner_->GetName()) : settings.name;
  for (char& c : label_) {
    if (c == ' ') {
      c = '_';
    }
  }
  trace_.Event(
      label_, "open",
      std::to_string(static_cast<int32_t>(result)) + " " + std::to_string(inner_->GetBaudRate()));
  return result;
}

bool CVeltrPortTrace::Close() {
  const bool closed = inner_->Close();
  trace_.Event(label_, "close");
  return closed;
}

bool CVeltrPortTrace::SetTimeout(uint32_t milliseconds) {
  const bool ok = inner_->SetTimeout(milliseconds);
  trace_.Event(label_, "timeout", std::to_string(milliseconds) + (ok ? "" : " failed"));
  return ok;
}

bool CVeltrPortTrace::Write(const CVeltrBuffer& buffer) {
  const bool ok = inner_->Write(buffer);
  if (ok) {
    trace_.Bytes(label_, ">", buffer);
  } else {
    trace_.Bytes(label_, ">!", buffer, inner_->LastError());
  }
  return ok;
}

bool CVeltrPortTrace::Read(CVeltrBuffer& buffer) {
  const bool ok = inner_->Read(buffer);
  if (ok) {
    trace_.Bytes(label_, "<", buffer);
  } else {
    // A port leaves its reason empty when the device was only silent.
    trace_.ReadFailed(label_, buffer.GetSize(), inner_->LastError());
  }
  return ok;
}

bool CVeltrPortTrace::SetBaudRate(uint32_t rate) {
  const bool ok = inner_->SetBaudRate(rate);
  trace_.Event(label_, "baud", std::to_string(rate) + (ok ? "" : " failed"));
  return ok;
}

}  // namespace veltr
