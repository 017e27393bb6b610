#include "protocol/command.h"

#include <cstring>
#include <thread>

#include "base/port.h"
#include "protocol/command_steps.h"

namespace veltr {

namespace detail {

void PauseForDevice() {
  std::this_thread::sleep_for(kDeviceSettleTime);
}

bool Holds(const CVeltrBuffer& buffer, std::initializer_list<uint8_t> bytes) {
  if (buffer.GetSize() != bytes.size()) {
    return false;
  }
  uint32_t i = 0;
  for (uint8_t b : bytes) {
    if (*buffer.At(i++) != b) {
      return false;
    }
  }
  return true;
}

bool HasSize(const CVeltrBuffer& buffer, uint32_t size) {
  return buffer.GetSize() == size && (size == 0 || buffer.Data() != nullptr);
}

}  // namespace detail

CVeltrCommand::CVeltrCommand() {
  answer_.Resize(1);
}

bool CVeltrCommand::SetRequest(const uint8_t* bytes, uint32_t count) {
  if (!Resize(count)) {
    return false;
  }
  if (count != 0) {
    std::memcpy(At(0), bytes, count);
  }
  return true;
}

ResultCode CVeltrCommand::ExchangeAttempts(
    IVeltrPort& port, ResultCode wrongAnswer,
    const std::function<bool(const CVeltrBuffer&)>& answerOk) {
  ResultCode result = wrongAnswer;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!port.Write(*this)) {
      result = CommunicationFailed;
    } else if (!port.Read(answer_)) {
      result = NoResponse;
    } else if (!answerOk(answer_)) {
      result = wrongAnswer;
    } else {
      return Ok;
    }
  }
  return result;
}

ResultCode CVeltrCommand::EchoAttempt(IVeltrPort& port, uint8_t commandByte, const uint8_t* data,
                                      uint32_t count) {
  CVeltrBuffer scratch;
  if (!scratch.Resize(1) || !detail::HasSize(answer_, 1)) {
    return InternalError;
  }
  // The command byte itself is not echoed.
  *scratch.At(0) = commandByte;
  if (!port.Write(scratch)) {
    return CommunicationFailed;
  }
  for (uint32_t i = 0; i < count; ++i) {
    *scratch.At(0) = data[i];
    if (!port.Write(scratch)) {
      return CommunicationFailed;
    }
    if (!port.Read(answer_)) {
      return NoResponse;
    }
    if (*answer_.At(0) != data[i]) {
      detail::PauseForDevice();
      return Crc;
    }
  }
  return Ok;
}

}  // namespace veltr
