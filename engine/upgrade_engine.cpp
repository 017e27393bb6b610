#include "engine/upgrade_engine.h"

#include <utility>

#include "engine/connection.h"

namespace veltr {

UpgradeEngine::UpgradeEngine(CVeltrPortSet ports)
    : settings_(&ownSettings_),
      package_(&ownPackage_),
      ports_(std::move(ports)),
      current_(&ports_.For(kPortCom1)) {}

UpgradeEngine::~UpgradeEngine() {
  worker_.Wait();
  // Program end: the device's leaving program mode has no one left to tell of a failure.
  static_cast<void>(Disconnect(*this));
}

std::string UpgradeEngine::PackagePath(const std::string& fileName) const {
  if (workingFolder_.empty() || fileName.empty()) {
    return fileName;
  }
  return workingFolder_ + "/" + fileName;
}

bool UpgradeEngine::StartJob(JobBody body, JobRequest request) {
  busy_ = true;
  // Set before the thread exists, so the worker sees it whole.
  request_ = std::move(request);
  const bool started = worker_.Start([this, body = std::move(body)] {
    body(*this);
    if (notices_ != nullptr) {
      notices_->JobFinished();
    }
  });
  if (!started) {
    busy_ = false;
  }
  return started;
}

}  // namespace veltr
