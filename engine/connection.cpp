#include "engine/connection.h"

#include <cstdio>

#include "engine/app_settings.h"
#include "engine/device_info.h"
#include "engine/page_lines.h"
#include "engine/upgrade_engine.h"
#include "engine/uploads.h"
#include "protocol/commands.h"

namespace veltr {
namespace {

constexpr uint32_t kConnectionPage = 0;
constexpr uint32_t kSingleSearchLine = 1;
constexpr uint32_t kColdBootTries = 10;
constexpr uint32_t kColdBootReadTimeoutMs = 1000;
constexpr uint8_t kCarriageReturn = 0x0D;

CVeltrPageLines ConnectionLines(UpgradeEngine& engine) {
  return CVeltrPageLines(engine.Display(), kConnectionPage);
}

std::string SearchingLine(PortId port) {
  return std::string("   Searching ") + PortNameOf(port) + " ...";
}

std::string ResultSuffix(ConnectResult result) {
  return std::string(" ") + ConnectResultText(result);
}

// COM1 to COM4 on lines 1 to 4; any other port on line 0.
uint32_t SerialLineOf(PortId port) {
  return IsComPort(port) ? static_cast<uint32_t>(port - kPortCom1 + 1) : 0;
}

// Reaches program mode's request with the already-sent flag: 1 when the request went out right
// behind an answer (exit, warm boot or cold boot), 0 when the entry command must send it itself.
// A false result means the attempt is over (a cold boot that never came).
bool PrepareProgramMode(UpgradeEngine& engine, const ConnectRequest& request, IVeltrPort& port,
                        uint32_t& alreadySent) {
  alreadySent = 0;
  // USB and Ethernet devices take the entry request at any time.
  if (!IsComPort(request.port)) {
    return true;
  }
  if (request.coldBoot) {
    if (!ColdBootWait(engine, request.port)) {
      return false;
    }
    alreadySent = 1;
    return true;
  }
  CVeltrCommandProgramModeEnter entry;
  CVeltrCommandProgramModeExit exit;
  if (exit.Execute(port, &entry) == Ok) {
    alreadySent = 1;
    return true;
  }
  // A device running its firmware does not answer the exit; it listens for the warm boot.
  CVeltrCommandWarmBoot warmBoot;
  alreadySent = warmBoot.Execute(port, &entry) == Ok ? 1 : 0;
  return true;
}

ConnectResult CloseWith(IVeltrPort& port, ConnectResult result) {
  CloseAfterFailure(port);
  return result;
}

ConnectRequest AttemptRequest(const JobRequest& job) {
  ConnectRequest request;
  request.expectedType = job.expectedType;
  request.chosenUsbDevice = job.chosenUsbDevice;
  request.chosenEthernetDevice = job.chosenEthernetDevice;
  request.coldBoot = job.coldBoot;
  return request;
}

}  // namespace

ConnectResult ConnectResultOf(ResultCode result) {
  switch (result) {
    case Ok:
      return ConnectResult::Connected;
    case FailedOpenPort:
      return ConnectResult::PortNotAvailable;
    case NoResponse:
      return ConnectResult::NoDeviceConnected;
    case CommunicationFailed:
      return ConnectResult::BrokenConnection;
    case FailedLoadFile:
      return ConnectResult::UpgradeCodeFailed;
    default:
      return ConnectResult::OtherFailure;
  }
}

bool Search(UpgradeEngine& engine) {
  if (engine.IsConnected()) {
    return true;
  }
  engine.job = JobOutcome::OfSearch(ConnectResult::Connected);
  engine.connectionDetails.clear();
  ConnectionLines(engine).Clear();
  ConnectionLines(engine).Set(0, "Establishing connection");

  const JobRequest& job = engine.Request();
  ConnectRequest request = AttemptRequest(job);

  if (job.port == kPortUsb || job.port == kPortEthernet) {
    request.port = job.port;
    ConnectionLines(engine).Set(kSingleSearchLine, SearchingLine(request.port));
    const ConnectResult result = Attempt(engine, request);
    ConnectionLines(engine).Append(kSingleSearchLine, ResultSuffix(result));
    if (result == ConnectResult::SelectionRequired) {
      engine.job = JobOutcome::OfSearch(result);
      return false;
    }
  } else {
    const bool tryAll = job.autoselect && !job.coldBoot;
    for (int i = 0; i < kSerialPortCount; ++i) {
      request.port = static_cast<PortId>(kPortCom1 + i);
      const uint32_t line = SerialLineOf(request.port);
      ConnectionLines(engine).Set(line, SearchingLine(request.port));
      if (engine.IsConnected() || (job.port != request.port && !tryAll)) {
        ConnectionLines(engine).Append(line, " Skipped");
        continue;
      }
      const ConnectResult result = Attempt(engine, request);
      ConnectionLines(engine).Append(line, ResultSuffix(result));
    }
  }

  if (!engine.IsConnected()) {
    engine.job = JobOutcome::OfSearch(ConnectResult::NoDeviceFound);
    return false;
  }
  WriteDeviceInfoLines(engine.Display(), engine.info);
  engine.job = JobOutcome::OfSearch(ConnectResult::Connected);
  return true;
}

ConnectResult Attempt(UpgradeEngine& engine, const ConnectRequest& request) {
  engine.SetCurrentPort(engine.PortFor(request.port));
  IVeltrPort& port = engine.CurrentPort();

  PortSettings portSettings;
  portSettings.name = PortNameOf(request.port);
  portSettings.baudRate = BaudRateForType(request.expectedType);
  portSettings.serialNumber = request.chosenUsbDevice;
  portSettings.address = request.chosenEthernetDevice;
  portSettings.udpPort = kDeviceUdpPort;
  const ConnectResult opened = port.Open(portSettings);
  if (opened != ConnectResult::Connected) {
    const std::string reason = port.LastError();
    if (!reason.empty()) {
      engine.connectionDetails.push_back(portSettings.name + ": " + reason);
    }
    return opened;
  }

  if (port.GetMode() != kModeUpgradeCode) {
    ConnectionLines(engine).Append(kSingleSearchLine, " Uploading upgrade code ...");
    const ResultCode uploaded = UploadUpgradeCode(engine, port.GetDeviceType());
    if (uploaded != Ok) {
      return CloseWith(port, ConnectResultOf(uploaded));
    }
  }

  uint32_t alreadySent = 0;
  if (!PrepareProgramMode(engine, request, port, alreadySent)) {
    return CloseWith(port, ConnectResult::NoDeviceConnected);
  }

  CVeltrCommandProgramModeEnter entry;
  DeviceIdentity identity;
  const ResultCode entered = entry.Execute(port, &alreadySent, &identity);
  if (entered != Ok) {
    return CloseWith(port, ConnectResultOf(entered));
  }
  engine.info.TakeIdentity(identity);

  CVeltrCommandEEPROMRead read;
  EepromInfoRecord record;
  const ResultCode readResult = read.Execute(port, &record);
  if (readResult != Ok) {
    return CloseWith(port, ConnectResultOf(readResult));
  }
  engine.info.TakeEeprom(record);
  engine.SetConnected(true);
  return ConnectResult::Connected;
}

bool ColdBootWait(UpgradeEngine& engine, PortId port) {
  const uint32_t line = SerialLineOf(port);
  IVeltrPort& serial = engine.CurrentPort();
  if (!serial.SetTimeout(kColdBootReadTimeoutMs)) {
    return false;
  }
  CVeltrBuffer byte;
  if (!byte.Resize(1)) {
    return false;
  }
  for (uint32_t n = kColdBootTries; n >= 1; --n) {
    char text[96];
    std::snprintf(text, sizeof text, "   Searching %s ... Cold boot: %u", PortNameOf(port), n);
    ConnectionLines(engine).Set(line, text);
    if (serial.Read(byte) && *byte.At(0) == kCarriageReturn) {
      // The device takes the request only while its loader listens, right behind the carriage
      // return; whether it went out shows in the entry's answer, which is read next.
      CVeltrCommandProgramModeEnter entry;
      static_cast<void>(serial.Write(entry));
      ConnectionLines(engine).Set(line, SearchingLine(port));
      return true;
    }
  }
  ConnectionLines(engine).Set(line, SearchingLine(port));
  return false;
}

ResultCode Disconnect(UpgradeEngine& engine) {
  if (!engine.IsConnected()) {
    return Ok;
  }
  IVeltrPort& port = engine.CurrentPort();
  CVeltrCommandProgramModeExit exit;
  const ResultCode result = exit.Execute(port, nullptr);
  // The exit's result is what the caller hears; the device is out of program mode or not,
  // whatever the close says.
  static_cast<void>(port.Close());
  engine.SetConnected(false);
  return result;
}

}  // namespace veltr
