#include "engine/connection.h"

#include <cstdio>

#include "engine/device_info.h"
#include "engine/page_lines.h"
#include "engine/upgrade_engine.h"
#include "engine/uploads.h"
#include "protocol/commands.h"
#include "transport/port_map.h"

namespace veltr {
namespace {

constexpr uint32_t kConnectionPage = 0;
constexpr uint32_t kColdBootTries = 10;
constexpr uint32_t kColdBootReadTimeoutMs = 1000;
constexpr uint8_t kCarriageReturn = 0x0D;

CVeltrPageLines ConnectionLines(UpgradeEngine& engine) {
  return CVeltrPageLines(engine.Display(), kConnectionPage);
}

std::string SearchingLine(const std::string& portName) {
  return "   Searching " + portName + " ...";
}

bool IsSerialName(const std::string& portName) {
  return portName != "USB" && portName != "Ethernet";
}

// Reaches program mode's request with the already-sent flag: 1 when the request went out right
// behind an answer (exit, warm boot or cold boot), 0 when the entry command must send it itself.
// A false result means the attempt is over (a cold boot that never came).
bool PrepareProgramMode(UpgradeEngine& engine, const ConnectRequest& request, IVeltrPort& port,
                        uint32_t& alreadySent) {
  alreadySent = 0;
  if (!IsSerialName(request.portName)) {
    return true;
  }
  if (request.coldBoot != 0) {
    if (!ColdBootWait(engine, request.portName)) {
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

int32_t CloseWith(IVeltrPort& port, int32_t result) {
  port.Close();
  return result;
}

}  // namespace

bool Search(UpgradeEngine& engine) {
  if (engine.IsConnected()) {
    return true;
  }
  engine.jobKind = Connecting;
  engine.connectionDetails.clear();
  ConnectionLines(engine).Clear();
  ConnectionLines(engine).Set(0, "Establishing connection");

  const AppSettings& settings = engine.Settings();
  ConnectRequest request;
  request.expectedType = settings.deviceType;
  request.chosenUsbDevice = engine.chosenUsbDevice;
  request.chosenEthernetDevice = engine.chosenEthernetDevice;
  request.coldBoot = engine.coldBoot;

  if (settings.port == kPortUsb || settings.port == kPortEthernet) {
    request.portName = settings.port == kPortUsb ? "USB" : "Ethernet";
    ConnectionLines(engine).Set(1, SearchingLine(request.portName));
    const int32_t result = Attempt(engine, request);
    ConnectionLines(engine).Append(1, std::string(" ") + ConnectResultText(result));
    if (result == kSelectionRequired) {
      engine.jobResult = kSelectionRequired;
      return false;
    }
  } else {
    for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
      request.portName = CVeltrPortMap::ComName(i);
      const auto line = static_cast<uint32_t>(i + 1);
      ConnectionLines(engine).Set(line, SearchingLine(request.portName));
      const bool tryAll = settings.autoselect != 0 && request.coldBoot == 0;
      if (engine.IsConnected() || (settings.port != i && !tryAll)) {
        ConnectionLines(engine).Append(line, " Skipped");
        continue;
      }
      const int32_t result = Attempt(engine, request);
      ConnectionLines(engine).Append(line, std::string(" ") + ConnectResultText(result));
    }
  }

  if (!engine.IsConnected()) {
    engine.jobResult = kNoDeviceFound;
    return false;
  }
  WriteDeviceInfoLines(engine.Display(), engine.info);
  engine.jobResult = 0;
  return true;
}

int32_t Attempt(UpgradeEngine& engine, const ConnectRequest& request) {
  engine.SetCurrentPort(engine.PortFor(request.portName));
  IVeltrPort& port = engine.CurrentPort();

  PortSettings portSettings;
  portSettings.name = request.portName;
  portSettings.baudRate = BaudRateForType(request.expectedType);
  portSettings.serialNumber = request.chosenUsbDevice;
  portSettings.address = request.chosenEthernetDevice;
  portSettings.udpPort = kDeviceUdpPort;
  const int32_t opened = port.Open(portSettings);
  if (opened != kConnected) {
    const std::string reason = port.LastError();
    if (!reason.empty()) {
      engine.connectionDetails.push_back(request.portName + ": " + reason);
    }
    return opened;
  }

  if (port.GetMode() != kModeUpgradeCode) {
    ConnectionLines(engine).Append(1, " Uploading upgrade code ...");
    const int32_t uploaded = UploadUpgradeCode(engine, port.GetDeviceType());
    if (uploaded != Ok) {
      return CloseWith(port, uploaded);
    }
  }

  uint32_t alreadySent = 0;
  if (!PrepareProgramMode(engine, request, port, alreadySent)) {
    return CloseWith(port, kNoDeviceConnected);
  }

  CVeltrCommandProgramModeEnter entry;
  DeviceIdentity identity;
  const ResultCode entered = entry.Execute(port, &alreadySent, &identity);
  if (entered != Ok) {
    return CloseWith(port, entered);
  }
  engine.info.TakeIdentity(identity);

  CVeltrCommandEEPROMRead read;
  EepromInfoRecord record;
  const ResultCode readResult = read.Execute(port, &record);
  if (readResult != Ok) {
    return CloseWith(port, readResult);
  }
  engine.info.TakeEeprom(record);
  engine.SetConnected(true);
  return kConnected;
}

bool ColdBootWait(UpgradeEngine& engine, const std::string& portName) {
  const int index = CVeltrPortMap::IndexOf(portName);
  const auto line = static_cast<uint32_t>(index >= 0 ? index + 1 : 0);
  IVeltrPort& port = engine.CurrentPort();
  if (!port.SetTimeout(kColdBootReadTimeoutMs)) {
    return false;
  }
  CVeltrBuffer byte;
  if (!byte.Resize(1)) {
    return false;
  }
  for (uint32_t n = kColdBootTries; n >= 1; --n) {
    char text[96];
    std::snprintf(text, sizeof text, "   Searching %s ... Cold boot: %u", portName.c_str(), n);
    ConnectionLines(engine).Set(line, text);
    if (port.Read(byte) && *byte.At(0) == kCarriageReturn) {
      CVeltrCommandProgramModeEnter entry;
      port.Write(entry);
      ConnectionLines(engine).Set(line, SearchingLine(portName));
      return true;
    }
  }
  ConnectionLines(engine).Set(line, SearchingLine(portName));
  return false;
}

int32_t Disconnect(UpgradeEngine& engine) {
  if (!engine.IsConnected()) {
    return 0;
  }
  IVeltrPort& port = engine.CurrentPort();
  CVeltrCommandProgramModeExit exit;
  const ResultCode result = exit.Execute(port, nullptr);
  port.Close();
  engine.SetConnected(false);
  return result;
}

}  // namespace veltr
