#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/port.h"
#include "engine/app_settings.h"
#include "engine/device_info.h"
#include "engine/display.h"
#include "engine/notice_queue.h"
#include "engine/worker.h"
#include "package/package_description.h"
#include "transport/port_ethernet.h"
#include "transport/port_map.h"
#include "transport/port_rs232.h"
#include "transport/port_trace.h"
#include "transport/port_usb.h"
#include "transport/wire_trace.h"

namespace veltr {

enum JobKind : int32_t {
  Connecting = 0,
  FirmwareUpgrade = 1,
  UserTextUpgrade = 2,
  SettingsErase = 3,
  DeviceBoot = 4,
};

// The one upgrade engine of a program run: the three ports, the port in use, the device record,
// the job state and the worker thread. The connection search, the upload procedures and the job
// bodies work on it (worker thread); the front end wires it, starts jobs and runs the job end
// (its own thread). Nothing here shows anything: progress goes to the display.
class UpgradeEngine {
 public:
  using JobBody = std::function<void(UpgradeEngine&)>;

  UpgradeEngine();
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
  CVeltrPortMap& PortMap() { return portMap_; }

  IVeltrDisplay* Display() const { return display_; }
  AppSettings& Settings() { return *settings_; }
  const PackageVersionTable& Package() const { return *package_; }
  std::string PackagePath(const std::string& fileName) const;

  // Job control, front-end thread only. StartJob sets the busy flag and runs body on the worker;
  // when the body returns, the worker sends the job-finished notice. A thread that cannot be
  // made clears the flag again and gives false.
  bool StartJob(JobBody body);
  bool IsBusy() const { return busy_; }
  void WaitForWorker() { worker_.Wait(); }
  void ClearBusy() { busy_ = false; }

  bool IsConnected() const { return connected_.load(); }
  void SetConnected(bool connected) { connected_.store(connected); }

  // The port for a name: "USB", "Ethernet", anything else the serial port.
  IVeltrPort& PortFor(const std::string& name);
  IVeltrPort& CurrentPort() { return *current_; }
  // While a wire trace is on, the current port is the given one behind the trace.
  void SetCurrentPort(IVeltrPort& port) { current_ = &Traced(port); }

  // The wire trace: every exchange on the current port, whichever port it is, goes into the file
  // from the next port made current (and the current one at once). Written through a buffer,
  // flushed at every job end and when the trace stops. Front-end thread, between jobs.
  bool StartTrace(const std::string& path, std::string& error);
  void StopTrace();
  bool Tracing() const { return trace_ != nullptr; }

  CVeltrPortRS232& SerialPort() { return serial_; }
  CVeltrPortUSB& UsbPort() { return usb_; }
  CVeltrPortEthernet& EthernetPort() { return ethernet_; }

  // Job state. Written by the worker while a job runs, read by the front end between jobs.
  DeviceInfo info;
  int32_t jobKind = Connecting;
  int32_t jobResult = 0;
  int32_t coldBoot = 0;
  std::string chosenUsbDevice;
  std::string chosenEthernetDevice;
  std::string newUserText[2];  // narrow texts for the user text upgrade
  int32_t uploadLogic = 1;
  int32_t uploadProcessor = 1;
  int32_t uploadBios = 0;
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

  CVeltrPortMap portMap_;
  CVeltrPortRS232 serial_{&portMap_};
  CVeltrPortUSB usb_;
  CVeltrPortEthernet ethernet_;
  IVeltrPort* current_ = &serial_;
  std::unique_ptr<CVeltrWireTrace> trace_;
  std::unique_ptr<CVeltrPortTrace> tracePort_;

  std::atomic<bool> connected_{false};
  bool busy_ = false;
  CVeltrWorker worker_;
};

}  // namespace veltr
