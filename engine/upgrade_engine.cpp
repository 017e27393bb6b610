#include "engine/upgrade_engine.h"

#include <utility>

#include "engine/connection.h"
#include "transport/port_trace.h"
#include "transport/wire_trace.h"

namespace veltr {

UpgradeEngine::UpgradeEngine(CVeltrPortSet ports)
    : settings_(&ownSettings_),
      package_(&ownPackage_),
      ports_(std::move(ports)),
      current_(&ports_.For(kPortCom1)) {}

UpgradeEngine::~UpgradeEngine() {
  worker_.Wait();
  // Program end: the device's leaving program mode has no one left to tell of a failure.
  static_cast<void>(Disconnect(*this));
  SetDisplay(nullptr);
  if (trace_) {
    trace_->Close();
  }
}

void UpgradeEngine::SetDisplay(IVeltrDisplay* display) {
  if (display_ != nullptr && display_ != display) {
    display_->SetNotices(nullptr);
  }
  display_ = display;
  if (display_ != nullptr) {
    display_->SetNotices(&notices_);
  }
}

std::string UpgradeEngine::PackagePath(const std::string& fileName) const {
  if (workingFolder_.empty() || fileName.empty()) {
    return fileName;
  }
  return workingFolder_ + "/" + fileName;
}

bool UpgradeEngine::StartJob(JobBody body, JobRequest request) {
  busy_ = true;
  // Set before the thread exists, so the worker sees it whole.
  request_ = std::move(request);
  const bool started = worker_.Start([this, body = std::move(body)] {
    body(*this);
    if (trace_) {
      trace_->Flush();
    }
    notices_.JobFinished();
  });
  if (!started) {
    busy_ = false;
  }
  return started;
}

bool UpgradeEngine::StartTrace(const std::string& path, std::string& error) {
  StopTrace();
  auto trace = std::make_unique<CVeltrWireTrace>();
  if (!trace->Open(path, error)) {
    return false;
  }
  trace_ = std::move(trace);
  tracePort_ = std::make_unique<CVeltrPortTrace>(*trace_);
  SetCurrentPort(*current_);
  return true;
}

void UpgradeEngine::StopTrace() {
  if (!trace_) {
    return;
  }
  current_ = tracePort_->Inner();
  tracePort_.reset();
  trace_.reset();
}

// The one place a port becomes the engine's: with a trace on, the engine talks to the trace and
// the trace to the port.
IVeltrPort& UpgradeEngine::Traced(IVeltrPort& port) {
  if (!tracePort_ || &port == tracePort_.get()) {
    return port;
  }
  tracePort_->Wrap(port);
  return *tracePort_;
}

}  // namespace veltr
