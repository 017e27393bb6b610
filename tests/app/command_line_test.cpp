// The command line of VeltrUpgrade: the five upload switches and this platform's options.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/veltr_app.h"

namespace veltr_app_test {
namespace {

struct SwitchCase {
  const char* name;
  std::vector<std::string> args;
  int32_t uploadLogic;
  int32_t uploadProcessor;
  int32_t uploadBios;
};

void PrintTo(const SwitchCase& c, std::ostream* os) {
  *os << c.name;
}

class SwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchTest, SetsTheUploadFlags) {
  const auto& c = GetParam();
  std::vector<std::string> args = {"VeltrUpgrade"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const veltr::AppCommandLine line = veltr::ParseCommandLine(args);
  veltr::AppSettings settings;
  veltr::ApplyUploadFlags(line, settings);
  EXPECT_EQ(settings.uploadLogic, c.uploadLogic);
  EXPECT_EQ(settings.uploadProcessor, c.uploadProcessor);
  EXPECT_EQ(settings.uploadBios, c.uploadBios);
  EXPECT_TRUE(line.error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, SwitchTest,
    ::testing::Values(SwitchCase{"None", {}, 1, 1, 0},
                      SwitchCase{"NoUcWithDash", {"-nouc"}, 1, 0, 0},
                      SwitchCase{"FpgaOnlyWithSlash", {"/fpgaonly"}, 1, 0, 0},
                      SwitchCase{"NoFpga", {"-nofpga"}, 0, 1, 0},
                      SwitchCase{"UcOnlyMixedCase", {"/UcOnly"}, 0, 1, 0},
                      SwitchCase{"BiosSlashCapitals", {"/BIOS"}, 1, 1, 1},
                      SwitchCase{"BiosWithTwoDashesDoesNothing", {"--bios"}, 1, 1, 0},
                      SwitchCase{"BiosWithoutPrefixDoesNothing", {"bios"}, 1, 1, 0},
                      SwitchCase{"FpgaOnlyAndUcOnlyClearBoth", {"-fpgaonly", "-uconly"}, 0, 0, 0},
                      SwitchCase{
                          "ToolkitOptionsAroundThem", {"-style", "fusion", "-nouc"}, 1, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineTest, PackageFolderHelpAndVersion) {
  auto line = veltr::ParseCommandLine({"VeltrUpgrade", "--package", "/srv/fw", "-bios"});
  EXPECT_EQ(line.packageFolder, "/srv/fw");
  EXPECT_EQ(line.uploadBios, 1);
  EXPECT_EQ(veltr::ParseCommandLine({"VeltrUpgrade", "--package=/srv/x"}).packageFolder, "/srv/x");
  EXPECT_FALSE(veltr::ParseCommandLine({"VeltrUpgrade", "--package"}).error.empty());
  EXPECT_TRUE(veltr::ParseCommandLine({"VeltrUpgrade", "--help"}).help);
  EXPECT_TRUE(veltr::ParseCommandLine({"VeltrUpgrade", "--version"}).version);
}

TEST(CommandLineTest, PackageFolderIsTheGivenThenAPackageHereThenTheRememberedOne) {
  QTemporaryDir root;
  const QString start = root.filePath(QStringLiteral("start"));
  const QString remembered = root.filePath(QStringLiteral("remembered"));
  QDir().mkpath(start);
  QDir().mkpath(remembered);
  using veltr::CVeltrApp;
  EXPECT_EQ(CVeltrApp::ChoosePackageFolder(remembered, start, {}), remembered);
  // A launcher starts the program in the home folder, where no package is.
  EXPECT_EQ(CVeltrApp::ChoosePackageFolder({}, start, remembered), remembered);
  EXPECT_EQ(CVeltrApp::ChoosePackageFolder({}, start, root.filePath(QStringLiteral("gone"))),
            start);
  EXPECT_EQ(CVeltrApp::ChoosePackageFolder({}, start, {}), start);
  QFile ini(QDir(start).filePath(QStringLiteral("VeltrUpgrade.ini")));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.close();
  EXPECT_EQ(CVeltrApp::ChoosePackageFolder({}, start, remembered), start)
      << "started inside a package folder: that one";
}

}  // namespace
}  // namespace veltr_app_test
