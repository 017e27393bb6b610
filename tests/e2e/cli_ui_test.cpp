// The command line's side of a device listing: the rows it prints and the device --first takes.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "cli/cli_ui.h"
#include "transport/device_identity.h"

namespace veltr::cli {
namespace {

// What a CliOutput printed, caught in memory.
class Captured {
 public:
  Captured() : file_(open_memstream(&data_, &size_)) {}
  ~Captured() {
    std::fclose(file_);
    std::free(data_);
  }
  std::FILE* File() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

const std::vector<FoundDevice> kFound = {
    {-1, -1, kDeviceNotResponding, "", ""},
    {0, 5, kDeviceOk, "A07-0625", ""},
    {24, 1, kDeviceOk, "B12-9999", ""},
    {-1, -1, kDeviceNotAvailable, "", ""},
};

TEST(FoundDeviceLineTest, AnsweredDevicesShowWhatTheySaidOthersOnlyTheirStatus) {
  const std::string ok = FoundDeviceLine(2, kFound[1]);
  EXPECT_NE(ok.find("  2  "), std::string::npos) << ok;
  EXPECT_NE(ok.find("KL1A"), std::string::npos) << ok;
  EXPECT_NE(ok.find("A07-0625"), std::string::npos) << ok;
  EXPECT_NE(ok.find("Upgrade"), std::string::npos) << ok;
  EXPECT_EQ(ok.substr(ok.size() - 2), "Ok") << ok;

  const std::string silent = FoundDeviceLine(1, kFound[0]);
  EXPECT_EQ(silent.find("Unknown"), std::string::npos) << silent;
  EXPECT_NE(silent.find("Not responding"), std::string::npos) << silent;
  EXPECT_NE(FoundDeviceLine(4, kFound[3]).find("Not available"), std::string::npos);

  // The columns line up under the heading, whatever the row says.
  const std::string heading = FoundDeviceHeading();
  EXPECT_EQ(ok.find("A07-0625"), heading.find("Serial number"));
  EXPECT_EQ(silent.find("Not responding"), heading.find("Status"));
}

struct SelectCase {
  const char* name;
  bool first;
  std::vector<FoundDevice> found;
  const char* chosen;  // nullptr: none
};

class SelectDeviceTest : public ::testing::TestWithParam<SelectCase> {};

TEST_P(SelectDeviceTest, TakesTheFirstOkDeviceOnlyWhenAskedTo) {
  const SelectCase& c = GetParam();
  Captured out;
  CliOutput output(out.File(), false, false);
  CliUi::Answers answers;
  answers.first = c.first;
  CliUi ui(output, answers);
  const auto chosen = ui.SelectDevice(kPortUsb, c.found);
  if (c.chosen == nullptr) {
    EXPECT_FALSE(chosen.has_value());
    // Without a choice the user gets the list to choose from.
    const std::string text = out.Text();
    for (size_t i = 0; i < c.found.size(); ++i) {
      EXPECT_NE(text.find(FoundDeviceLine(i + 1, c.found[i])), std::string::npos) << text;
    }
    return;
  }
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->serialNumber, c.chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectDeviceTest,
    ::testing::Values(SelectCase{"FirstSkipsDevicesThatDidNotAnswer", true, kFound, "A07-0625"},
                      SelectCase{"WithoutFirstOnlyLists", false, kFound, nullptr},
                      SelectCase{"FirstWithNoneOkLists", true, {kFound[0], kFound[3]}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FoundDeviceRowTest, JsonTellsTypeModeAndSerialNumberOnlyOfDevicesThatAnswered) {
  Captured out;
  CliOutput output(out.File(), false, true);
  PrintFoundDevices(output, kFound);
  const std::string text = out.Text();
  EXPECT_NE(text.find("{\"event\":\"device\",\"mode\":\"Upgrade\",\"row\":2,\"serialNumber\":"
                      "\"A07-0625\",\"status\":\"Ok\",\"statusCode\":0,\"type\":\"KL1A\"}"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("{\"event\":\"device\",\"row\":1,\"status\":\"Not responding\","
                      "\"statusCode\":1}"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace veltr::cli
