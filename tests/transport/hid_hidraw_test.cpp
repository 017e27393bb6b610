#include "transport/hid_hidraw.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "pty_pair.h"

namespace veltr {
namespace {

HidReportSizes Parse(const std::vector<uint8_t>& descriptor) {
  return ParseReportDescriptor(descriptor.data(), static_cast<uint32_t>(descriptor.size()));
}

// A vendor-defined interface of 64 bytes each way and no report ids, as the devices have.
const std::vector<uint8_t> kVendor64 = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor)
    0x09, 0x01,        // Usage
    0xA1, 0x01,        // Collection (application)
    0x15, 0x00,        //   Logical Minimum 0
    0x26, 0xFF, 0x00,  //   Logical Maximum 255
    0x75, 0x08,        //   Report Size 8
    0x95, 0x40,        //   Report Count 64
    0x09, 0x01,        //   Usage
    0x81, 0x02,        //   Input
    0x95, 0x40,        //   Report Count 64
    0x09, 0x01,        //   Usage
    0x91, 0x02,        //   Output
    0xC0,              // End Collection
};

TEST(ReportDescriptorTest, CountsTheReportIdByte) {
  const HidReportSizes sizes = Parse(kVendor64);
  EXPECT_EQ(sizes.input, 65u);
  EXPECT_EQ(sizes.output, 65u);
  EXPECT_FALSE(sizes.numbered);
}

TEST(ReportDescriptorTest, DirectionsAndBitFieldsAddUpApart) {
  const std::vector<uint8_t> descriptor = {
      0x75, 0x01, 0x95, 0x03, 0x81, 0x02,  // 3 input bits
      0x75, 0x01, 0x95, 0x05, 0x81, 0x03,  // 5 input bits of padding: one byte
      0x75, 0x08, 0x95, 0x20, 0x81, 0x02,  // 32 input bytes
      0x75, 0x08, 0x95, 0x08, 0x91, 0x02,  // 8 output bytes
      0x75, 0x08, 0x95, 0x04, 0xB1, 0x02,  // a feature report counts for neither
  };
  const HidReportSizes sizes = Parse(descriptor);
  EXPECT_EQ(sizes.input, 34u);
  EXPECT_EQ(sizes.output, 9u);
}

TEST(ReportDescriptorTest, NumberedReportsTakeTheLongest) {
  const std::vector<uint8_t> descriptor = {
      0x85, 0x01, 0x75, 0x08, 0x95, 0x10, 0x81, 0x02,  // report 1: 16 input bytes
      0x85, 0x02, 0x95, 0x30, 0x81, 0x02,              // report 2: 48 input bytes
      0x95, 0x08, 0x91, 0x02,                          // report 2: 8 output bytes
  };
  const HidReportSizes sizes = Parse(descriptor);
  EXPECT_EQ(sizes.input, 49u);
  EXPECT_EQ(sizes.output, 9u);
  EXPECT_TRUE(sizes.numbered);
}

TEST(ReportDescriptorTest, PushAndPopRestoreTheGlobals) {
  const std::vector<uint8_t> descriptor = {
      0x75, 0x08, 0x95, 0x40,  // 64 bytes
      0xA4,                    // Push
      0x95, 0x02, 0x91, 0x02,  // 2 output bytes
      0xB4,                    // Pop: 64 bytes again
      0x81, 0x02,              // 64 input bytes
  };
  const HidReportSizes sizes = Parse(descriptor);
  EXPECT_EQ(sizes.input, 65u);
  EXPECT_EQ(sizes.output, 3u);
}

TEST(ReportDescriptorTest, LongItemsAndFourByteDataAreSkipped) {
  std::vector<uint8_t> descriptor = {0xFE, 0x02, 0x10, 0xAA, 0xBB,  // long item
                                     0x77, 0x08, 0x00, 0x00, 0x00,  // Report Size, 4 data bytes
                                     0x97, 0x10, 0x00, 0x00, 0x00,  // Report Count 16
                                     0x81, 0x02};
  const HidReportSizes sizes = Parse(descriptor);
  EXPECT_EQ(sizes.input, 17u);
  EXPECT_EQ(sizes.output, 0u);
}

TEST(ReportDescriptorTest, CutOffDescriptorEndsWithoutReadingPastIt) {
  const std::vector<uint8_t> full = kVendor64;
  for (size_t size = 0; size < full.size(); ++size) {
    const std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(size));
    const HidReportSizes sizes = Parse(cut);
    EXPECT_LE(sizes.input, 65u);
    EXPECT_LE(sizes.output, 65u);
  }
  EXPECT_EQ(Parse({0xFE}).input, 0u);
  EXPECT_EQ(Parse({0x26, 0xFF}).input, 0u);
}

TEST(HidrawBackendTest, NodeThatDoesNotExistIsNamedInTheError) {
  auto backend = MakeHidrawBackend();
  EXPECT_LT(backend->Open("/nonexistent/hidraw9"), 0);
  EXPECT_NE(backend->LastError().find("/nonexistent/hidraw9"), std::string::npos);
}

TEST(HidrawBackendTest, EnumerationListsOnlyHidrawNodes) {
  // This machine may have no hidraw class at all; either way the scan ends and lists nodes only.
  auto backend = MakeHidrawBackend();
  for (const std::string& node : backend->Enumerate()) {
    EXPECT_EQ(node.rfind("/dev/hidraw", 0), 0u) << node;
  }
}

// The transfers on a node, with a pseudo-terminal standing in for the hidraw node: it passes
// bytes as they are written and hangs up when its far end closes, as an unplugged device does.
class HidrawTransferTest : public ::testing::Test {
 protected:
  using Clock = std::chrono::steady_clock;

  void SetUp() override {
    handle_ = backend_->Open(pty_.SlavePath());
    ASSERT_GE(handle_, 0) << backend_->LastError();
  }
  void TearDown() override {
    if (handle_ >= 0) {
      EXPECT_TRUE(backend_->Close(handle_));
    }
  }

  test::PtyPair pty_;
  std::unique_ptr<IVeltrHidBackend> backend_ = MakeHidrawBackend();
  int handle_ = -1;
};

TEST_F(HidrawTransferTest, WriteSendsTheReportIdThenTheData) {
  const uint8_t report[9] = {0, 4, 0xF0, 0xFF, 0xFF, 0xF2, 0, 0, 0};
  ASSERT_TRUE(backend_->WriteReport(handle_, report, sizeof report));
  EXPECT_EQ(pty_.Receive(9), std::vector<uint8_t>(report, report + sizeof report));
}

TEST_F(HidrawTransferTest, ReadPutsTheReportIdBackInFront) {
  std::vector<uint8_t> data(64);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(0x80 + i);
  }
  ASSERT_TRUE(pty_.Send(data));
  ASSERT_TRUE(pty_.SlaveHasInput());
  uint8_t report[65];
  report[0] = 0xAA;
  ASSERT_TRUE(backend_->ReadReport(handle_, report, sizeof report, 2000)) << backend_->LastError();
  EXPECT_EQ(report[0], 0);
  EXPECT_EQ(std::vector<uint8_t>(report + 1, report + 65), data);
}

TEST_F(HidrawTransferTest, SilentNodeTimesOut) {
  uint8_t report[65];
  const auto start = Clock::now();
  EXPECT_FALSE(backend_->ReadReport(handle_, report, sizeof report, 300));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_NE(backend_->LastError().find(pty_.SlavePath()), std::string::npos)
      << backend_->LastError();
}

TEST_F(HidrawTransferTest, DiscardThrowsAwayWhatWaitsWithoutWaitingForMore) {
  ASSERT_TRUE(pty_.Send(std::vector<uint8_t>(64, 0x11)));
  ASSERT_TRUE(pty_.SlaveHasInput());
  const auto start = Clock::now();
  backend_->DiscardInput(handle_);
  backend_->DiscardInput(handle_);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "an empty node is no wait";
  ASSERT_TRUE(pty_.Send(std::vector<uint8_t>(64, 0x22)));
  uint8_t report[65];
  ASSERT_TRUE(backend_->ReadReport(handle_, report, sizeof report, 2000)) << backend_->LastError();
  EXPECT_EQ(report[1], 0x22);
}

TEST_F(HidrawTransferTest, ShortReportFails) {
  ASSERT_TRUE(pty_.Send({1, 2, 3}));
  ASSERT_TRUE(pty_.SlaveHasInput());
  uint8_t report[65];
  EXPECT_FALSE(backend_->ReadReport(handle_, report, sizeof report, 2000));
}

TEST_F(HidrawTransferTest, NodeThatHangsUpEndsTheReadAtOnce) {
  pty_.CloseMaster();
  uint8_t report[65];
  const auto start = Clock::now();
  EXPECT_FALSE(backend_->ReadReport(handle_, report, sizeof report, 30000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "a hangup is not a wait";
}

TEST_F(HidrawTransferTest, WriteToANodeThatHungUpFailsAndNamesIt) {
  pty_.CloseMaster();
  const uint8_t report[65] = {};
  const auto start = Clock::now();
  EXPECT_FALSE(backend_->WriteReport(handle_, report, sizeof report));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_NE(backend_->LastError().find(pty_.SlavePath()), std::string::npos)
      << backend_->LastError();
}

TEST_F(HidrawTransferTest, NodeWithoutReportDescriptorHasNoLengths) {
  uint32_t input = 0;
  uint32_t output = 0;
  EXPECT_FALSE(backend_->ReportLengths(handle_, input, output));
  EXPECT_NE(backend_->LastError().find(pty_.SlavePath()), std::string::npos);
}

}  // namespace
}  // namespace veltr
