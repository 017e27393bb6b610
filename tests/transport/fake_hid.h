#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "transport/hid_backend.h"

namespace veltr::test {

// One HID device on the fake bus. It answers the identify and mode requests from what it is
// told below, building its frames from the wire format on its own; every other output report
// is only recorded, and input reports for the port's Read are queued by the test.
struct FakeHidDevice {
  std::string node = "/dev/hidraw0";
  bool openable = true;
  bool lengthsKnown = true;
  uint32_t inputLength = 65;  // report id byte included
  uint32_t outputLength = 65;

  // What the device is: the bytes its identify and mode answers carry.
  uint8_t code = 0x60;
  uint8_t variant = 0xFF;
  uint8_t letter = 'A';
  uint8_t number = 7;
  uint8_t high = 3;
  uint8_t low = 25;
  uint8_t modeByte = 254;

  bool answersAddressedIdentify = true;
  bool answersShortIdentify = true;
  bool answersAddressedMode = true;
  bool answersShortMode = true;
  bool olderLayout = false;         // identify answers without the variant byte
  int identifyLengthOverride = -1;  // a length byte of a layout the port does not know
  int ignoreRequests = 0;           // requests taken without an answer before it answers

  bool unplugged = false;  // every write and read fails, as after the cable is pulled

  // What crossed the bus.
  std::vector<std::vector<uint8_t>> written;  // output reports, id byte first
  std::deque<std::vector<uint8_t>> pending;   // input reports waiting, id byte first
  std::vector<uint32_t> readTimeouts;         // the time-out of every read
  int reads = 0;
  int discarded = 0;  // input reports thrown away unread

  // Queues an input report carrying payload (padded with zeros to the report length).
  void QueueReport(const std::vector<uint8_t>& payload);
  // Answers one request written to it, if it is one the device knows.
  void Answer(const std::vector<uint8_t>& report);
};

class FakeHidBackend final : public IVeltrHidBackend {
 public:
  // The devices stay owned by the test; the backend only points at them.
  explicit FakeHidBackend(std::vector<FakeHidDevice*> devices) : devices_(std::move(devices)) {}

  std::vector<std::string> Enumerate() override;
  int Open(const std::string& node) override;
  bool ReportLengths(int handle, uint32_t& input, uint32_t& output) override;
  bool WriteReport(int handle, const uint8_t* report, uint32_t length) override;
  bool ReadReport(int handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) override;
  void DiscardInput(int handle) override;
  bool Close(int handle) override;
  std::string LastError() const override { return lastError_; }

  int OpenHandles() const { return openHandles_; }
  int Enumerations() const { return enumerations_; }

 private:
  FakeHidDevice* At(int handle);

  std::vector<FakeHidDevice*> devices_;
  std::vector<bool> open_;
  int openHandles_ = 0;
  int enumerations_ = 0;
  std::string lastError_;
};

}  // namespace veltr::test
