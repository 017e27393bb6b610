#include "devsim/device_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "devsim/device_table.h"
#include "devsim/serial_number.h"

namespace devsim {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t kIdentifierSize = 8;
constexpr const char* kIdentityFile = kIdentityFileName;
constexpr const char* kEepromFile = kEepromFileName;
constexpr const char* kLogicFile = kLogicFileName;
constexpr const char* kProcessorFile = kProcessorFileName;
constexpr const char* kWriteLogFile = kWriteLogFileName;
constexpr const char* kDefaultSerial = "A-01-0100";

constexpr WriteKind kKinds[] = {WriteKind::kLogicPage, WriteKind::kProcessorPage,
                                WriteKind::kUpgradeCodePage, WriteKind::kEepromWrite,
                                WriteKind::kEepromErase};

void Fail(std::string* error, const std::string& message) {
  if (error != nullptr) {
    *error = message;
  }
}

std::vector<std::uint8_t> PageOf(const std::vector<std::uint8_t>& flash, std::uint32_t index) {
  std::vector<std::uint8_t> page(kPageSize, 0xFF);
  const std::size_t start = static_cast<std::size_t>(index) * kPageSize;
  if (start < flash.size()) {
    std::copy_n(flash.begin() + start, std::min(kPageSize, flash.size() - start), page.begin());
  }
  return page;
}

std::vector<std::uint8_t> BytesOf(const std::vector<std::uint8_t>& flash, std::size_t length) {
  std::vector<std::uint8_t> bytes(length, 0xFF);
  std::copy_n(flash.begin(), std::min(length, flash.size()), bytes.begin());
  return bytes;
}

void StorePage(std::vector<std::uint8_t>& flash, std::uint32_t index, const std::uint8_t* data) {
  const std::size_t start = static_cast<std::size_t>(index) * kPageSize;
  if (flash.size() < start + kPageSize) {
    flash.resize(start + kPageSize, 0xFF);
  }
  std::copy_n(data, kPageSize, flash.begin() + start);
}

void PutWord(std::array<std::uint8_t, kEepromSize>& eeprom, std::size_t offset,
             std::uint16_t word) {
  eeprom[offset] = static_cast<std::uint8_t>(word >> 8);
  eeprom[offset + 1] = static_cast<std::uint8_t>(word & 0xFF);
}

std::optional<std::vector<std::uint8_t>> ReadFile(const fs::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(error, "cannot read " + path.string() + ": " + std::strerror(errno));
    return std::nullopt;
  }
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

bool WriteFileAtomically(const fs::path& path, const void* data, std::size_t size,
                         std::string* error) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.flush();
    if (!out) {
      Fail(error, "cannot write " + temporary.string() + ": " + std::strerror(errno));
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    Fail(error, "cannot rename " + temporary.string() + ": " + ec.message());
    return false;
  }
  return true;
}

bool WriteJson(const fs::path& path, const json& value, std::string* error) {
  const std::string text = value.dump(1) + "\n";
  return WriteFileAtomically(path, text.data(), text.size(), error);
}

std::optional<json> ReadJson(const fs::path& path, std::string* error) {
  const auto bytes = ReadFile(path, error);
  if (!bytes) {
    return std::nullopt;
  }
  json value = json::parse(bytes->begin(), bytes->end(), nullptr, false);
  if (value.is_discarded() || !value.is_object()) {
    Fail(error, path.string() + " is not a JSON object");
    return std::nullopt;
  }
  return value;
}

std::optional<WriteKind> KindFromName(const std::string& name) {
  for (WriteKind kind : kKinds) {
    if (name == WriteKindName(kind)) {
      return kind;
    }
  }
  return std::nullopt;
}

json IdentityToJson(const Identity& identity) {
  const TypeRow* row = FindType(identity.type);
  json value = {{"type", identity.type},
                {"shortName", row != nullptr ? row->shortName : ""},
                {"hardwareVersion", identity.hardwareVersion},
                {"uploaderVersion", identity.uploaderVersion},
                {"serialNumber", identity.serialNumber}};
  if (!identity.identifierOverride.empty()) {
    value["identifier"] = identity.identifierOverride;
  }
  return value;
}

bool IdentityFromJson(const json& value, Identity& identity, std::string* error) {
  try {
    identity.type = value.at("type").get<int>();
    identity.hardwareVersion = value.at("hardwareVersion").get<std::uint16_t>();
    identity.uploaderVersion = value.at("uploaderVersion").get<std::uint16_t>();
    identity.serialNumber = value.value("serialNumber", "");
    identity.identifierOverride = value.value("identifier", "");
  } catch (const json::exception& e) {
    Fail(error, std::string("identity.json: ") + e.what());
    return false;
  }
  if (FindType(identity.type) == nullptr) {
    Fail(error, "identity.json: no device type " + std::to_string(identity.type));
    return false;
  }
  if (!identity.identifierOverride.empty() &&
      identity.identifierOverride.size() != kIdentifierSize) {
    Fail(error, "identity.json: the identifier must be 8 bytes");
    return false;
  }
  return true;
}

json WriteLogToJson(const DeviceState& state) {
  json entries = json::array();
  for (const WriteLogEntry& entry : state.writeLog) {
    json item = {{"sequence", entry.sequence}, {"kind", WriteKindName(entry.kind)}};
    if (entry.kind == WriteKind::kEepromErase) {
      item["count"] = entry.count;
    } else if (entry.kind == WriteKind::kUpgradeCodePage) {
      item["page"] = entry.page;
      item["part"] = entry.count;
    } else if (entry.kind != WriteKind::kEepromWrite) {
      item["page"] = entry.page;
    }
    entries.push_back(std::move(item));
  }
  return {{"nextSequence", state.nextSequence}, {"entries", std::move(entries)}};
}

bool WriteLogFromJson(const json& value, DeviceState& state, std::string* error) {
  try {
    state.nextSequence = value.at("nextSequence").get<std::uint64_t>();
    for (const json& item : value.at("entries")) {
      WriteLogEntry entry;
      entry.sequence = item.at("sequence").get<std::uint64_t>();
      const auto kind = KindFromName(item.at("kind").get<std::string>());
      if (!kind) {
        Fail(error, "writelog.json: unknown kind " + item.at("kind").dump());
        return false;
      }
      entry.kind = *kind;
      entry.page = item.value("page", 0u);
      entry.count = item.value(entry.kind == WriteKind::kUpgradeCodePage ? "part" : "count", 0u);
      state.writeLog.push_back(entry);
    }
  } catch (const json::exception& e) {
    Fail(error, std::string("writelog.json: ") + e.what());
    return false;
  }
  return true;
}

}  // namespace

std::string Identity::Identifier() const {
  if (!identifierOverride.empty()) {
    return identifierOverride;
  }
  const TypeRow* row = FindType(type);
  // A type that no device reports (PXR-Series) answers with blanks.
  return row != nullptr && row->identifier != nullptr ? row->identifier
                                                      : std::string(kIdentifierSize, ' ');
}

int Identity::EffectiveType() const {
  if (identifierOverride.empty()) {
    return type;
  }
  return TypeOfIdentifier(identifierOverride, hardwareVersion);
}

const char* WriteKindName(WriteKind kind) {
  switch (kind) {
    case WriteKind::kLogicPage:
      return "logic";
    case WriteKind::kProcessorPage:
      return "processor";
    case WriteKind::kUpgradeCodePage:
      return "upgrade-code";
    case WriteKind::kEepromWrite:
      return "eeprom-write";
    case WriteKind::kEepromErase:
      return "eeprom-erase";
  }
  return "?";
}

std::vector<std::uint8_t> DeviceState::LogicPage(std::uint32_t index) const {
  return PageOf(logic, index);
}
std::vector<std::uint8_t> DeviceState::ProcessorPage(std::uint32_t index) const {
  return PageOf(processor, index);
}
std::vector<std::uint8_t> DeviceState::LogicBytes(std::size_t length) const {
  return BytesOf(logic, length);
}
std::vector<std::uint8_t> DeviceState::ProcessorBytes(std::size_t length) const {
  return BytesOf(processor, length);
}

void DeviceState::StoreLogicPage(std::uint32_t index, const std::uint8_t* data) {
  StorePage(logic, index, data);
}
void DeviceState::StoreProcessorPage(std::uint32_t index, const std::uint8_t* data) {
  StorePage(processor, index, data);
}

void DeviceState::Log(WriteKind kind, std::uint32_t page, std::uint32_t count) {
  writeLog.push_back({nextSequence++, kind, page, count});
}

std::array<std::uint8_t, kInfoAreaSize> DeviceState::InfoArea() const {
  std::array<std::uint8_t, kInfoAreaSize> info;
  std::copy_n(eeprom.begin(), kInfoAreaSize, info.begin());
  return info;
}

void DeviceState::SetText(int which, const std::string& text) {
  const std::size_t offset = which == 1 ? kText1Offset : kText2Offset;
  std::fill_n(eeprom.begin() + offset, kTextSize, 0xFF);
  std::copy_n(text.begin(), std::min(text.size(), kTextSize), eeprom.begin() + offset);
}

void DeviceState::SetLogicVersion(std::uint16_t word) {
  PutWord(eeprom, kLogicVersionOffset, word);
}
void DeviceState::SetProcessorVersion(std::uint16_t word) {
  PutWord(eeprom, kProcessorVersionOffset, word);
}

bool DeviceState::SetSerialNumber(const std::string& text) {
  const auto area = EncodeSerialNumber(text);
  if (!area) {
    return false;
  }
  std::copy(area->begin(), area->end(), eeprom.begin() + kSerialOffset);
  identity.serialNumber = text;
  return true;
}

std::optional<DeviceState> NewDevice(int type, std::string* error) {
  const TypeRow* row = FindType(type);
  if (row == nullptr) {
    Fail(error, "no device type " + std::to_string(type));
    return std::nullopt;
  }
  DeviceState state;
  state.identity.type = type;
  state.identity.hardwareVersion = row->defaultHardware;
  state.identity.uploaderVersion = 110;
  std::fill(state.eeprom.begin(), state.eeprom.end(), 0xFF);
  state.SetSerialNumber(kDefaultSerial);
  state.SetLogicVersion(0);
  state.SetProcessorVersion(0);
  // Settings a user has made: any pattern without FF, so that an erased byte stands out.
  for (std::size_t i = 0; i < kSettingsAreaSize; ++i) {
    state.eeprom[kInfoAreaSize + i] = static_cast<std::uint8_t>(i % 251);
  }
  return state;
}

bool ApplyChanges(DeviceState& state, const IdentityChanges& changes, std::string* error) {
  if (changes.type) {
    if (FindType(*changes.type) == nullptr) {
      Fail(error, "no device type " + std::to_string(*changes.type));
      return false;
    }
    state.identity.type = *changes.type;
  }
  if (changes.identifier) {
    if (!changes.identifier->empty() && changes.identifier->size() != kIdentifierSize) {
      Fail(error, "the identifier must be exactly 8 bytes, blanks included");
      return false;
    }
    state.identity.identifierOverride = *changes.identifier;
  }
  for (const auto* text : {&changes.text1, &changes.text2}) {
    if (*text && (*text)->size() > kTextSize) {
      Fail(error, "a user text holds at most 30 bytes");
      return false;
    }
  }
  if (changes.serialNumber && !state.SetSerialNumber(*changes.serialNumber)) {
    Fail(error, "serial number \"" + *changes.serialNumber +
                    "\" cannot be coded (expected a letter, a number 0..255 and a number "
                    "0..25655, as in B-07-1234)");
    return false;
  }
  if (changes.hardwareVersion) {
    state.identity.hardwareVersion = *changes.hardwareVersion;
  }
  if (changes.uploaderVersion) {
    state.identity.uploaderVersion = *changes.uploaderVersion;
  }
  if (changes.text1) {
    state.SetText(1, *changes.text1);
  }
  if (changes.text2) {
    state.SetText(2, *changes.text2);
  }
  if (changes.logicVersion) {
    state.SetLogicVersion(*changes.logicVersion);
  }
  if (changes.processorVersion) {
    state.SetProcessorVersion(*changes.processorVersion);
  }
  return true;
}

bool HasState(const std::string& dir) {
  std::error_code ec;
  return fs::exists(fs::path(dir) / kIdentityFile, ec);
}

std::optional<DeviceState> LoadState(const std::string& dir, std::string* error) {
  const fs::path base(dir);
  DeviceState state;
  const auto identity = ReadJson(base / kIdentityFile, error);
  if (!identity || !IdentityFromJson(*identity, state.identity, error)) {
    return std::nullopt;
  }
  const auto eeprom = ReadFile(base / kEepromFile, error);
  if (!eeprom) {
    return std::nullopt;
  }
  if (eeprom->size() != kEepromSize) {
    Fail(error, (base / kEepromFile).string() + " must hold 1024 bytes");
    return std::nullopt;
  }
  std::copy(eeprom->begin(), eeprom->end(), state.eeprom.begin());
  // Flash files may be missing: a device that was never written reads FF everywhere.
  std::error_code ec;
  for (auto [name, flash] :
       {std::pair{kLogicFile, &state.logic}, std::pair{kProcessorFile, &state.processor}}) {
    if (fs::exists(base / name, ec)) {
      auto bytes = ReadFile(base / name, error);
      if (!bytes) {
        return std::nullopt;
      }
      *flash = std::move(*bytes);
    }
  }
  if (fs::exists(base / kWriteLogFile, ec)) {
    const auto log = ReadJson(base / kWriteLogFile, error);
    if (!log || !WriteLogFromJson(*log, state, error)) {
      return std::nullopt;
    }
  }
  return state;
}

bool SaveState(const std::string& dir, const DeviceState& state, std::string* error) {
  const fs::path base(dir);
  std::error_code ec;
  fs::create_directories(base, ec);
  if (ec) {
    Fail(error, "cannot create " + base.string() + ": " + ec.message());
    return false;
  }
  return WriteJson(base / kIdentityFile, IdentityToJson(state.identity), error) &&
         WriteFileAtomically(base / kEepromFile, state.eeprom.data(), state.eeprom.size(), error) &&
         WriteFileAtomically(base / kLogicFile, state.logic.data(), state.logic.size(), error) &&
         WriteFileAtomically(base / kProcessorFile, state.processor.data(), state.processor.size(),
                             error) &&
         WriteJson(base / kWriteLogFile, WriteLogToJson(state), error);
}

}  // namespace devsim
