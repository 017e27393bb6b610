// The updater driven against simulated devices on pseudo-terminals, with a view that answers its
// message boxes and input boxes from a script and keeps every text it was shown.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device_state.h"
#include "devsim/pty.h"
#include "devsim/simulator.h"
#include "serialupdater/updater.h"

namespace su_test {

using Bytes = std::vector<std::uint8_t>;

class FakeView : public su::IUpdaterView {
 public:
  void ShowLine(int line, const std::string& text) override { history[line].push_back(text); }
  void ShowCaption(const std::string& caption) override { captions.push_back(caption); }
  void EnableControls(bool enabled) override { enables.push_back(enabled); }
  su::BoxAnswer Ask(const su::MessageBox& box) override;
  std::optional<std::string> Input(const std::string& title, const std::string& prompt,
                                   const std::string& preset) override;
  void ProcessEvents() override;
  void Quit() override { quit = true; }

  // Whether a line ever showed exactly this text.
  bool Showed(int line, const std::string& text) const;
  // The texts of the boxes shown, in order.
  std::vector<std::string> BoxTexts() const;

  std::map<int, std::vector<std::string>> history;
  std::vector<std::string> captions;
  std::vector<bool> enables;
  std::vector<su::MessageBox> boxes;
  std::deque<su::BoxAnswer> answers;  // Ok once the script has run out
  std::function<void(const su::MessageBox&)> onAsk;
  std::deque<std::optional<std::string>> inputs;
  struct InputCall {
    std::string title;
    std::string prompt;
    std::string preset;
  };
  std::vector<InputCall> inputCalls;
  std::function<void()> onEvents;
  long events = 0;
  bool quit = false;
};

// A fresh folder for firmware files, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }
  void Write(const std::string& name, const Bytes& bytes) const;

 private:
  std::filesystem::path path_;
};

// A simulated device on a pseudo-terminal of its own.
struct SimulatedPort {
  devsim::PtyPair pty;
  std::unique_ptr<devsim::Simulator> device;
  ~SimulatedPort();
  std::size_t BytesReceived() const;
};

devsim::DeviceState Device(const std::string& type, const devsim::IdentityChanges& changes = {});
Bytes Image(std::size_t length, std::uint32_t seed);

class UpdaterRig : public ::testing::Test {
 protected:
  void TearDown() override;

  // A device on a new pseudo-terminal; its slave path.
  std::string StartDevice(devsim::DeviceState state, devsim::SimulatorOptions options = {});
  // A pseudo-terminal nobody answers on.
  std::string SilentPort();
  // A path that is no port at all.
  std::string MissingPort() const { return (folder.path() / "no-such-port").string(); }

  void MakeUpdater(int baud, const std::string& com1, const std::string& com2);
  // The updater after a detection that found the device on COM1.
  void Detect(int baud, devsim::DeviceState state, devsim::SimulatorOptions options = {});

  devsim::Simulator& Sim(std::size_t i = 0) { return *ports.at(i)->device; }

  FakeView view;
  TempFolder folder;
  std::vector<std::unique_ptr<SimulatedPort>> ports;
  std::vector<std::unique_ptr<SimulatedPort>> silent;
  std::unique_ptr<su::Updater> updater;
  std::vector<std::thread> helpers;
};

}  // namespace su_test
