#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/port.h"
#include "engine/app_settings.h"
#include "protocol/device_types.h"
#include "protocol/result_code.h"

namespace veltr {

enum JobKind : int32_t {
  Connecting = 0,
  FirmwareUpgrade = 1,
  UserTextUpgrade = 2,
  SettingsErase = 3,
  DeviceBoot = 4,
};

// What one job was asked to do, copied on the front end's thread when the job starts. The worker
// reads nothing else of the front end's state, so the preferences may change while it runs.
struct JobRequest {
  DeviceType expectedType = 0;  // decides the line speed of the search
  PortId port = kPortCom1;      // may hold a value that names no port: then no port is tried
  bool autoselect = true;       // try every serial port
  bool uploadLogic = true;
  bool uploadProcessor = true;
  bool uploadBios = false;
  // The second pass after a failed search: only the chosen port, waiting for a cold boot.
  bool coldBoot = false;
  // The device picked after a listing Open: its serial number (USB) or address (Ethernet).
  std::string chosenUsbDevice;
  std::string chosenEthernetDevice;
  std::array<std::string, 2> newUserText;  // narrow texts for the user text upgrade
};

// The request's part that comes from the settings: port, search and upload flags.
JobRequest RequestFrom(const AppSettings& settings);

// How a job ended: one number, read by the kind. While the kind is Connecting (a connect job, or
// a search that failed) it is a ConnectResult: 0, NoDeviceFound or SelectionRequired. For every
// other kind it is the ResultCode of the job's work. 0 is success in both.
struct JobOutcome {
  JobKind kind = Connecting;
  int32_t result = 0;

  static JobOutcome OfSearch(ConnectResult result) {
    return {Connecting, static_cast<int32_t>(result)};
  }
  static JobOutcome OfWork(JobKind kind, ResultCode result) { return {kind, result}; }

  bool Succeeded() const { return result == 0; }
  // Meaningful for kind Connecting only.
  ConnectResult SearchResult() const { return static_cast<ConnectResult>(result); }
  // Meaningful for the other kinds only.
  ResultCode WorkResult() const { return static_cast<ResultCode>(result); }
};

}  // namespace veltr
