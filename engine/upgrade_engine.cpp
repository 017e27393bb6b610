#include "engine/upgrade_engine.h"

#include <utility>

#include "engine/connection.h"

namespace veltr {

UpgradeEngine::UpgradeEngine() : settings_(&ownSettings_), package_(&ownPackage_) {}

UpgradeEngine::~UpgradeEngine() {
  worker_.Wait();
  Disconnect(*this);
}

std::string UpgradeEngine::PackagePath(const std::string& fileName) const {
  if (workingFolder_.empty() || fileName.empty()) {
    return fileName;
  }
  return workingFolder_ + "/" + fileName;
}

bool UpgradeEngine::StartJob(JobBody body) {
  busy_ = true;
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

IVeltrPort& UpgradeEngine::PortFor(const std::string& name) {
  if (name == "USB") {
    return usb_;
  }
  if (name == "Ethernet") {
    return ethernet_;
  }
  return serial_;
}

}  // namespace veltr
