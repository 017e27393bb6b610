#include "devsim/device_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace devsim {
namespace {

// KL1A and KL1A-96k (and the two KL1B rows) report the same identifier; only the hardware version
// 220 tells the 96k boards apart.
constexpr std::uint16_t k96kHardware = 220;

constexpr TypeRow kTypes[kTypeCount] = {
    {0, "KL1A", "   KL1 A", 19200, 101},         {1, "KL1A-96k", "   KL1 A", 19200, 220},
    {2, "KL1AP", "  KL1 AP", 19200, 230},        {3, "KL1B", "   KL1 B", 19200, 101},
    {4, "KL1B-96k", "   KL1 B", 19200, 220},     {5, "MT10", "    MT10", 57600, 101},
    {6, "MT10E", "   MT10E", 115200, 120},       {7, "MT20E", "   MT20E", 115200, 120},
    {8, "MT40E", "   MT40E", 115200, 120},       {9, "MT50P", "   MT50P", 115200, 101},
    {10, "RIF Engine", "MorvexIE", 57600, 101},  {11, "RIF Rack", "MorvexIR", 57600, 101},
    {12, "LNK40E", "   LNK4E", 115200, 104},     {13, "PX-16In", " PX 16IN", 57600, 102},
    {14, "PX-16Out", "PX 16OUT", 57600, 102},    {15, "PX-8/8", "  PX 8/8", 57600, 102},
    {16, "PXP-16In", "PX 16IN1", 57600, 102},    {17, "PXP-8/8", " PX 8/81", 57600, 102},
    {18, "HM1", "     HM1", 115200, 110},        {19, "HS1", "     HS1", 115200, 101},
    {20, "HBA-210-USB", " HUSB210", 57600, 110}, {21, "HBA-310-USB", " HUSB310", 57600, 110},
    {22, "MT30E", "   MT30E", 115200, 120},      {23, "RIFSX7", "  RIFSX7", 115200, 101},
    {24, "PXR(-TP)", "     PXR", 115200, 101},   {25, "PXR-FX", "  PXR-FX", 115200, 101},
    {26, "PXR-Series", nullptr, 115200, 101},    {27, "MT10R-FX", "MT10R-FX", 115200, 101},
    {28, "MT20R-FX", "MT20R-FX", 115200, 101},   {29, "MT30R-FX", "MT30R-FX", 115200, 101},
    {30, "VR2-TP", "  VR2-TP", 115200, 101},     {31, "VR8R-FX", " VR8R-FX", 115200, 101},
    {32, "PL1-TP", "  PL1-TP", 115200, 101},
};

bool SameIgnoringCase(const std::string& a, const char* b) {
  const std::string other(b);
  return a.size() == other.size() &&
         std::equal(a.begin(), a.end(), other.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

const TypeRow* FindType(int number) {
  if (number < 0 || number >= kTypeCount) {
    return nullptr;
  }
  return &kTypes[number];
}

std::optional<int> ParseTypeName(const std::string& text) {
  for (const TypeRow& row : kTypes) {
    if (text == row.shortName) {
      return row.number;
    }
  }
  for (const TypeRow& row : kTypes) {
    if (SameIgnoringCase(text, row.shortName)) {
      return row.number;
    }
  }
  int number = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, number);
  if (!text.empty() && ec == std::errc() && ptr == end && FindType(number) != nullptr) {
    return number;
  }
  return std::nullopt;
}

int TypeOfIdentifier(const std::string& identifier, std::uint16_t hardware) {
  for (const TypeRow& row : kTypes) {
    if (row.identifier == nullptr || identifier != row.identifier) {
      continue;
    }
    // The first row of a shared identifier is the plain board; its 96k sibling follows it.
    const TypeRow* next = FindType(row.number + 1);
    if (next != nullptr && next->identifier != nullptr && identifier == next->identifier &&
        hardware == k96kHardware) {
      return next->number;
    }
    return row.number;
  }
  return kUnknownType;
}

int BaudOfType(int type) {
  const TypeRow* row = FindType(type);
  return row != nullptr ? row->baud : kUnknownTypeBaud;
}

std::uint32_t ProcessorPageLimit(int type) {
  if (type == 23) {
    return 992;
  }
  if (type >= 24 && type <= 32) {
    return 1008;
  }
  return 55;
}

std::optional<UsbCode> UsbCodeOfType(int type) {
  // The R-FX boards answer with the shared code 0x94 and tell themselves apart by the variant;
  // the other boards have a code of their own and a variant of 0.
  struct Row {
    int type;
    UsbCode usb;
  };
  static constexpr Row kRows[] = {
      {0, {0x60, 0}},  {1, {0x61, 0}},  {2, {0x62, 0}},  {3, {0x70, 0}},  {4, {0x71, 0}},
      {5, {0x50, 0}},  {6, {0x51, 0}},  {7, {0x54, 0}},  {8, {0x56, 0}},  {10, {0x31, 0}},
      {13, {0x80, 0}}, {14, {0x86, 0}}, {15, {0x83, 0}}, {16, {0x81, 0}}, {17, {0x84, 0}},
      {18, {0x44, 0}}, {19, {0x45, 0}}, {22, {0x52, 0}}, {24, {0x90, 0}}, {25, {0x94, 0}},
      {27, {0x94, 5}}, {28, {0x94, 6}}, {29, {0x94, 7}}, {30, {0x47, 0}}, {31, {0x94, 10}},
      {32, {0x10, 0}},
  };
  for (const Row& row : kRows) {
    if (row.type == type) {
      return row.usb;
    }
  }
  return std::nullopt;
}

}  // namespace devsim
