#include "protocol/result_code.h"

namespace veltr {

const char* ResultText(int32_t code) {
  switch (code) {
    case Ok:
      return "Ok";
    case FailedOpenPort:
      return "failed open port";
    case NoResponse:
      return "no response";
    case CommunicationFailed:
      return "communication failed";
    case InvalidParameter:
      return "invalid parameter";
    case FailedLoadFile:
      return "failed load file";
    case DamagedFile:
      return "damaged file";
    case Crc:
      return "CRC";
    case InternalError:
      return "internall error";
    default:
      return "undefined error";
  }
}

}  // namespace veltr
