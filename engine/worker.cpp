#include "engine/worker.h"

#include <system_error>
#include <utility>

namespace veltr {

CVeltrWorker::~CVeltrWorker() {
  Wait();
}

bool CVeltrWorker::Start(std::function<void()> routine) {
  if (thread_.joinable()) {
    return false;
  }
  try {
    thread_ = std::thread(std::move(routine));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CVeltrWorker::Wait() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
    thread_.join();
  }
}

}  // namespace veltr
