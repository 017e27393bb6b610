#include "engine/job.h"

namespace veltr {

JobRequest RequestFrom(const AppSettings& settings) {
  JobRequest request;
  request.expectedType = settings.deviceType;
  request.port = static_cast<PortId>(settings.port);
  request.autoselect = settings.autoselect != 0;
  request.uploadLogic = settings.uploadLogic != 0;
  request.uploadProcessor = settings.uploadProcessor != 0;
  request.uploadBios = settings.uploadBios != 0;
  return request;
}

}  // namespace veltr
