// The device's persistent memory: what it says about itself, its EEPROM and its two flashes, plus a
// log of every write so that tests can check the order in which a host wrote things.
//
// On disk (one folder per device):
//   identity.json   type, versions, identifier override, serial number text
//   eeprom.bin      128-byte info area followed by the 896-byte settings area
//   logic.bin       logic PROM, page index = PROM address / 2, 256 bytes a page
//   processor.bin   processor flash, page index = the address, 256 bytes a page
//   writelog.json   one entry per write, numbered in the order the device took them
// A running simulator writes each page and EEPROM byte it takes into its file before it answers,
// as flash keeps what it acknowledged; the other files follow once the line is quiet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

constexpr const char* kIdentityFileName = "identity.json";
constexpr const char* kEepromFileName = "eeprom.bin";
constexpr const char* kLogicFileName = "logic.bin";
constexpr const char* kProcessorFileName = "processor.bin";
constexpr const char* kWriteLogFileName = "writelog.json";

constexpr std::size_t kPageSize = 256;
constexpr std::size_t kInfoAreaSize = 128;
constexpr std::size_t kSettingsAreaSize = 896;
constexpr std::size_t kEepromSize = kInfoAreaSize + kSettingsAreaSize;
constexpr std::size_t kTextSize = 30;

// Offsets inside the info area.
constexpr std::size_t kSerialOffset = 0;
constexpr std::size_t kText1Offset = 64;
constexpr std::size_t kText2Offset = 94;
constexpr std::size_t kLogicVersionOffset = 124;
constexpr std::size_t kProcessorVersionOffset = 126;
// What an EEPROM write replaces: texts and both version words.
constexpr std::size_t kWritableOffset = kText1Offset;
constexpr std::size_t kWritableSize = kInfoAreaSize - kWritableOffset;

struct Identity {
  int type = 0;
  std::uint16_t hardwareVersion = 0;
  std::uint16_t uploaderVersion = 0;
  // Empty: the identifier of the type's row. Otherwise exactly 8 bytes.
  std::string identifierOverride;
  std::string serialNumber;

  // The 8 bytes the device reports.
  std::string Identifier() const;
  // The type a host would judge the device to be: decides the program-mode speed and the processor
  // flash size. With an overridden identifier that matches no row it is the unknown type.
  int EffectiveType() const;
};

enum class WriteKind { kLogicPage, kProcessorPage, kUpgradeCodePage, kEepromWrite, kEepromErase };

struct WriteLogEntry {
  std::uint64_t sequence = 0;
  WriteKind kind = WriteKind::kLogicPage;
  std::uint32_t page = 0;   // pages only; the part number sits in `count` for upgrade-code pages
  std::uint32_t count = 0;  // bytes erased for an erase
};

const char* WriteKindName(WriteKind kind);

struct DeviceState {
  Identity identity;
  std::array<std::uint8_t, kEepromSize> eeprom{};
  std::vector<std::uint8_t> logic;      // grows to the highest page written
  std::vector<std::uint8_t> processor;  // grows to the highest page written
  std::vector<WriteLogEntry> writeLog;
  std::uint64_t nextSequence = 1;

  // 256 bytes of a page; unwritten flash reads FF.
  std::vector<std::uint8_t> LogicPage(std::uint32_t index) const;
  std::vector<std::uint8_t> ProcessorPage(std::uint32_t index) const;
  // `length` bytes of flash from byte 0, FF where nothing was written: compare with a whole image.
  std::vector<std::uint8_t> LogicBytes(std::size_t length) const;
  std::vector<std::uint8_t> ProcessorBytes(std::size_t length) const;

  void StoreLogicPage(std::uint32_t index, const std::uint8_t* data);
  void StoreProcessorPage(std::uint32_t index, const std::uint8_t* data);
  void Log(WriteKind kind, std::uint32_t page, std::uint32_t count);

  std::array<std::uint8_t, kInfoAreaSize> InfoArea() const;
  void SetText(int which, const std::string& text);  // which: 1 or 2; at most 30 bytes, FF padded
  void SetLogicVersion(std::uint16_t word);
  void SetProcessorVersion(std::uint16_t word);
  bool SetSerialNumber(const std::string& text);
};

// A factory-fresh device of a type: its default hardware, empty texts, settings holding a pattern
// (so that an erase shows), flash all FF.
std::optional<DeviceState> NewDevice(int type, std::string* error);

// What the command line can say about a device; anything left empty keeps the stored value.
struct IdentityChanges {
  std::optional<int> type;
  std::optional<std::uint16_t> hardwareVersion;
  std::optional<std::uint16_t> uploaderVersion;
  std::optional<std::string> serialNumber;
  std::optional<std::string> text1;
  std::optional<std::string> text2;
  std::optional<std::uint16_t> logicVersion;
  std::optional<std::uint16_t> processorVersion;
  std::optional<std::string> identifier;
};

bool ApplyChanges(DeviceState& state, const IdentityChanges& changes, std::string* error);

bool HasState(const std::string& dir);
// Reads a device folder written by SaveState; fails with a message on a missing or damaged file.
std::optional<DeviceState> LoadState(const std::string& dir, std::string* error = nullptr);
// Writes every file through a temporary name, so a reader never sees half a file.
bool SaveState(const std::string& dir, const DeviceState& state, std::string* error = nullptr);

}  // namespace devsim
