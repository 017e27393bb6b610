#include "fake_hid.h"

namespace veltr::test {

namespace {

// A frame as the devices send it: the length byte counts what follows, the sum8 of all the
// bytes before it comes last. Bytes the answer does not define carry a filler, so that a
// reader taking the wrong offset sees it.
std::vector<uint8_t> Frame(uint8_t length) {
  std::vector<uint8_t> frame(length + 1u, 0xEE);
  frame[0] = length;
  return frame;
}

void Seal(std::vector<uint8_t>& frame) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    sum += frame[i];
  }
  frame.back() = static_cast<uint8_t>(sum & 0xFF);
}

}  // namespace

void FakeHidDevice::QueueReport(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> report(inputLength, 0);
  for (size_t i = 0; i < payload.size() && i + 1 < report.size(); ++i) {
    report[i + 1] = payload[i];
  }
  pending.push_back(report);
}

void FakeHidDevice::Answer(const std::vector<uint8_t>& report) {
  if (report.size() < 4) {
    return;
  }
  const uint8_t count = report[1];
  const uint8_t command = report[2];
  const bool addressed = count == 4 && report.size() >= 6 && report[3] == 0xFF && report[4] == 0xFF;
  const bool plain = count == 2;
  if (!addressed && !plain) {
    return;
  }
  const bool identify = command == 0xF0;
  const bool mode = (addressed && command == 0x8A) || (plain && command == 0x81);
  if (!identify && !mode) {
    return;
  }
  if (ignoreRequests > 0) {
    --ignoreRequests;
    return;
  }
  std::vector<uint8_t> frame;
  if (identify && ((addressed && answersAddressedIdentify) || (plain && answersShortIdentify))) {
    // The addressed answer is the short one with the two address bytes after the code.
    const size_t shift = addressed ? 2 : 0;
    frame = Frame((olderLayout ? 11 : 13) + shift);
    frame[1] = 0xF0;
    frame[2 + shift] = code;
    const size_t serial = (olderLayout ? 7 : 9) + shift;
    if (!olderLayout) {
      frame[3 + shift] = variant;
    }
    frame[serial] = letter;
    frame[serial + 1] = number;
    frame[serial + 2] = high;
    frame[serial + 3] = low;
  } else if (mode && addressed && answersAddressedMode) {
    frame = Frame(20);
    frame[1] = 0x8A;
    frame[16] = modeByte;
  } else if (mode && plain && answersShortMode) {
    frame = Frame(3);
    frame[1] = 0x81;
    frame[2] = modeByte;
  } else {
    return;
  }
  if (identify && identifyLengthOverride >= 0) {
    frame[0] = static_cast<uint8_t>(identifyLengthOverride);
  }
  Seal(frame);
  QueueReport(frame);
}

std::vector<std::string> FakeHidBackend::Enumerate() {
  ++enumerations_;
  std::vector<std::string> nodes;
  for (const FakeHidDevice* device : devices_) {
    nodes.push_back(device->node);
  }
  return nodes;
}

FakeHidDevice* FakeHidBackend::At(int handle) {
  if (handle < 0 || static_cast<size_t>(handle) >= devices_.size() || !open_[handle]) {
    return nullptr;
  }
  return devices_[handle];
}

int FakeHidBackend::Open(const std::string& node) {
  open_.resize(devices_.size(), false);
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i]->node != node) {
      continue;
    }
    if (!devices_[i]->openable || open_[i]) {
      lastError_ = "cannot open " + node + ": Permission denied";
      return -1;
    }
    open_[i] = true;
    ++openHandles_;
    return static_cast<int>(i);
  }
  lastError_ = "cannot open " + node + ": No such file or directory";
  return -1;
}

bool FakeHidBackend::ReportLengths(int handle, uint32_t& input, uint32_t& output) {
  FakeHidDevice* device = At(handle);
  if (device == nullptr || !device->lengthsKnown) {
    return false;
  }
  input = device->inputLength;
  output = device->outputLength;
  return true;
}

bool FakeHidBackend::WriteReport(int handle, const uint8_t* report, uint32_t length) {
  FakeHidDevice* device = At(handle);
  if (device == nullptr || device->unplugged || length != device->outputLength) {
    lastError_ = "write failed";
    return false;
  }
  std::vector<uint8_t> bytes(report, report + length);
  device->written.push_back(bytes);
  device->Answer(bytes);
  return true;
}

bool FakeHidBackend::ReadReport(int handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) {
  FakeHidDevice* device = At(handle);
  if (device == nullptr) {
    return false;
  }
  ++device->reads;
  device->readTimeouts.push_back(timeoutMs);
  if (device->unplugged || device->pending.empty() || length != device->inputLength) {
    lastError_ = device->unplugged ? "device went away" : "no answer";
    return false;
  }
  const std::vector<uint8_t> next = device->pending.front();
  device->pending.pop_front();
  for (uint32_t i = 0; i < length; ++i) {
    report[i] = next[i];
  }
  return true;
}

void FakeHidBackend::DiscardInput(int handle) {
  if (FakeHidDevice* device = At(handle); device != nullptr && !device->unplugged) {
    device->discarded += static_cast<int>(device->pending.size());
    device->pending.clear();
  }
}

bool FakeHidBackend::Close(int handle) {
  if (At(handle) == nullptr) {
    return false;
  }
  open_[handle] = false;
  --openHandles_;
  return true;
}

}  // namespace veltr::test
