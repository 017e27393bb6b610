// A main window on an engine whose serial ports lead nowhere, and jobs the test holds open.
#pragma once

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "app/job_ui.h"
#include "app/main_frame.h"
#include "app/veltr_doc.h"
#include "engine/jobs.h"
#include "engine/upgrade_engine.h"
#include "package/package_description.h"
#include "transport/port_map.h"

namespace veltr_app_test {

class WindowRig : public ::testing::Test {
 protected:
  WindowRig();
  ~WindowRig() override;

  // A job that runs until ReleaseJob; the engine says connected or not meanwhile.
  void StartHeldJob(bool connected);
  // Lets the held job end and waits until its end handler has run.
  void ReleaseJob();
  // Takes every notice there is now, as the queued call would.
  void Settle() { doc_.TakeNotices(); }

  veltr::CVeltrPortMap map_;
  veltr::AppSettings settings_;
  veltr::PackageVersionTable package_;
  veltr::UpgradeEngine engine_;
  veltr::CVeltrDoc doc_;
  veltr::CVeltrJobUi ui_;
  veltr::CVeltrJobs jobs_;
  std::unique_ptr<veltr::CMainFrame> frame_;

 private:
  std::promise<void> release_;
  bool held_ = false;
};

}  // namespace veltr_app_test
