#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/port.h"
#include "base/port_set.h"
#include "engine/app_settings.h"
#include "engine/device_info.h"
#include "engine/display.h"
#include "engine/job.h"
#include "engine/worker.h"
#include "package/package_description.h"

namespace veltr {

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

  // Wiring, before the first job. Absent display or notices: reports are dropped.
  void SetDisplay(IVeltrDisplay* display) { display_ = display; }
  void SetSettings(AppSettings* settings) { settings_ = settings; }
  void SetNotices(IVeltrNotices* notices) { notices_ = notices; }
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
  void SetCurrentPort(IVeltrPort& port) { current_ = &port; }

  // Job state. Only the worker writes these while a job runs; the front end reads them only
  // after the job-finished notice (or while no job runs), so they need no lock.
  DeviceInfo info;
  JobOutcome job;
  // The system's reasons behind the last search's failed opens ("COM1: /dev/ttyS0 does not
  // exist"), for a front end to show beside the status lines.
  std::vector<std::string> connectionDetails;

 private:
  IVeltrDisplay* display_ = nullptr;
  AppSettings* settings_ = nullptr;
  IVeltrNotices* notices_ = nullptr;
  const PackageVersionTable* package_ = nullptr;
  std::string workingFolder_;
  AppSettings ownSettings_;
  PackageVersionTable ownPackage_;

  CVeltrPortSet ports_;
  IVeltrPort* current_;
  JobRequest request_;

  std::atomic<bool> connected_{false};
  bool busy_ = false;
  CVeltrWorker worker_;
};

}  // namespace veltr
