#include "device_tables.h"

#include <algorithm>

namespace su {
namespace {

struct TypeTest {
  int code;
  int position;  // 13: the last three characters of the identifier; 10: characters 3 to 5
  const char* text;
};

// Tested in this order, every row, the last match winning: "  PXR-FX" passes the PXR row by its
// last three characters only when the FX row, tested later, does not take it by its middle ones.
constexpr TypeTest kTypeTests[] = {
    {1, 13, "C16"},  {10, 13, "1 A"},  {10, 13, " AP"},  {11, 13, "1 B"},  {20, 13, "T10"},
    {21, 13, "10E"}, {24, 13, "20E"},  {25, 13, "30E"},  {26, 13, "40E"},  {28, 13, "50P"},
    {30, 13, "6IN"}, {31, 13, "OUT"},  {32, 13, "8/8"},  {35, 13, "IN1"},  {36, 13, "/81"},
    {50, 13, "xIE"}, {51, 13, "xIR"},  {52, 13, "SX7"},  {54, 13, "HM1"},  {55, 13, "HS1"},
    {61, 13, "K4E"}, {90, 13, "PXR"},  {94, 10, "PXR"},  {40, 10, "10R"},  {42, 10, "30R"},
    {44, 10, "20R"}, {100, 13, "400"}, {110, 13, "210"}, {111, 13, "310"},
};

// Answer byte 8 is identifier character 0.
constexpr int kIdentifierStart = 8;

struct TypeText {
  int code;
  const char* connected;  // after " You are connected to "
  const char* caption;    // after "Update: "
};

// Types whose texts do not depend on the hardware version.
constexpr TypeText kTypeTexts[] = {
    {1, "RC16", "RC16"},
    {20, "MT10", "MT10"},
    {21, "MT10E", "MT10E"},
    {24, "MT20E", "MT20E"},
    {25, "MT30E", "MT30E"},
    {26, "MT40E", "MT40E"},
    {28, "MT50P", "MT50P"},
    {30, "PX-16In", "PX-16In"},
    {31, "PX-16Out", "PX-16Out"},
    {32, "PX-8/8", "PX-8/8"},
    {35, "PX-16In-1dB", "PXP-16In (1dB)"},
    {36, "PX-8/8-1dB", "PXP-8/8 (1dB)"},
    {50, "Morvex Veltrano Interface (Engine)", "Morvex Veltrano Interface (Engine)"},
    {51, "Morvex Veltrano Interface (Rack)", "Morvex Veltrano Interface (Rack)"},
    {52, "Morvex SX7 Veltrano Interface", "Morvex SX7 Veltrano Interface"},
    {54, "Halvik Veltrano Interface HM1 (Main Module)",
     "Halvik Veltrano Interface HM1 (Main Module)"},
    {55, "Halvik Veltrano Interface HS1 (Sub Module)",
     "Halvik Veltrano Interface HS1 (Sub Module)"},
    {61, "LNK40E", "LNK40E"},
    {90, "PXR-Series", "PXR-Series"},
    {94, "PXR-FX-Series", "PXR-FX-Series"},
    {40, "MT10R-FX", "MT10R-FX"},
    {42, "MT30R-FX", "MT30R-FX"},
    {44, "MT20R-FX", "MT20R-FX"},
    {100, "MXU4400", "MXU4400"},
    {110, "HBA-210-USB", "HBA-210-USB"},
    {111, "HBA-310-USB", "HBA-310-USB"},
};

const TypeText* FindTypeText(int type) {
  for (const TypeText& row : kTypeTexts) {
    if (row.code == type) {
      return &row;
    }
  }
  return nullptr;
}

struct PackageRow {
  int code;
  const char* logicVersion;
  const char* procVersion;
  FileRule files;
};

constexpr PackageRow kPackage[] = {
    {1, "102", "102", {"RC16", "PR16", nullptr}},
    {10, "214", "214", {"KL1A", "PL1A", "UL1A"}},
    {11, "214", "214", {"KL1B", "PL1B", "UL1B"}},
    {20, "212", "212", {"MT10", "PT10", "UT10"}},
    {21, "214", "214", {"MT10E", "PT1E", "UT1E"}},
    {24, "214", "214", {"MT20E", "PT2E", "UT2E"}},
    {25, "214", "214", {"MT30E", "PT3E", "UT3E"}},
    {26, "214", "214", {"MT40E", "PT4E", "UT4E"}},
    {28, "214", "214", {"MT50P", nullptr, "UT5P"}},
    {30, "214", "214", {"PX-16IN", "PPXA", "UPXA"}},
    {31, "214", "214", {"PX-16OUT", "PPXB", "UPXB"}},
    {32, "214", "214", {"PX-8/8", "PPXC", "UPXC"}},
    {35, "214", "214", {"PX-16IN-1dB", "PPXF", "UPXF"}},
    {36, "214", "214", {"PX-8/8-1dB", "PPXG", "UPXG"}},
    {50, "134", "134", {"Morvex IF", "PMIF", "UMIF"}},
    {51, "134", "134", {"Morvex IF", "PMIF", "UMIF"}},
    {52, "221", "221", {"Morvex SX7", "PMX7", "UMX7"}},
    {54, "214", "214", {"Halvik HM1", "PHM1", "UHM1"}},
    {55, "214", "214", {"Halvik HS1", "PHS1", "UHS1"}},
    {61, "212", "212", {"LNK40E", "PL4E", "UL4E"}},
    {90, "214", "214", {"PXR", "PPXR", "UPXR"}},
    {94, "214", "214", {"PXR-FX", "PPXX", "UPXX"}},
    {40, "214", "214", {"MT10R-FX", "P10R", "U10R"}},
    {42, "214", "214", {"MT30R-FX", "P30R", "U30R"}},
    {44, "214", "214", {"MT20R-FX", "P20R", "U20R"}},
    {100, "111", "111", {"MXU4400", "PMXU", "UMXU"}},
    {110, "110", "110", {"HBA-310-USB", "PH31", "UH31"}},
    {111, "110", "110", {"HBA-310-USB", "PH31", "UH31"}},
};

const PackageRow* FindPackageRow(int type) {
  for (const PackageRow& row : kPackage) {
    if (row.code == type) {
      return &row;
    }
  }
  return nullptr;
}

constexpr std::size_t kSmallLogic = 31146;
constexpr std::size_t kMidLogic = 97652;
constexpr std::size_t kLargeLogic = 163172;
constexpr std::size_t kLargerLogic = 212392;
constexpr std::size_t kHugeLogic = 773864;

// A digit character '0' + value; a place value above 9 runs on past '9' in the character table.
char Digit(int value) {
  return static_cast<char>('0' + value);
}

}  // namespace

int TypeFromIdentifier(const std::string& identifier) {
  int type = 0;
  if (identifier.size() != 8) {
    return type;
  }
  for (const TypeTest& row : kTypeTests) {
    const std::size_t start = static_cast<std::size_t>(row.position - kIdentifierStart);
    if (identifier.compare(start, 3, row.text) == 0) {
      type = row.code;
    }
  }
  return type;
}

std::optional<std::string> ConnectedText(int type, int hw) {
  const std::string prefix = " You are connected to ";
  if (type == 0) {
    return std::string(" No supported device found!");
  }
  if (type == 10) {
    if (hw < 220) {
      return prefix + "KL1A (Stage Box device).";
    }
    if (hw == 220) {
      return prefix + "KL1A-96k (Stage Box device).";
    }
    if (hw >= 230) {
      return prefix + "KL1AP (Stage Box device).";
    }
    return std::nullopt;
  }
  if (type == 11) {
    if (hw < 220) {
      return prefix + "KL1B (Front of House device).";
    }
    if (hw == 220) {
      return prefix + "KL1B-96k (Front of House device).";
    }
    return std::nullopt;
  }
  if (const TypeText* row = FindTypeText(type)) {
    return prefix + row->connected + ".";
  }
  return std::nullopt;
}

std::optional<std::string> CaptionOf(int type, int hw) {
  const std::string prefix = "Update: ";
  if (type == 10) {
    if (hw < 220) {
      return prefix + "KL1A";
    }
    if (hw == 220) {
      return prefix + "KL1A-96k";
    }
    if (hw == 230) {
      return prefix + "KL1AP";
    }
    return std::nullopt;
  }
  if (type == 11) {
    return prefix + "KL1B";
  }
  if (const TypeText* row = FindTypeText(type)) {
    return prefix + row->caption;
  }
  return std::nullopt;
}

char HwVariantOf(int hw, int t) {
  // Applied in order; a later rule overrides an earlier one.
  char variant = '0';
  if (hw == 101)
    variant = '1';
  if (hw == 102 && t <= 11)
    variant = '2';
  if (hw == 102 && t >= 30)
    variant = '1';
  if (hw == 103)
    variant = '1';
  if (hw == 104)
    variant = '1';
  if (hw == 110)
    variant = '1';
  if (hw == 110 && t == 54)
    variant = '2';
  if (hw == 110 && t == 21)
    variant = 'v';
  if (hw == 120 && (t == 21 || t == 24 || t == 25 || t == 26))
    variant = '2';
  if (hw == 111)
    variant = '1';
  if (hw >= 201 && t >= 10)
    variant = '3';
  if (hw >= 230 && t == 10)
    variant = '4';
  if (hw == 201 && t == 1)
    variant = '1';
  if (hw == 202)
    variant = '1';
  if (hw == 203)
    variant = '2';
  return variant;
}

std::string VersionText(int version) {
  std::string text = "V" + std::to_string(version / 100) + ".";
  text += Digit((version % 100) / 10);
  text += Digit(version % 10);
  return text;
}

std::string DecodeSerialNumber(const InfoBlock& b) {
  // Four scattered bytes, each stored as 232 - value (modulo 256); the low four bits of each stored
  // byte say how far the next one lies (16 when they are 0).
  int values[4] = {};
  std::size_t p = 69;
  for (int& value : values) {
    const std::uint8_t stored = b[p];
    value = (232 - stored) & 0xFF;
    p += (stored & 0x0F) != 0 ? (stored & 0x0F) : 16;
  }
  const int letter = values[2];
  if (letter < 'A' || letter > 'Z') {
    return {};
  }
  const int group = values[1];
  const int number = values[0] + 200 * values[3];
  std::string text;
  text += static_cast<char>(letter);
  text += '-';
  text += Digit(group / 10);
  text += Digit(group % 10);
  text += '-';
  text += Digit(number / 1000);
  text += Digit(number / 100 % 10);
  text += Digit(number / 10 % 10);
  text += Digit(number % 10);
  return text;
}

std::string LogicVersionText(int type) {
  const PackageRow* row = FindPackageRow(type);
  return row != nullptr ? row->logicVersion : "";
}

std::string ProcVersionText(int type) {
  const PackageRow* row = FindPackageRow(type);
  return row != nullptr ? row->procVersion : "";
}

int VersionNumber(const std::string& text) {
  if (text.size() != 3) {
    return 0;
  }
  return 100 * (text[0] - '0') + 10 * (text[1] - '0') + (text[2] - '0');
}

std::optional<FileRule> FileRuleOf(int type) {
  const PackageRow* row = FindPackageRow(type);
  if (row == nullptr) {
    return std::nullopt;
  }
  return row->files;
}

std::optional<std::size_t> RequiredLogicLength(int type, int hw, char hwVariant) {
  switch (type) {
    case 1:
      return 22395;
    case 10:
    case 11:
      if (hw < 200)
        return kSmallLogic;
      if (hw > 200)
        return kMidLogic;
      return std::nullopt;
    case 21:
    case 24:
    case 25:
    case 26:
      if (hw < 115)
        return kLargeLogic;
      if (hw > 115)
        return kLargerLogic;
      return std::nullopt;
    case 54:
      if (hw < 105)
        return kLargeLogic;
      if (hw > 105)
        return kLargerLogic;
      return std::nullopt;
    case 20:
    case 30:
    case 31:
    case 32:
    case 35:
    case 36:
    case 50:
    case 51:
      return kMidLogic;
    case 55:
      return 54908;
    case 61:
      return kLargeLogic;
    case 90:
      return 235820;
    case 52:
    case 94:
    case 40:
    case 42:
    case 44:
      return kHugeLogic;
    case 100:
      if (hwVariant == '1')
        return 22395;
      if (hwVariant == '2')
        return 22268;
      return std::nullopt;
    case 110:
    case 111:
      return 69900;
    default:
      return std::nullopt;
  }
}

ProcLoader ProcLoaderOf(int type, int hw) {
  if (!FindPackageRow(type)) {
    return ProcLoader::kNone;
  }
  if (type == 1) {
    return ProcLoader::kConsole;
  }
  if (type == 100 || (type >= 10 && type <= 19 && hw < 200)) {
    return ProcLoader::kWords;
  }
  if ((type >= 10 && type <= 19 && hw > 200) || (type >= 20 && type <= 99) || type >= 110) {
    return ProcLoader::kBlocks;
  }
  return ProcLoader::kNone;
}

bool RebootsBetweenImages(int type, int hw) {
  const bool stays =
      (type >= 10 && type <= 19 && hw >= 200) || (type >= 20 && type <= 99) || type >= 110;
  return !stays;
}

int EraseCount(int type, int hw) {
  return hw == 201 && (type == 10 || type == 11) ? 896 : 384;
}

std::string LogicFileName(const FileRule& rule, char hwVariant, int type) {
  return std::string(rule.logicCode) + hwVariant + LogicVersionText(type) + ".sop";
}

std::string ProcFileName(const FileRule& rule, char hwVariant, int type) {
  return std::string(rule.procCode) + hwVariant + ProcVersionText(type) + ".bin";
}

}  // namespace su
