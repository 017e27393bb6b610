// What this updater knows of the device family: the type codes it recognises in the identifier,
// the texts it shows for them, the firmware package it carries and the files that hold it. The
// numbering of the type codes is this program's own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace su {

constexpr std::size_t kInfoBlockSize = 128;
using InfoBlock = std::array<std::uint8_t, kInfoBlockSize>;

// The type code of an 8-character identifier; 0 when no row matches. Every row is tested and the
// last one that matches wins.
int TypeFromIdentifier(const std::string& identifier);

// The "connected" text of status line 5; nothing when no text applies to the hardware version
// (the line then keeps what it showed).
std::optional<std::string> ConnectedText(int type, int hardwareVersion);
// The window caption after detection; nothing keeps the search caption.
std::optional<std::string> CaptionOf(int type, int hardwareVersion);

char HwVariantOf(int hardwareVersion, int type);

// "V2.14" for 214.
std::string VersionText(int version);

// The serial number text decoded from the information block; empty when its letter is not A to Z.
std::string DecodeSerialNumber(const InfoBlock& block);

// The firmware versions this package carries, as three-digit texts; empty for an unknown type.
std::string LogicVersionText(int type);
std::string ProcVersionText(int type);
// 100 d1 + 10 d2 + d3 of a three-digit version text.
int VersionNumber(const std::string& text);

enum class ProcLoader { kNone, kBlocks, kWords, kConsole };

struct FileRule {
  const char* name = nullptr;       // "Name in texts"
  const char* logicCode = nullptr;  // nullptr: no logic step
  const char* procCode = nullptr;   // nullptr: the first "*.bin" of the folder
};

// The file rule of a type; nothing for a type without firmware files.
std::optional<FileRule> FileRuleOf(int type);
// The exact length a logic file must have; nothing when no length applies (the file is refused).
std::optional<std::size_t> RequiredLogicLength(int type, int hardwareVersion, char hwVariant);
ProcLoader ProcLoaderOf(int type, int hardwareVersion);
// Whether the device leaves program mode between the logic and the processor image.
bool RebootsBetweenImages(int type, int hardwareVersion);
// Settings bytes an erase writes.
int EraseCount(int type, int hardwareVersion);

// "<code><variant><version>.sop" and ".bin".
std::string LogicFileName(const FileRule& rule, char hwVariant, int type);
std::string ProcFileName(const FileRule& rule, char hwVariant, int type);

// The LNK40E processor file has one permitted length.
constexpr int kLnk40eType = 61;
constexpr std::size_t kLnk40eProcLength = 6070;

}  // namespace su
