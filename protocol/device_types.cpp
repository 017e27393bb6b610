#include "protocol/device_types.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace veltr {
namespace {

// The hardware word that marks the 96 kHz variants of the KL1A and KL1B: they report the same
// identifier as the 48 kHz boxes and differ only in this word.
constexpr uint16_t kHighRateHardware = 220;

// Expected logic image size: `below` for hardware words under `threshold`, else `from`. A size that
// does not depend on the hardware has threshold 0.
struct LogicSizeRule {
  uint16_t threshold;
  uint32_t below;
  uint32_t from;
};

struct RevisionEntry {
  uint16_t hardware;  // 0 ends the list; no device reports hardware 0.00 for a served revision
  const char* digit;
};

// The revision digit of the firmware file names: `anyHardware` when the digit does not depend on
// the hardware, else the digit of the listed hardware words; any other word has no firmware.
struct RevisionRule {
  const char* anyHardware;
  std::array<RevisionEntry, 4> entries;
};

// The upgrade code a USB or Ethernet device is given before program mode: pages of pageSize bytes
// (0: the type takes none). The RIF boxes list a page size but are never given one.
struct UpgradeCodeRule {
  uint32_t pageSize;
  bool refused;
};

// What a processor BIOS image must be; only the types with a writable BIOS have one, for all
// others only an empty image matches.
struct BiosImageRule {
  uint32_t length;
  uint32_t byteSum;
};

enum LogicImage : bool { kNoLogic = false, kLogic = true };
// Where the processor image's length is laid down: nowhere, or by the package description.
enum ProcessorLength : bool { kAnyLength = false, kPackageLength = true };

struct DeviceTypeRow {
  const char* shortName;
  const char* longName;
  const char* identifier;  // exactly 8 bytes, leading blanks included; nullptr: never reported
  DeviceType at220;        // the type this identifier gives for hardware word 220, if another
  int32_t baud;
  const char* fileCode;  // nullptr: no firmware files
  int32_t packageVersion;
  LogicSizeRule logicSize;
  RevisionRule revision;
  uint16_t minimumHardware;  // 0: every revision can be upgraded
  uint32_t processorPages;   // 256-byte pages of the processor flash
  UpgradeCodeRule upgradeCode;
  LogicImage logicImage;  // whether a firmware upgrade writes a logic image at all
  ProcessorLength processorLength;
  uint16_t minimumBios;  // the BIOS a processor upgrade needs first; 0: none
  BiosImageRule bios;
  uint16_t largeSettingsHardware;  // the hardware word with the large settings area; 0: none
};

constexpr LogicSizeRule kKlLogic{200, 31146, 97652};
constexpr LogicSizeRule kMtELogic{120, 163172, 212392};
constexpr LogicSizeRule kHm1Logic{110, 163172, 212392};
constexpr LogicSizeRule Fixed(uint32_t size) {
  return {0, 0, size};
}

constexpr RevisionRule kKlRevision{nullptr, {{{101, "1"}, {102, "2"}, {201, "3"}, {210, "3"}}}};
constexpr RevisionRule kKlHighRateRevision{nullptr, {{{220, "3"}}}};
constexpr RevisionRule kKlApRevision{nullptr, {{{230, "4"}, {231, "4"}}}};
constexpr RevisionRule kMt10Revision{nullptr, {{{101, "1"}, {110, "1"}, {111, "1"}}}};
constexpr RevisionRule kMtERevision{nullptr, {{{103, "1"}, {120, "2"}}}};
constexpr RevisionRule kMt20ERevision{nullptr, {{{101, "1"}, {120, "2"}}}};
constexpr RevisionRule kOnly101{nullptr, {{{101, "1"}}}};
constexpr RevisionRule kLnkRevision{nullptr, {{{104, "1"}}}};
constexpr RevisionRule kPxRevision{nullptr, {{{102, "1"}, {104, "1"}}}};
constexpr RevisionRule kHm1Revision{nullptr, {{{101, "1"}, {110, "2"}}}};
constexpr RevisionRule kHbaRevision{nullptr, {{{110, "1"}}}};
constexpr RevisionRule kAlways1{"1", {}};
constexpr RevisionRule kAlways2{"2", {}};
constexpr RevisionRule kNoRevision{nullptr, {}};

constexpr DeviceType kNone = kNoDeviceType;

// The processor flash: 56 pages on the older boards, more on the RIFSX7 and the FX generation.
constexpr uint32_t kSmallFlash = 56;
constexpr uint32_t kSx7Flash = 993;
constexpr uint32_t kFxFlash = 1009;

constexpr UpgradeCodeRule kNoCode{0, false};
constexpr UpgradeCodeRule kCode{512, false};
constexpr UpgradeCodeRule kRifCode{512, true};

constexpr BiosImageRule kNoBios{0, 0};
constexpr BiosImageRule kPxrBios{0x3A00, 2149098};
constexpr BiosImageRule kFxBios{0x3A00, 2149384};

// The KL1A and KL1B boards of hardware 2.01 carry the large settings area.
constexpr uint16_t kKlLargeSettings = 201;
constexpr uint32_t kLargeSettingsBytes = 896;
constexpr uint32_t kSettingsBytes = 384;

// clang-format off
constexpr std::array<DeviceTypeRow, kDeviceTypeCount> kRows{{
// short name     long name                                    identifier  at 220    baud    code   ver  logic size        revision             min  processor    upgrade   logic     processor       min  BIOS      large
//                                                                                                                                              hw   flash        code      image     length          BIOS image     settings
  {"KL1A",        "KL1A (Stage Box device)",                   "   KL1 A", KL1A_96k, 19200,  "k1a", 211, kKlLogic,         kKlRevision,         0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  kKlLargeSettings},
  {"KL1A-96k",    "KL1A-96k (Stage Box device)",               "   KL1 A", kNone,    19200,  "k1a", 211, kKlLogic,         kKlHighRateRevision, 0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"KL1AP",       "KL1AP (Stage Box device)",                  "  KL1 AP", kNone,    19200,  "k1a", 211, kKlLogic,         kKlApRevision,       0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"KL1B",        "KL1B (Front of House device)",              "   KL1 B", KL1B_96k, 19200,  "k1b", 211, kKlLogic,         kKlRevision,         0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  kKlLargeSettings},
  {"KL1B-96k",    "KL1B-96k (Front of House device)",          "   KL1 B", kNone,    19200,  "k1b", 211, kKlLogic,         kKlHighRateRevision, 0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT10",        "MT10",                                      "    MT10", kNone,    57600,  "m10", 211, Fixed(97652),     kMt10Revision,       0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT10E",       "MT10E",                                     "   MT10E", kNone,    115200, "m1e", 211, kMtELogic,        kMtERevision,        120, kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT20E",       "MT20E",                                     "   MT20E", kNone,    115200, "m2e", 211, kMtELogic,        kMt20ERevision,      120, kSmallFlash, kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT40E",       "MT40E",                                     "   MT40E", kNone,    115200, "m4e", 211, kMtELogic,        kMtERevision,        120, kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT50P",       "MT50P",                                     "   MT50P", kNone,    115200, "m5p", 211, Fixed(0),         kOnly101,            0,   kSmallFlash, kNoCode,  kNoLogic, kAnyLength,     0,   kNoBios,  0},
  {"RIF Engine",  "Morvex Veltrano Interface (Engine)",        "MorvexIE", kNone,    57600,  "rif", 134, Fixed(97652),     kOnly101,            0,   kSmallFlash, kRifCode, kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"RIF Rack",    "Morvex Veltrano Interface (Rack)",          "MorvexIR", kNone,    57600,  "rif", 134, Fixed(97652),     kOnly101,            0,   kSmallFlash, kRifCode, kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"LNK40E",      "LNK40E",                                    "   LNK4E", kNone,    115200, "l4e", 211, Fixed(163172),    kLnkRevision,        0,   kSmallFlash, kNoCode,  kLogic,   kPackageLength, 0,   kNoBios,  0},
  {"PX-16In",     "PX-16In",                                   " PX 16IN", kNone,    57600,  "pxa", 211, Fixed(97652),     kPxRevision,         0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"PX-16Out",    "PX-16Out",                                  "PX 16OUT", kNone,    57600,  "pxb", 211, Fixed(97652),     kPxRevision,         0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"PX-8/8",      "PX-8/8",                                    "  PX 8/8", kNone,    57600,  "pxc", 211, Fixed(97652),     kPxRevision,         0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"PXP-16In",    "PXP-16In",                                  "PX 16IN1", kNone,    57600,  "pxf", 211, Fixed(97652),     kPxRevision,         0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"PXP-8/8",     "PXP-8/8",                                   " PX 8/81", kNone,    57600,  "pxg", 211, Fixed(97652),     kPxRevision,         0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"HM1",         "Halvik Veltrano Interface HM1 (Main Card)", "     HM1", kNone,    115200, "hm1", 211, kHm1Logic,        kHm1Revision,        110, kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"HS1",         "Halvik Veltrano Interface HS1 (Sub Card)",  "     HS1", kNone,    115200, "hs1", 211, Fixed(54908),     kOnly101,            0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"HBA-210-USB", "HBA-210-USB",                               " HUSB210", kNone,    57600,  "h31", 110, Fixed(69900),     kHbaRevision,        0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"HBA-310-USB", "HBA-310-USB",                               " HUSB310", kNone,    57600,  "h31", 110, Fixed(69900),     kHbaRevision,        0,   kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT30E",       "MT30E",                                     "   MT30E", kNone,    115200, "m3e", 211, Fixed(212392),    kAlways2,            120, kSmallFlash, kNoCode,  kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"RIFSX7",      "RIFSX7",                                    "  RIFSX7", kNone,    115200, "rx7", 211, Fixed(773864),    kAlways1,            0,   kSx7Flash,   kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"PXR(-TP)",    "PXR(-TP)",                                  "     PXR", kNone,    115200, "pxr", 213, Fixed(235820),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     108, kPxrBios, 0},
  {"PXR-FX",      "PXR-FX",                                    "  PXR-FX", kNone,    115200, "pxx", 213, Fixed(773864),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     108, kFxBios,  0},
  {"PXR-Series",  "Unknown device",                            nullptr,    kNone,    115200, nullptr, 213, Fixed(0),       kNoRevision,         0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT10R-FX",    "MT10R-FX",                                  "MT10R-FX", kNone,    115200, "10r", 213, Fixed(773864),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT20R-FX",    "MT20R-FX",                                  "MT20R-FX", kNone,    115200, "20r", 213, Fixed(773864),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"MT30R-FX",    "MT30R-FX",                                  "MT30R-FX", kNone,    115200, "30r", 213, Fixed(773864),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"VR2-TP",      "VR2-TP",                                    "  VR2-TP", kNone,    115200, "v2r", 213, Fixed(235820),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
  {"VR8R-FX",     "VR8R-FX",                                   " VR8R-FX", kNone,    115200, "v8r", 211, Fixed(773864),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     0,   kFxBios,  0},
  {"PL1-TP",      "Pellor Veltrano Interface PL1-TP",          "  PL1-TP", kNone,    115200, "pl1", 0,   Fixed(235820),    kAlways1,            0,   kFxFlash,    kCode,    kLogic,   kAnyLength,     0,   kNoBios,  0},
}};
// clang-format on

constexpr bool IdentifiersAreEightBytes() {
  for (const DeviceTypeRow& row : kRows) {
    if (row.identifier != nullptr && std::char_traits<char>::length(row.identifier) != 8) {
      return false;
    }
  }
  return true;
}
static_assert(IdentifiersAreEightBytes(), "identifiers are compared as 8 raw bytes");

constexpr bool TypesWithoutLogicExpectNoLogicImage() {
  for (const DeviceTypeRow& row : kRows) {
    if (!row.logicImage && (row.logicSize.below != 0 || row.logicSize.from != 0)) {
      return false;
    }
  }
  return true;
}
static_assert(TypesWithoutLogicExpectNoLogicImage(), "a type without logic has no logic size");

// What a value outside 0 to 32 (and the type -1 of an unmatched identifier) behaves as.
// It keeps the logic step of a firmware upgrade, which is where an unknown device is refused.
constexpr DeviceTypeRow kDefaultRow{
    "Unknown",   "Unknown device", nullptr, kNone,      19200, nullptr, 0, Fixed(0), kNoRevision, 0,
    kSmallFlash, kNoCode,          kLogic,  kAnyLength, 0,     kNoBios, 0};

// The order in which a reported identifier is compared with the rows. The 96 kHz rows are not
// listed: they are reached through the row whose identifier they share.
constexpr std::array<DeviceType, 30> kIdentifierOrder{
    KL1A,  KL1AP,   KL1B,   MT10,      MT10E,   MT20E,   MT40E,   MT50P,  PX16In,    PX16Out,
    PX8_8, PXP16In, PXP8_8, RIFEngine, RIFRack, HM1,     HS1,     LNK40E, HBA210USB, HBA310USB,
    MT30E, RIFSX7,  PXR,    PXRFX,     MT10RFX, MT20RFX, MT30RFX, VR2TP,  VR8RFX,    PL1TP,
};

const DeviceTypeRow& Row(DeviceType type) {
  return IsKnownDeviceType(type) ? kRows[static_cast<size_t>(type)] : kDefaultRow;
}

std::optional<std::string> Text(const char* text) {
  if (text == nullptr) {
    return std::nullopt;
  }
  return std::string(text);
}

// Serial number area: every stored byte x codes the value (232 - x) mod 256, and its low four bits
// say how many bytes further down the next coded byte lies (0 meaning 16).
constexpr size_t kSerialStart = 58;
constexpr uint8_t kSerialOffset = 232;

uint8_t SerialValue(uint8_t coded) {
  return static_cast<uint8_t>(kSerialOffset - coded);
}
size_t SerialStep(uint8_t coded) {
  return (coded & 15) == 0 ? 16 : (coded & 15);
}

}  // namespace

const char* GetShortName(DeviceType type) {
  return Row(type).shortName;
}

const char* GetLongName(DeviceType type) {
  return Row(type).longName;
}

std::optional<std::string> GetFileCode(DeviceType type) {
  return Text(Row(type).fileCode);
}

int32_t BaudRateForType(DeviceType type) {
  return Row(type).baud;
}

int32_t DefaultPackageVersion(DeviceType type) {
  return Row(type).packageVersion;
}

std::optional<std::string> GetRevisionDigit(DeviceType type, HardwareVersion hw) {
  const RevisionRule& rule = Row(type).revision;
  if (rule.anyHardware != nullptr) {
    return std::string(rule.anyHardware);
  }
  for (const RevisionEntry& entry : rule.entries) {
    if (entry.hardware != 0 && entry.hardware == hw.Word()) {
      return std::string(entry.digit);
    }
  }
  return std::nullopt;
}

uint32_t GetLogicImageSize(DeviceType type, HardwareVersion hw) {
  const LogicSizeRule& rule = Row(type).logicSize;
  return hw.Word() < rule.threshold ? rule.below : rule.from;
}

bool IsHardwareSupported(DeviceType type, HardwareVersion hw) {
  return hw.Word() >= Row(type).minimumHardware;
}

uint32_t GetProcessorPageCount(DeviceType type) {
  return Row(type).processorPages;
}

uint32_t GetUpgradeCodePageSize(DeviceType type) {
  return Row(type).upgradeCode.pageSize;
}

bool IsUpgradeCodeRefused(DeviceType type) {
  return Row(type).upgradeCode.refused;
}

bool HasLogicImage(DeviceType type) {
  return Row(type).logicImage;
}

bool HasPackageProcessorLength(DeviceType type) {
  return Row(type).processorLength;
}

uint16_t GetMinimumBiosVersion(DeviceType type) {
  return Row(type).minimumBios;
}

uint32_t GetBiosImageLength(DeviceType type) {
  return Row(type).bios.length;
}

uint32_t GetBiosImageSum(DeviceType type) {
  return Row(type).bios.byteSum;
}

uint32_t GetSettingsAreaSize(DeviceType type, HardwareVersion hw) {
  const uint16_t large = Row(type).largeSettingsHardware;
  return large != 0 && hw.Word() == large ? kLargeSettingsBytes : kSettingsBytes;
}

DeviceType TypeFromIdentifier(const uint8_t identifier[8], HardwareVersion hw) {
  for (DeviceType type : kIdentifierOrder) {
    const DeviceTypeRow& row = Row(type);
    if (std::memcmp(identifier, row.identifier, 8) != 0) {
      continue;
    }
    if (row.at220 != kNoDeviceType && hw.Word() == kHighRateHardware) {
      return row.at220;
    }
    return type;
  }
  return kNoDeviceType;
}

DeviceType TypeFromShortName(const std::string& shortName) {
  for (size_t i = 0; i < kRows.size(); ++i) {
    if (shortName == kRows[i].shortName) {
      return static_cast<DeviceType>(i);
    }
  }
  return kNoDeviceType;
}

std::optional<std::string> DecodeSerialNumber(const uint8_t serialArea[64]) {
  // The smallest position reachable is 58 - 16 - 16 - 16 = 10, so the walk stays in the area.
  size_t position = kSerialStart;
  const uint8_t value0 = SerialValue(serialArea[position]);
  position -= SerialStep(serialArea[position]);
  const uint8_t value1 = SerialValue(serialArea[position]);
  position -= SerialStep(serialArea[position]);
  const uint8_t letter = SerialValue(serialArea[position]);
  if (letter < 'A' || letter > 'Z') {
    return std::nullopt;
  }
  position -= SerialStep(serialArea[position]);
  const int high = static_cast<int8_t>(SerialValue(serialArea[position]));
  const int number = high * 200 + value0;

  char text[32];
  std::snprintf(text, sizeof text, "%c-%02d-%02d%02d", static_cast<char>(letter), value1,
                number / 100, number % 100);
  return std::string(text);
}

}  // namespace veltr
