#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/app_settings.h"
#include "engine/device_info.h"
#include "engine/display.h"
#include "engine/worker.h"
#include "package/package_description.h"
#include "base/port.h"
#include "transport/port_ethernet.h"
#include "transport/port_map.h"
#include "transport/port_rs232.h"
#include "transport/port_usb.h"

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

  // Wiring, before the first job. Absent display or notices: reports are dropped.
  void SetDisplay(IVeltrDisplay* display) { display_ = display; }
  void SetSettings(AppSettings* settings) { settings_ = settings; }
  void SetNotices(IVeltrNotices* notices) { notices_ = notices; }
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
  void SetCurrentPort(IVeltrPort& port) { current_ = &port; }
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
  IVeltrDisplay* display_ = nullptr;
  AppSettings* settings_ = nullptr;
  IVeltrNotices* notices_ = nullptr;
  const PackageVersionTable* package_ = nullptr;
  std::string workingFolder_;
  AppSettings ownSettings_;
  PackageVersionTable ownPackage_;

  CVeltrPortMap portMap_;
  CVeltrPortRS232 serial_{&portMap_};
  CVeltrPortUSB usb_;
  CVeltrPortEthernet ethernet_;
  IVeltrPort* current_ = &serial_;

  std::atomic<bool> connected_{false};
  bool busy_ = false;
  CVeltrWorker worker_;
};

}  // namespace veltr
