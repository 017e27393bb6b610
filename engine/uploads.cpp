#include "engine/uploads.h"

#include <cstdio>
#include <string>

#include "engine/device_info.h"
#include "engine/page_lines.h"
#include "engine/upgrade_engine.h"
#include "package/page_file.h"
#include "package/text_file.h"
#include "protocol/commands.h"

namespace veltr {
namespace {

constexpr uint32_t kProgressPage = 1;
constexpr uint32_t kImagePageSize = 256;
constexpr uint32_t kUpgradeCodePageSize = 512;
constexpr uint32_t kEraseBytesLarge = 896;
constexpr uint32_t kEraseBytesSmall = 384;

// Only these types take an upgrade code over USB or Ethernet; 0 makes the page file refuse.
uint32_t UpgradeCodePageSize(DeviceType type) {
  const bool has =
      type == MT20E || type == RIFEngine || type == RIFRack || (type >= RIFSX7 && type <= PL1TP);
  return has ? kUpgradeCodePageSize : 0;
}

// The first page the processor upload writes, replaced by the real page 0 at the very end. Over
// USB and Ethernet the device expects the start of its boot vector in it.
void FillPlaceholderPage(const IVeltrPort& port, uint8_t (&page)[kImagePageSize]) {
  for (auto& byte : page) {
    byte = 0xFF;
  }
  const PortId id = port.GetPortId();
  if (id == kPortUsb || id == kPortEthernet) {
    static constexpr uint8_t kBootVector[12] = {0x18, 0x5C, 0xE0, 0x6B, 0x80, 0x00,
                                                0xEA, 0x1B, 0x80, 0x03, 0x16, 0x9F};
    for (size_t i = 0; i < sizeof kBootVector; ++i) {
      page[i] = kBootVector[i];
    }
  }
}

CVeltrPageLines ProgressLines(UpgradeEngine& engine) {
  return CVeltrPageLines(engine.Display(), kProgressPage);
}

void ShowBlock(CVeltrPageLines& lines, uint32_t line, uint32_t block, uint32_t blocks) {
  char text[64];
  std::snprintf(text, sizeof text, "   Uploading %u block of %u ...", block, blocks);
  lines.Set(line, text);
}

// The package version of the connected type: low 16 bits, 0 for an unknown type.
uint32_t PackageVersion(const UpgradeEngine& engine) {
  return static_cast<uint32_t>(engine.Package().VersionOf(engine.info.type)) & 0xFFFF;
}

std::string FileVersionLine(const UpgradeEngine& engine) {
  const auto digit = GetRevisionDigit(engine.info.type, engine.info.Hardware());
  return std::string("   File Version ") + GetShortName(engine.info.type) + ": V" +
         FormatVersion(PackageVersion(engine)) + "." + digit.value_or("(null)");
}

}  // namespace

ResultCode UploadUpgradeCode(UpgradeEngine& engine, DeviceType reportedType) {
  IVeltrPort& port = engine.CurrentPort();
  if (reportedType == RIFEngine || reportedType == RIFRack) {
    return InvalidParameter;
  }
  const std::string name = UpgradeCodeFileName(reportedType, port.GetPortId());
  CVeltrPageFile image(UpgradeCodePageSize(reportedType));
  if (name.empty() || !image.Load(engine.PackagePath(name))) {
    return FailedLoadFile;
  }
  CVeltrCommandUpgradeCodePageWrite write;
  for (uint32_t i = 0; i < image.GetSize(); ++i) {
    const PageRecord record{image.At(i), image.GetPageSize(), i, reportedType};
    if (write.Execute(port, &record) != Ok) {
      return CommunicationFailed;
    }
  }
  CVeltrCommandJumpToUpgradeCode jump;
  return jump.Execute(port) == Ok ? Ok : CommunicationFailed;
}

ResultCode UploadLogicDsp(UpgradeEngine& engine) {
  CVeltrPageLines lines = ProgressLines(engine);
  const DeviceInfo& info = engine.info;
  lines.Set(0, "Loading Logic and DSP Files");
  lines.Set(1, FileVersionLine(engine));
  lines.Set(2, "   Loading file ...");
  if (!IsKnownDeviceType(info.type)) {
    return InvalidParameter;
  }
  CVeltrPageFile image(kImagePageSize);
  if (!image.Load(
          engine.PackagePath(LogicFileName(info.type, info.Hardware(), engine.Package())))) {
    lines.Append(2, " Failed: missing file");
    return FailedLoadFile;
  }
  if (!IsLogicImageValid(info.type, info.Hardware(), image.GetFileLength())) {
    lines.Append(2, " Failed: damaged file");
    return DamagedFile;
  }
  lines.Append(2, " Done");

  lines.Set(3, "Uploading Logic and DSP Files");
  CVeltrCommandPROMPageWrite write;
  const uint32_t pages = image.GetSize();
  for (uint32_t i = 0; i < pages; ++i) {
    ShowBlock(lines, 4, i + 1, pages);
    const PageRecord record{image.At(i), kImagePageSize, i, info.type};
    const ResultCode result = write.Execute(engine.CurrentPort(), &record);
    if (result != Ok) {
      lines.Append(4, std::string(" Failed: ") + ResultText(result));
      return CommunicationFailed;
    }
  }
  const uint32_t version = PackageVersion(engine);
  engine.info.logicVersion = VersionWord::Of(version);
  lines.Append(4, " Done");
  lines.Set(5, "   Upload version info: " + FormatVersion(version));
  return Ok;
}

ResultCode UploadProcessor(UpgradeEngine& engine) {
  CVeltrPageLines lines = ProgressLines(engine);
  const DeviceInfo& info = engine.info;
  const bool bios = engine.Request().uploadBios;
  const uint32_t b = (engine.Request().uploadLogic && !bios) ? 7 : 0;
  lines.Set(b, bios ? "Loading Processor BIOS File" : "Loading Processor and HI Files");
  lines.Set(b + 1, FileVersionLine(engine));
  lines.Set(b + 2, "   Loading file ...");
  if (!IsKnownDeviceType(info.type)) {
    return InvalidParameter;
  }
  const std::string name = bios ? BiosFileName(info.type, info.Hardware(), engine.Package())
                                : ProcessorFileName(info.type, info.Hardware(), engine.Package());
  CVeltrPageFile image(kImagePageSize);
  if (!image.Load(engine.PackagePath(name))) {
    lines.Append(b + 2, " Failed: missing file");
    return FailedLoadFile;
  }
  const bool valid =
      bios ? IsBiosImageValid(info.type, image.GetFileLength(), image.ByteSum())
           : IsProcessorImageValid(info.type, image.GetFileLength(), engine.Package());
  if (!valid) {
    lines.Append(b + 2, " Failed: damaged file");
    return DamagedFile;
  }
  lines.Append(b + 2, " Done");

  lines.Set(b + 3, bios ? "Uploading Processor BIOS File" : "Uploading Processor and HI Files");
  CVeltrCommandUPPageWrite write;
  IVeltrPort& port = engine.CurrentPort();
  const uint32_t pages = image.GetSize();
  const uint32_t blocks = pages + 1;

  uint8_t placeholder[kImagePageSize];
  FillPlaceholderPage(port, placeholder);
  ShowBlock(lines, b + 4, 1, blocks);
  const PageRecord first{placeholder, kImagePageSize, 0, info.type};
  ResultCode result = write.Execute(port, &first);
  for (uint32_t i = pages; result == Ok && i-- > 0;) {
    ShowBlock(lines, b + 4, pages - i + 1, blocks);
    const PageRecord record{image.At(i), kImagePageSize, i, info.type};
    result = write.Execute(port, &record);
  }
  if (result != Ok) {
    lines.Append(b + 4, std::string(" Failed: ") + ResultText(result));
    return result;
  }
  const uint32_t version = PackageVersion(engine);
  engine.info.processorVersion = VersionWord::Of(version);
  lines.Append(b + 4, " Done");
  lines.Set(b + 5, "   Upload version info: " + FormatVersion(version));
  return Ok;
}

ResultCode RecordUpgrade(UpgradeEngine& engine) {
  CVeltrTextFile buildFile;
  const bool haveBuildText =
      buildFile.Open(engine.PackagePath(kBuildTextName)) && buildFile.ReadHead();
  DeviceInfo& info = engine.info;
  if (!IsKnownDeviceType(info.type)) {
    return InvalidParameter;
  }
  const VersionWord version = VersionWord::Of(PackageVersion(engine));
  EepromInfoRecord record;
  record.userText1 = haveBuildText ? buildFile.Text() : info.userText[0];
  record.userText2 = info.userText[1];
  record.versions[0] = record.versions[2] = version.high;
  record.versions[1] = record.versions[3] = version.low;
  CVeltrCommandEEPROMWrite write;
  const ResultCode result = write.Execute(engine.CurrentPort(), &record);
  if (result != Ok) {
    return result;
  }
  info.userText[0] = record.userText1.substr(0, kUserTextSize);
  // The device now records the package version for both parts, whichever were uploaded; the
  // record follows it so that the information lines show what the device holds.
  info.logicVersion = version;
  info.processorVersion = version;
  return Ok;
}

ResultCode UploadUserText(UpgradeEngine& engine) {
  DeviceInfo& info = engine.info;
  EepromInfoRecord record;
  record.userText1 = engine.Request().newUserText[0];
  record.userText2 = engine.Request().newUserText[1];
  record.versions[0] = info.logicVersion.high;
  record.versions[1] = info.logicVersion.low;
  record.versions[2] = info.processorVersion.high;
  record.versions[3] = info.processorVersion.low;
  CVeltrCommandEEPROMWrite write;
  const ResultCode result = write.Execute(engine.CurrentPort(), &record);
  if (result != Ok) {
    return result;
  }
  // The device keeps the first 30 bytes of each text; so does the record.
  info.userText[0] = record.userText1.substr(0, kUserTextSize);
  info.userText[1] = record.userText2.substr(0, kUserTextSize);
  return Ok;
}

ResultCode EraseDeviceSettings(UpgradeEngine& engine) {
  const DeviceInfo& info = engine.info;
  const bool largeArea =
      (info.type == KL1A || info.type == KL1B) && info.hardwareVersion.Word() == 201;
  const uint32_t count = largeArea ? kEraseBytesLarge : kEraseBytesSmall;
  CVeltrCommandEEPROMErase erase;
  return erase.Execute(engine.CurrentPort(), &count);
}

}  // namespace veltr
