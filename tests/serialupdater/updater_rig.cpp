#include "updater_rig.h"

#include <poll.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>

#include "devsim/device_table.h"

namespace su_test {

su::BoxAnswer FakeView::Ask(const su::MessageBox& box) {
  boxes.push_back(box);
  if (onAsk) {
    onAsk(box);
  }
  if (answers.empty()) {
    return su::BoxAnswer::kOk;
  }
  const su::BoxAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

std::optional<std::string> FakeView::Input(const std::string& title, const std::string& prompt,
                                           const std::string& preset) {
  inputCalls.push_back({title, prompt, preset});
  if (inputs.empty()) {
    return std::nullopt;
  }
  auto answer = inputs.front();
  inputs.pop_front();
  return answer;
}

void FakeView::ProcessEvents() {
  ++events;
  if (onEvents) {
    onEvents();
  }
}

bool FakeView::Showed(int line, const std::string& text) const {
  const auto it = history.find(line);
  return it != history.end() &&
         std::find(it->second.begin(), it->second.end(), text) != it->second.end();
}

std::vector<std::string> FakeView::BoxTexts() const {
  std::vector<std::string> texts;
  for (const auto& box : boxes) {
    texts.push_back(box.text);
  }
  return texts;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "su-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempFolder::Write(const std::string& name, const Bytes& bytes) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

SimulatedPort::~SimulatedPort() {
  if (device) {
    device->Stop();
  }
  devsim::ClosePtyPair(pty);
}

std::size_t SimulatedPort::BytesReceived() const {
  std::size_t total = 0;
  for (const auto& run : device->ReceivedSpeeds()) {
    total += run.count;
  }
  return total;
}

devsim::DeviceState Device(const std::string& type, const devsim::IdentityChanges& changes) {
  std::string error;
  auto state = devsim::NewDevice(devsim::ParseTypeName(type).value_or(-1), &error);
  if (!state || !devsim::ApplyChanges(*state, changes, &error)) {
    throw std::runtime_error("cannot make a " + type + ": " + error);
  }
  return *state;
}

Bytes Image(std::size_t length, std::uint32_t seed) {
  Bytes bytes(length);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

void UpdaterRig::TearDown() {
  for (auto& t : helpers) {
    t.join();
  }
  updater.reset();
  ports.clear();
  silent.clear();
}

std::string UpdaterRig::StartDevice(devsim::DeviceState state, devsim::SimulatorOptions options) {
  auto port = std::make_unique<SimulatedPort>();
  std::string error;
  if (!devsim::OpenPtyPair(port->pty, &error)) {
    ADD_FAILURE() << error;
    return {};
  }
  if (getenv("SU_SIM_LOG") != nullptr) {
    options.log = [](const std::string& line) { fprintf(stderr, "sim: %s\n", line.c_str()); };
  }
  port->device =
      std::make_unique<devsim::Simulator>(port->pty.master, std::move(state), std::move(options));
  if (!port->device->Start(&error)) {
    ADD_FAILURE() << error;
  }
  ports.push_back(std::move(port));
  return ports.back()->pty.slavePath;
}

std::string UpdaterRig::SilentPort() {
  auto port = std::make_unique<SimulatedPort>();
  std::string error;
  if (!devsim::OpenPtyPair(port->pty, &error)) {
    ADD_FAILURE() << error;
  }
  const std::string path = port->pty.slavePath;
  // No simulator: whatever is written there stays unanswered.
  silent.push_back(std::move(port));
  return path;
}

void UpdaterRig::MakeUpdater(int baud, const std::string& com1, const std::string& com2) {
  su::PortPaths paths;
  paths.com1 = com1;
  paths.com2 = com2;
  updater = std::make_unique<su::Updater>(view, baud, paths);
  updater->SetFolder(folder.path());
}

void UpdaterRig::Detect(int baud, devsim::DeviceState state, devsim::SimulatorOptions options) {
  const std::string com1 = StartDevice(std::move(state), std::move(options));
  MakeUpdater(baud, com1, MissingPort());
  updater->FormLoad();
  updater->Main();
  ASSERT_TRUE(updater->PortOpen()) << updater->Line(2);
  ASSERT_FALSE(view.quit);
}

}  // namespace su_test
