#pragma once

#include <cstdint>

namespace veltr {

// The 32-bit result of every command, upload procedure and job. 0 is success. A result that is
// dropped is a failure nobody hears of, so every function that gives one must have it used.
enum [[nodiscard]] ResultCode : int32_t{
    Ok = 0,
    FailedOpenPort = 1,
    NoResponse = 2,
    CommunicationFailed = 3,
    InvalidParameter = 4,
    FailedLoadFile = 5,
    DamagedFile = 6,
    Crc = 7,
    InternalError = 8,
};

// "Ok", "no response", ... ; any value outside 0 to 8 gives "undefined error".
const char* ResultText(int32_t code);

}  // namespace veltr
