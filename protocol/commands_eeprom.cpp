#include <algorithm>
#include <cstring>

#include "base/port.h"
#include "protocol/command_steps.h"
#include "protocol/commands.h"

namespace veltr {

namespace {

constexpr uint32_t kEepromTimeoutMs = 1000;
constexpr uint8_t kReadCode = 0x40;
constexpr uint8_t kWriteCode = 0x42;
constexpr uint8_t kEraseCode = 0x43;
// The write carries the info area from the first user text on: two texts and four version bytes.
constexpr uint32_t kWriteDataSize = kEepromInfoSize - kUserTextOffset1;
constexpr uint32_t kWriteSize = 1 + kWriteDataSize;
constexpr uint32_t kWriteText1 = 1;
constexpr uint32_t kWriteText2 = kWriteText1 + kUserTextSize;
constexpr uint32_t kWriteVersions = kWriteText2 + kUserTextSize;
// Unused bytes of a user text field are FF; the first FF ends the text.
constexpr uint8_t kBlank = 0xFF;

std::string TextFromField(const uint8_t* field) {
  const uint8_t* end = std::find(field, field + kUserTextSize, kBlank);
  return std::string(reinterpret_cast<const char*>(field), end - field);
}

// The text's first bytes, at most a field's worth, with the rest of the field blank so that
// nothing of an earlier, longer text survives behind it.
void TextToField(const std::string& text, uint8_t* field) {
  const size_t count = std::min<size_t>(text.size(), kUserTextSize);
  std::memset(field, kBlank, kUserTextSize);
  std::memcpy(field, text.data(), count);
}

}  // namespace

void DecodeEepromInfo(const uint8_t area[kEepromInfoSize], EepromInfoRecord& out) {
  out.userText1 = TextFromField(area + kUserTextOffset1);
  out.userText2 = TextFromField(area + kUserTextOffset2);
  out.serialNumber = DecodeSerialNumber(area).value_or(std::string());
  std::memcpy(out.versions, area + kVersionOffset, sizeof out.versions);
}

CVeltrCommandEEPROMRead::CVeltrCommandEEPROMRead() {
  const uint8_t request = kReadCode;
  SetRequest(&request, 1);
  Answer().Resize(kEepromInfoSize);
}

ResultCode CVeltrCommandEEPROMRead::Execute(IVeltrPort& port, EepromInfoRecord* out) {
  if (out == nullptr) {
    return InvalidParameter;
  }
  if (!detail::HasSize(*this, 1) || !detail::HasSize(Answer(), kEepromInfoSize)) {
    return InternalError;
  }
  if (!port.SetTimeout(kEepromTimeoutMs)) {
    return InternalError;
  }
  // The area carries no sum of its own; it is taken as it comes.
  const ResultCode result = ExchangeAttempts(port, Ok, [](const CVeltrBuffer&) { return true; });
  if (result == Ok) {
    DecodeEepromInfo(Answer().At(0), *out);
  }
  return result;
}

CVeltrCommandEEPROMWrite::CVeltrCommandEEPROMWrite() {
  if (Resize(kWriteSize)) {
    std::memset(At(0), kBlank, kWriteSize);
    *At(0) = kWriteCode;
  }
  Answer().Resize(1);
}

bool CVeltrCommandEEPROMWrite::Prepare(const EepromInfoRecord* record) {
  if (record == nullptr || !detail::HasSize(*this, kWriteSize)) {
    return false;
  }
  TextToField(record->userText1, At(kWriteText1));
  TextToField(record->userText2, At(kWriteText2));
  std::memcpy(At(kWriteVersions), record->versions, sizeof record->versions);
  return true;
}

ResultCode CVeltrCommandEEPROMWrite::Execute(IVeltrPort& port, const EepromInfoRecord* record) {
  if (!detail::HasSize(*this, kWriteSize) || !detail::HasSize(Answer(), 1)) {
    return InternalError;
  }
  if (!Prepare(record)) {
    return InvalidParameter;
  }
  if (!port.SetTimeout(kEepromTimeoutMs)) {
    return InternalError;
  }
  ResultCode result = Crc;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    result = EchoAttempt(port, kWriteCode, At(1), kWriteDataSize);
    if (result == Ok || result == InternalError) {
      break;
    }
  }
  return result;
}

CVeltrCommandEEPROMErase::CVeltrCommandEEPROMErase() {
  const uint8_t request = kEraseCode;
  SetRequest(&request, 1);
  Answer().Resize(1);
}

ResultCode CVeltrCommandEEPROMErase::Execute(IVeltrPort& port, const uint32_t* byteCount) {
  // A count of 0 is a caller's mistake: it would send the erase command with nothing behind it.
  if (byteCount == nullptr || *byteCount == 0) {
    return InvalidParameter;
  }
  const uint32_t count = *byteCount;
  CVeltrBuffer blank;
  if (!detail::HasSize(*this, 1) || !detail::HasSize(Answer(), 1) || !blank.Resize(count)) {
    return InternalError;
  }
  std::memset(blank.At(0), kBlank, count);
  if (!port.SetTimeout(kEepromTimeoutMs)) {
    return InternalError;
  }
  ResultCode result = Crc;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    result = EchoAttempt(port, kEraseCode, blank.At(0), count);
    if (result == Ok || result == InternalError) {
      break;
    }
  }
  return result;
}

}  // namespace veltr
