#include <cstring>

#include "base/port.h"
#include "protocol/command_steps.h"
#include "protocol/commands.h"

namespace veltr {

namespace {

constexpr uint32_t kAccessSequenceSize = 16;
constexpr uint32_t kIdentityAnswerSize = 16;
constexpr uint32_t kEnterTimeoutMs = 1000;
constexpr uint32_t kExitTimeoutMs = 250;
constexpr uint32_t kWarmBootTimeoutMs = 500;
// The warm boot request always goes out at this rate, whatever the speed of the device's type;
// the answer comes back at the port's own rate.
constexpr uint32_t kWarmBootBaudRate = 57600;
// A device on the serial line signals readiness with a lone carriage return.
constexpr uint8_t kReady = 0x0D;

bool IsSerialPort(const IVeltrPort& port) {
  return port.GetPortId() == kPortSerialObject;
}

// A follow-up whose request could not be allocated would go out as nothing while the caller
// believes it was sent.
bool IsSendable(const CVeltrCommand* followUp) {
  return followUp == nullptr || followUp->GetSize() != 0;
}

// The end of an exit or warm boot attempt: the device's carriage return (when the line carries
// one), then the follow-up request right behind it while the device still listens.
ResultCode ReadyThenFollowUp(IVeltrPort& port, CVeltrBuffer& answer, bool readReady,
                             const CVeltrCommand* followUp) {
  if (readReady) {
    if (!port.Read(answer)) {
      return NoResponse;
    }
    if (*answer.At(0) != kReady) {
      return CommunicationFailed;
    }
  }
  if (followUp != nullptr && !port.Write(*followUp)) {
    return CommunicationFailed;
  }
  return Ok;
}

}  // namespace

CVeltrCommandProgramModeEnter::CVeltrCommandProgramModeEnter() {
  MarkSecret("access sequence");
  if (Resize(kAccessSequenceSize)) {
    // Stored one byte at a time through a volatile pointer so that the access sequence never
    // sits in the program image as one block.
    volatile uint8_t* r = At(0);
    r[0] = 0xA5;
    r[1] = 0x3C;
    r[2] = 0x51;
    r[3] = 0xE7;
    r[4] = 0x19;
    r[5] = 0xB4;
    r[6] = 0x6D;
    r[7] = 0x02;
    r[8] = 0xF3;
    r[9] = 0x7E;
    r[10] = 0x28;
    r[11] = 0xC5;
    r[12] = 0x90;
    r[13] = 0x4B;
    r[14] = 0xD6;
    r[15] = 0x1F;
  }
  Answer().Resize(kIdentityAnswerSize);
}

ResultCode CVeltrCommandProgramModeEnter::Execute(IVeltrPort& port, const uint32_t* alreadySent,
                                                  DeviceIdentity* out) {
  if (alreadySent == nullptr || out == nullptr) {
    return InvalidParameter;
  }
  if (!detail::HasSize(*this, kAccessSequenceSize) ||
      !detail::HasSize(Answer(), kIdentityAnswerSize)) {
    return InternalError;
  }
  if (!port.SetTimeout(kEnterTimeoutMs)) {
    return InternalError;
  }
  ResultCode result = NoResponse;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // The flag is read anew each time: the caller may have sent the sequence behind another
    // command, and then only the device's answer is still to come.
    if (*alreadySent == 0 && !port.Write(*this)) {
      result = CommunicationFailed;
      continue;
    }
    if (!port.Read(Answer())) {
      result = NoResponse;
      continue;
    }
    result = Ok;
    break;
  }
  if (result != Ok) {
    return result;
  }
  // Bytes 0 to 3 carry nothing the program uses; 4 to 7 are the hardware and uploader versions,
  // 8 to 15 the type identifier.
  const uint8_t* a = Answer().At(0);
  std::memcpy(out->versions, a + 4, sizeof out->versions);
  out->type = TypeFromIdentifier(a + 8, HardwareVersion{a[4], a[5]});
  return Ok;
}

CVeltrCommandProgramModeExit::CVeltrCommandProgramModeExit() {
  static constexpr uint8_t kRequest[] = {0x80, 0x55, 0x1A, 0x1B};
  SetRequest(kRequest, sizeof kRequest);
  Answer().Resize(1);
}

ResultCode CVeltrCommandProgramModeExit::Execute(IVeltrPort& port, const CVeltrCommand* followUp) {
  if (!detail::HasSize(*this, 4) || !detail::HasSize(Answer(), 1) || !IsSendable(followUp)) {
    return InternalError;
  }
  if (!port.SetTimeout(kExitTimeoutMs)) {
    return InternalError;
  }
  // Only the serial line carries the device's carriage return; USB and Ethernet devices answer
  // the exit with nothing.
  const bool readsReady = IsSerialPort(port);
  ResultCode result = CommunicationFailed;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!port.Write(*this)) {
      result = CommunicationFailed;
      continue;
    }
    result = ReadyThenFollowUp(port, Answer(), readsReady, followUp);
    if (result == Ok) {
      break;
    }
  }
  return result;
}

CVeltrCommandWarmBoot::CVeltrCommandWarmBoot() {
  static constexpr uint8_t kRequest[] = {0x04, 0x55, 0x1A, 0x1B, 0x8E};
  SetRequest(kRequest, sizeof kRequest);
  Answer().Resize(1);
}

ResultCode CVeltrCommandWarmBoot::Execute(IVeltrPort& port, const CVeltrCommand* followUp) {
  if (!detail::HasSize(*this, 5) || !detail::HasSize(Answer(), 1) || !IsSendable(followUp)) {
    return InternalError;
  }
  const uint32_t rate = port.GetBaudRate();
  if (rate == 0) {
    return InvalidParameter;
  }
  ResultCode result = CommunicationFailed;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!port.SetBaudRate(kWarmBootBaudRate)) {
      return InternalError;
    }
    if (!port.SetTimeout(kWarmBootTimeoutMs)) {
      // Best effort on the way out: the warm boot has failed either way.
      static_cast<void>(port.SetBaudRate(rate));
      return InternalError;
    }
    if (!port.Write(*this)) {
      // A port that cannot go back to its rate is of no use to the next attempt either.
      if (!port.SetBaudRate(rate)) {
        return InternalError;
      }
      result = CommunicationFailed;
      continue;
    }
    // The request must be on the line at 57600 before the rate changes back.
    detail::PauseForDevice();
    if (!port.SetBaudRate(rate)) {
      return InternalError;
    }
    result = ReadyThenFollowUp(port, Answer(), true, followUp);
    if (result == Ok) {
      break;
    }
  }
  return result;
}

}  // namespace veltr
