#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/port.h"
#include "base/port_set.h"
#include "engine/app_settings.h"
#include "engine/device_info.h"
#include "engine/display.h"
#include "engine/job.h"
#include "engine/notice_queue.h"
#include "engine/worker.h"
#include "package/package_description.h"

namespace veltr {

class CVeltrWireTrace;
class CVeltrPortTrace;

// The one upgrade engine of a program run: the ports it was given, the port in use, the device
// record, the job state and the worker thread. The connection search, the upload procedures and
// the job bodies work on it (worker thread); the front end wires it, starts jobs and runs the job
// end (its own thread). Nothing here shows anything: progress goes to the display.
class UpgradeEngine {
 public:
  using JobBody = std::function<void(UpgradeEngine&)>;

  // The current port starts at the serial port.
  explicit UpgradeEngine(CVeltrPortSet ports);
  // Waits for a running job, takes a device still in program mode out of it, closes the ports.
  ~UpgradeEngine();
  UpgradeEngine(const UpgradeEngine&) = delete;
  UpgradeEngine& operator=(const UpgradeEngine&) = delete;

  // Wiring, before the first job. The display's changes go into the engine's notice channel;
  // without a display, reports are dropped. A display must outlive the engine or be taken back
  // with SetDisplay(nullptr) before it goes.
  void SetDisplay(IVeltrDisplay* display);
  void SetSettings(AppSettings* settings) { settings_ = settings; }
  // The one channel to the front end: every display change and, behind a job's last change, its
  // job-finished notice, first in, first out.
  CVeltrNoticeQueue& Notices() { return notices_; }
  void SetPackage(const PackageVersionTable* table) { package_ = table; }
  // Where the images and "Build.txt" are; empty means the current folder.
  void SetWorkingFolder(std::string folder) { workingFolder_ = std::move(folder); }

  IVeltrDisplay* Display() const { return display_; }
  // The front end's settings: read and changed on its thread only. Jobs read their Request().
  AppSettings& Settings() { return *settings_; }
  const PackageVersionTable& Package() const { return *package_; }
  std::string PackagePath(const std::string& fileName) const;

  // Job control, front-end thread only. StartJob sets the busy flag, keeps the request for the
  // job and runs body on the worker; when the body returns, the worker sends the job-finished
  // notice. A thread that cannot be made clears the flag again and gives false.
  bool StartJob(JobBody body, JobRequest request);
  bool IsBusy() const { return busy_; }
  void WaitForWorker() { worker_.Wait(); }
  void ClearBusy() { busy_ = false; }

  // What the running job (or the last one) was asked. The worker reads it; the front end sets it
  // only while no job runs (StartJob, or SetRequest for work run on its own thread).
  const JobRequest& Request() const { return request_; }
  void SetRequest(JobRequest request) { request_ = std::move(request); }

  bool IsConnected() const { return connected_.load(); }
  void SetConnected(bool connected) { connected_.store(connected); }

  // The port that serves a PortId: USB and Ethernet their own, any other id the serial port.
  IVeltrPort& PortFor(PortId id) { return ports_.For(id); }
  IVeltrPort& CurrentPort() { return *current_; }
  // While a wire trace is on, the current port is the given one behind the trace.
  void SetCurrentPort(IVeltrPort& port) { current_ = &Traced(port); }

  // The wire trace: every exchange on the current port, whichever port it is, goes into the file
  // from the next port made current (and the current one at once). Written through a buffer,
  // flushed at every job end and when the trace stops. Front-end thread, between jobs.
  bool StartTrace(const std::string& path, std::string& error);
  void StopTrace();
  bool Tracing() const { return trace_ != nullptr; }

  // Job state. Only the worker writes these while a job runs; the front end reads them only
  // after the job-finished notice (or while no job runs), so they need no lock.
  DeviceInfo info;
  JobOutcome job;
  // The system's reasons behind the last search's failed opens ("COM1: /dev/ttyS0 does not
  // exist"), for a front end to show beside the status lines.
  std::vector<std::string> connectionDetails;

 private:
  IVeltrPort& Traced(IVeltrPort& port);

  IVeltrDisplay* display_ = nullptr;
  AppSettings* settings_ = nullptr;
  CVeltrNoticeQueue notices_;
  const PackageVersionTable* package_ = nullptr;
  std::string workingFolder_;
  AppSettings ownSettings_;
  PackageVersionTable ownPackage_;

  CVeltrPortSet ports_;
  IVeltrPort* current_;
  JobRequest request_;
  std::unique_ptr<CVeltrWireTrace> trace_;
  std::unique_ptr<CVeltrPortTrace> tracePort_;

  std::atomic<bool> connected_{false};
  bool busy_ = false;
  CVeltrWorker worker_;
};

}  // namespace veltr
