#include "window_rig.h"

#include <chrono>

#include "gui_helpers.h"
#include "transport/system_ports.h"

namespace veltr_app_test {

using namespace std::chrono_literals;

WindowRig::WindowRig() : engine_(veltr::MakeSystemPorts(map_)), ui_(engine_), jobs_(engine_, ui_) {
  for (int i = 0; i < veltr::CVeltrPortMap::kSerialPorts; ++i) {
    map_.Set(i, "/nonexistent/veltr-app-test-tty" + std::to_string(i));
  }
  doc_.Attach(engine_);
  engine_.SetSettings(&settings_);
  engine_.SetPackage(&package_);
  frame_ = std::make_unique<veltr::CMainFrame>(engine_, jobs_, doc_);
  ui_.SetParent(frame_.get());
  frame_->show();
}

WindowRig::~WindowRig() {
  if (held_) {
    ReleaseJob();
  }
  engine_.WaitForWorker();
  Settle();
  // Nothing was ever opened: the engine must not try to take a device out of program mode.
  engine_.SetConnected(false);
  frame_.reset();
  doc_.Detach();
}

void WindowRig::StartHeldJob(bool connected) {
  engine_.SetConnected(connected);
  release_ = std::promise<void>();
  auto released = release_.get_future().share();
  held_ =
      engine_.StartJob([released](veltr::UpgradeEngine&) { released.wait(); }, veltr::JobRequest{});
  ASSERT_TRUE(held_);
  frame_->UpdateCommands();
}

void WindowRig::ReleaseJob() {
  held_ = false;
  release_.set_value();
  EXPECT_TRUE(WaitUntil([this] { return !engine_.IsBusy(); }, 10s));
}

}  // namespace veltr_app_test
