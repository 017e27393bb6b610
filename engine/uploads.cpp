#include "engine/uploads.h"

#include <cstdio>
#include <optional>
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
// Where the search reports the upgrade code upload.
constexpr uint32_t kUpgradeCodePage = 0;
constexpr uint32_t kUpgradeCodeLine = 1;
constexpr uint32_t kImagePageSize = 256;

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

void ShowBlock(CVeltrPageLines& lines, uint32_t line, UploadStep step, uint32_t block,
               uint32_t blocks) {
  char text[64];
  std::snprintf(text, sizeof text, "   Uploading %u block of %u ...", block, blocks);
  lines.SetProgress(line, text, {step, block, blocks});
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

// The upgrade code goes in while the search line says " Uploading upgrade code ..."; its blocks
// are counted on that line without changing its text.
ResultCode UploadUpgradeCode(UpgradeEngine& engine, DeviceType reportedType) {
  IVeltrPort& port = engine.CurrentPort();
  const PortId portId = port.GetPortId();
  if (IsUpgradeCodeRefused(reportedType)) {
    return InvalidParameter;
  }
  const std::string name = UpgradeCodeFileName(reportedType, portId);
  const uint32_t pageSize = GetUpgradeCodePageSize(reportedType);
  CVeltrPageFile image(pageSize);
  // A code longer than the page index can reach is refused before its first page goes out.
  if (name.empty() ||
      !image.Load(engine.PackagePath(name), uint64_t{kMaxUpgradeCodePages} * pageSize)) {
    return FailedLoadFile;
  }
  CVeltrCommandUpgradeCodePageWrite write;
  CVeltrPageLines searchLines(engine.Display(), kUpgradeCodePage);
  const uint32_t pages = image.GetSize();
  for (uint32_t i = 0; i < pages; ++i) {
    searchLines.Progress(kUpgradeCodeLine, {UploadStep::UpgradeCode, i + 1, pages});
    const PageRecord record{image.At(i), image.GetPageSize(), i, reportedType};
    if (write.Execute(port, &record) != Ok) {
      return CommunicationFailed;
    }
  }
  CVeltrCommandJumpToUpgradeCode jump;
  return jump.Execute(port) == Ok ? Ok : CommunicationFailed;
}

namespace {

// The first line of the processor step: right below the logic lines when both are uploaded.
uint32_t ProcessorFirstLine(const UpgradeEngine& engine) {
  return (engine.Request().uploadLogic && !engine.Request().uploadBios) ? 7 : 0;
}

// Reads an image whole. A file longer than the device takes is refused unread, as a damaged file;
// one that is not there, not a plain file or not readable is a missing file.
ResultCode LoadImage(CVeltrPageFile& image, const std::string& path, uint64_t maxLength) {
  if (image.Load(path, maxLength)) {
    return Ok;
  }
  return image.GetFileLength() > maxLength ? DamagedFile : FailedLoadFile;
}

// The three loading lines of an image's step, from first on, as they read once the image was
// loaded and checked with the given result. An unknown device type ends them at "Loading file".
void ShowLoading(UpgradeEngine& engine, uint32_t first, const char* heading, ResultCode loaded) {
  CVeltrPageLines lines = ProgressLines(engine);
  lines.Set(first, heading);
  lines.Set(first + 1, FileVersionLine(engine));
  lines.Set(first + 2, "   Loading file ...");
  if (loaded == Ok) {
    lines.Append(first + 2, " Done");
  } else if (loaded == FailedLoadFile) {
    lines.Append(first + 2, " Failed: missing file");
  } else if (loaded == DamagedFile) {
    lines.Append(first + 2, " Failed: damaged file");
  }
}

void ShowLogicLoading(UpgradeEngine& engine, ResultCode loaded) {
  ShowLoading(engine, 0, "Loading Logic and DSP Files", loaded);
}

void ShowProcessorLoading(UpgradeEngine& engine, ResultCode loaded) {
  ShowLoading(engine, ProcessorFirstLine(engine),
              engine.Request().uploadBios ? "Loading Processor BIOS File"
                                          : "Loading Processor and HI Files",
              loaded);
}

ResultCode LoadLogicImage(const UpgradeEngine& engine, CVeltrPageFile& image) {
  const DeviceInfo& info = engine.info;
  if (!IsKnownDeviceType(info.type)) {
    return InvalidParameter;
  }
  const std::string path =
      engine.PackagePath(LogicFileName(info.type, info.Hardware(), engine.Package()));
  const ResultCode loaded = LoadImage(image, path, GetLogicImageSize(info.type, info.Hardware()));
  if (loaded != Ok) {
    return loaded;
  }
  return IsLogicImageValid(info.type, info.Hardware(), image.GetFileLength()) ? Ok : DamagedFile;
}

// The processor image, or the BIOS image with the BIOS flag.
ResultCode LoadProcessorImage(const UpgradeEngine& engine, CVeltrPageFile& image) {
  const DeviceInfo& info = engine.info;
  if (!IsKnownDeviceType(info.type)) {
    return InvalidParameter;
  }
  const bool bios = engine.Request().uploadBios;
  const std::string name = bios ? BiosFileName(info.type, info.Hardware(), engine.Package())
                                : ProcessorFileName(info.type, info.Hardware(), engine.Package());
  const ResultCode loaded =
      LoadImage(image, engine.PackagePath(name), MaxProcessorImageLength(info.type));
  if (loaded != Ok) {
    return loaded;
  }
  const uint64_t length = image.GetFileLength();
  const bool valid = bios ? IsBiosImageValid(info.type, length, image.ByteSum())
                          : IsProcessorImageValid(info.type, length, engine.Package());
  return valid && FitsProcessorFlash(info.type, length) ? Ok : DamagedFile;
}

// "Build.txt" of the package; none when it is missing, unreadable or no plain file.
std::optional<std::string> ReadBuildText(const UpgradeEngine& engine) {
  CVeltrTextFile buildFile;
  if (buildFile.Open(engine.PackagePath(kBuildTextName)) && buildFile.ReadHead()) {
    return buildFile.Text();
  }
  return std::nullopt;
}

ResultCode SendLogicImage(UpgradeEngine& engine, const CVeltrPageFile& image) {
  CVeltrPageLines lines = ProgressLines(engine);
  const DeviceType type = engine.info.type;
  lines.Set(3, "Uploading Logic and DSP Files");
  CVeltrCommandPROMPageWrite write;
  const uint32_t pages = image.GetSize();
  for (uint32_t i = 0; i < pages; ++i) {
    ShowBlock(lines, 4, UploadStep::Logic, i + 1, pages);
    const PageRecord record{image.At(i), kImagePageSize, i, type};
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

ResultCode SendProcessorImage(UpgradeEngine& engine, const CVeltrPageFile& image) {
  CVeltrPageLines lines = ProgressLines(engine);
  const DeviceType type = engine.info.type;
  const uint32_t b = ProcessorFirstLine(engine);
  lines.Set(b + 3, engine.Request().uploadBios ? "Uploading Processor BIOS File"
                                               : "Uploading Processor and HI Files");
  CVeltrCommandUPPageWrite write;
  IVeltrPort& port = engine.CurrentPort();
  const uint32_t pages = image.GetSize();
  const uint32_t blocks = pages + 1;

  uint8_t placeholder[kImagePageSize];
  FillPlaceholderPage(port, placeholder);
  const UploadStep step = engine.Request().uploadBios ? UploadStep::Bios : UploadStep::Processor;
  ShowBlock(lines, b + 4, step, 1, blocks);
  const PageRecord first{placeholder, kImagePageSize, 0, type};
  ResultCode result = write.Execute(port, &first);
  for (uint32_t i = pages; result == Ok && i-- > 0;) {
    ShowBlock(lines, b + 4, step, pages - i + 1, blocks);
    const PageRecord record{image.At(i), kImagePageSize, i, type};
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

ResultCode WriteUpgradeRecord(UpgradeEngine& engine, const std::optional<std::string>& buildText) {
  DeviceInfo& info = engine.info;
  if (!IsKnownDeviceType(info.type)) {
    return InvalidParameter;
  }
  const VersionWord version = VersionWord::Of(PackageVersion(engine));
  EepromInfoRecord record;
  record.userText1 = buildText ? *buildText : info.userText[0];
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

}  // namespace

ResultCode UploadLogicDsp(UpgradeEngine& engine) {
  CVeltrPageFile image(kImagePageSize);
  const ResultCode loaded = LoadLogicImage(engine, image);
  ShowLogicLoading(engine, loaded);
  return loaded == Ok ? SendLogicImage(engine, image) : loaded;
}

ResultCode UploadProcessor(UpgradeEngine& engine) {
  CVeltrPageFile image(kImagePageSize);
  const ResultCode loaded = LoadProcessorImage(engine, image);
  ShowProcessorLoading(engine, loaded);
  return loaded == Ok ? SendProcessorImage(engine, image) : loaded;
}

ResultCode RecordUpgrade(UpgradeEngine& engine) {
  return WriteUpgradeRecord(engine, ReadBuildText(engine));
}

ResultCode UploadFirmware(UpgradeEngine& engine) {
  const bool logicStep = engine.Request().uploadLogic && HasLogicImage(engine.info.type) &&
                         !engine.Request().uploadBios;
  const bool processorStep = engine.Request().uploadProcessor || engine.Request().uploadBios;

  // Every image is read and checked before the first page goes out. When one fails, the loading
  // lines of the steps before it read as in a good upgrade (their images were fine) and no
  // uploading line follows them: nothing was sent.
  CVeltrPageFile logic(kImagePageSize);
  CVeltrPageFile processor(kImagePageSize);
  if (logicStep) {
    const ResultCode loaded = LoadLogicImage(engine, logic);
    if (loaded != Ok) {
      ShowLogicLoading(engine, loaded);
      return loaded;
    }
  }
  if (processorStep) {
    const ResultCode loaded = LoadProcessorImage(engine, processor);
    if (loaded != Ok) {
      if (logicStep) {
        ShowLogicLoading(engine, Ok);
      }
      ShowProcessorLoading(engine, loaded);
      return loaded;
    }
  }
  const std::optional<std::string> buildText = ReadBuildText(engine);

  if (logicStep) {
    ShowLogicLoading(engine, Ok);
    const ResultCode sent = SendLogicImage(engine, logic);
    if (sent != Ok) {
      return sent;
    }
  }
  if (processorStep) {
    ShowProcessorLoading(engine, Ok);
    const ResultCode sent = SendProcessorImage(engine, processor);
    if (sent != Ok) {
      return sent;
    }
  }
  return WriteUpgradeRecord(engine, buildText);
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
  const uint32_t count = GetSettingsAreaSize(info.type, info.Hardware());
  CVeltrCommandEEPROMErase erase;
  return erase.Execute(engine.CurrentPort(), &count);
}

}  // namespace veltr
