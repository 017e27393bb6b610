#include <algorithm>
#include <cstring>

#include "base/port.h"
#include "protocol/command_steps.h"
#include "protocol/commands.h"
#include "protocol/sums.h"

namespace veltr {

namespace {

constexpr uint32_t kPageTimeoutMs = 1000;

// Framed upgrade-code commands: length, code, FF FF, payload, sum8.
constexpr uint32_t kJumpSize = 9;
constexpr uint32_t kAckSize = 5;
constexpr uint32_t kCodePageSize = 137;
constexpr uint32_t kCodePartSize = 128;
constexpr uint32_t kCodeIndexByte = 5;
constexpr uint32_t kCodePartByte = 6;
constexpr uint32_t kCodeDataOffset = 8;
constexpr uint32_t kCodeSumByte = 136;
constexpr uint32_t kMaxCodePageIndex = kMaxUpgradeCodePages - 1;

// Page frame: code, two address bytes, 256 data bytes, sum16 high and low.
constexpr uint32_t kFrameSize = 261;
constexpr uint32_t kFrameAnswerSize = 4;
constexpr uint32_t kFrameDataOffset = 3;
constexpr uint32_t kFrameDataSize = 256;
constexpr uint32_t kFrameSumHigh = 259;
constexpr uint32_t kFrameSumLow = 260;
constexpr uint8_t kFrameAccepted = 0x55;  // 'U'
constexpr uint8_t kPromPageCode = 0x10;
constexpr uint8_t kProcessorPageCode = 0x20;
// The logic PROM address is the page index doubled; it must still fit the two address bytes, or a
// page would land on an earlier one.
constexpr uint32_t kMaxPromPageIndex = 0xFFFF / 2;

// A page beyond the flash would wrap onto an earlier one.
uint32_t MaxProcessorPageIndex(DeviceType type) {
  return GetProcessorPageCount(type) - 1;
}

}  // namespace

CVeltrCommandJumpToUpgradeCode::CVeltrCommandJumpToUpgradeCode() {
  static constexpr uint8_t kRequest[] = {0x08, 0x57, 0xFF, 0xFF, 0xC9, 0x00, 0x01, 0x29, 0x50};
  SetRequest(kRequest, sizeof kRequest);
  Answer().Resize(kAckSize);
}

ResultCode CVeltrCommandJumpToUpgradeCode::Execute(IVeltrPort& port) {
  if (!detail::HasSize(*this, kJumpSize) || !detail::HasSize(Answer(), kAckSize)) {
    return InternalError;
  }
  // No time-out of its own: it follows the upgrade-code pages and runs with theirs.
  return ExchangeAttempts(port, CommunicationFailed, [](const CVeltrBuffer& answer) {
    return detail::Holds(answer, {0x04, 0x57, 0xFF, 0xFF, 0x59});
  });
}

CVeltrCommandUpgradeCodePageWrite::CVeltrCommandUpgradeCodePageWrite() {
  if (Resize(kCodePageSize)) {
    std::memset(At(0), 0xFF, kCodePageSize);
    *At(0) = kCodePageSize - 1;
    *At(1) = 0x56;
    *At(4) = 0xB6;
    *At(kCodeIndexByte) = 0;
    *At(kCodePartByte) = 0;
    *At(7) = 0x6A;
    *At(kCodeSumByte) = Sum8(At(0), kCodeSumByte);
  }
  Answer().Resize(kAckSize);
}

bool CVeltrCommandUpgradeCodePageWrite::Prepare(const PageRecord* record) {
  if (record == nullptr || record->data == nullptr ||
      (record->byteCount != 256 && record->byteCount != 512) ||
      record->pageIndex > kMaxCodePageIndex || !detail::HasSize(*this, kCodePageSize)) {
    return false;
  }
  partCount_ = static_cast<uint8_t>(record->byteCount / kCodePartSize);
  *At(kCodeIndexByte) = static_cast<uint8_t>(record->pageIndex);
  return true;
}

ResultCode CVeltrCommandUpgradeCodePageWrite::Execute(IVeltrPort& port, const PageRecord* record) {
  if (!detail::HasSize(*this, kCodePageSize) || !detail::HasSize(Answer(), kAckSize)) {
    return InternalError;
  }
  if (!Prepare(record)) {
    return InvalidParameter;
  }
  if (!port.SetTimeout(kPageTimeoutMs)) {
    return InternalError;
  }
  for (uint8_t part = 0; part < partCount_; ++part) {
    *At(kCodePartByte) = part;
    std::memcpy(At(kCodeDataOffset), record->data + part * kCodePartSize, kCodePartSize);
    *At(kCodeSumByte) = Sum8(At(0), kCodeSumByte);
    const ResultCode result =
        ExchangeAttempts(port, CommunicationFailed, [](const CVeltrBuffer& answer) {
          return detail::Holds(answer, {0x04, 0x56, 0xFF, 0xFF, 0x58});
        });
    if (result != Ok) {
      return result;
    }
  }
  return Ok;
}

CVeltrCommandPageWrite::CVeltrCommandPageWrite() {
  if (Resize(kFrameSize)) {
    std::memset(At(0), 0xFF, kFrameSize);
  }
  Answer().Resize(kFrameAnswerSize);
}

bool CVeltrCommandPageWrite::Prepare(const PageRecord* record) {
  if (record == nullptr || (record->data == nullptr && record->byteCount != 0) ||
      !detail::HasSize(*this, kFrameSize)) {
    return false;
  }
  const uint32_t count = std::min(record->byteCount, kFrameDataSize);
  if (count != 0) {
    std::memcpy(At(kFrameDataOffset), record->data, count);
  }
  std::memset(At(kFrameDataOffset + count), 0xFF, kFrameDataSize - count);
  const uint16_t sum = Sum16(At(kFrameDataOffset), kFrameDataSize);
  *At(kFrameSumHigh) = static_cast<uint8_t>(sum >> 8);
  *At(kFrameSumLow) = static_cast<uint8_t>(sum);
  return true;
}

ResultCode CVeltrCommandPageWrite::Execute(IVeltrPort& port, const PageRecord* record) {
  if (!detail::HasSize(*this, kFrameSize) || !detail::HasSize(Answer(), kFrameAnswerSize)) {
    return InternalError;
  }
  if (!Prepare(record)) {
    return InvalidParameter;
  }
  if (!port.SetTimeout(kPageTimeoutMs)) {
    return InternalError;
  }
  // The device repeats the sum it computed itself.
  const uint8_t high = *At(kFrameSumHigh);
  const uint8_t low = *At(kFrameSumLow);
  return ExchangeAttempts(port, Crc, [high, low](const CVeltrBuffer& answer) {
    return detail::Holds(answer, {kFrameAccepted, high, low, 0xFF});
  });
}

CVeltrCommandPROMPageWrite::CVeltrCommandPROMPageWrite() {
  if (detail::HasSize(*this, kFrameSize)) {
    *At(0) = kPromPageCode;
  }
}

bool CVeltrCommandPROMPageWrite::Prepare(const PageRecord* record) {
  if (!CVeltrCommandPageWrite::Prepare(record) || record->pageIndex > kMaxPromPageIndex) {
    return false;
  }
  // High byte first.
  const uint32_t address = record->pageIndex * 2;
  *At(1) = static_cast<uint8_t>(address >> 8);
  *At(2) = static_cast<uint8_t>(address);
  return true;
}

CVeltrCommandUPPageWrite::CVeltrCommandUPPageWrite() {
  if (detail::HasSize(*this, kFrameSize)) {
    *At(0) = kProcessorPageCode;
  }
}

bool CVeltrCommandUPPageWrite::Prepare(const PageRecord* record) {
  if (!CVeltrCommandPageWrite::Prepare(record) ||
      record->pageIndex > MaxProcessorPageIndex(record->deviceType)) {
    return false;
  }
  // Low byte first, unlike the logic PROM.
  *At(1) = static_cast<uint8_t>(record->pageIndex);
  *At(2) = static_cast<uint8_t>(record->pageIndex >> 8);
  return true;
}

}  // namespace veltr
