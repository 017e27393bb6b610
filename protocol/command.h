#pragma once

#include <cstdint>
#include <functional>

#include "base/buffer.h"
#include "protocol/result_code.h"

namespace veltr {

class IVeltrPort;

// One device transaction. The command's own bytes are the request exactly as it goes on the wire;
// the answer buffer is sized to what one Read must deliver. Each command's Execute sets the port's
// time-out, makes at most three attempts and returns a ResultCode; it never throws or prints.
class CVeltrCommand : public CVeltrBuffer {
 public:
  static constexpr int kAttempts = 3;

  CVeltrCommand();  // empty request, 1-byte answer buffer
  ~CVeltrCommand() override = default;

  CVeltrBuffer& Answer() { return answer_; }
  const CVeltrBuffer& Answer() const { return answer_; }

 protected:
  // Sets the request bytes from a list, resizing the request to its length.
  bool SetRequest(const uint8_t* bytes, uint32_t count);
  // The attempts of a plain exchange: the whole request out, the whole answer back, then
  // answerOk judges it; a wrong answer counts as wrongAnswer. Stops at the first good attempt.
  ResultCode ExchangeAttempts(IVeltrPort& port, ResultCode wrongAnswer,
                              const std::function<bool(const CVeltrBuffer&)>& answerOk);
  // One byte-echo attempt: the command byte alone, then every data byte answered by its echo.
  ResultCode EchoAttempt(IVeltrPort& port, uint8_t commandByte, const uint8_t* data,
                         uint32_t count);

 private:
  CVeltrBuffer answer_;
};

}  // namespace veltr
