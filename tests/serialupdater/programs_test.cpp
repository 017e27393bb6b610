// The three programs as delivered: each names itself, its version and description, and its own
// line speed, and takes only the two port options.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
};

Outcome RunProgram(const std::string& command) {
  Outcome run;
  FILE* pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
  if (pipe == nullptr) {
    return run;
  }
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
    run.out += buffer;
  }
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

struct ProgramCase {
  const char* name;
  const char* speed;
};

void PrintTo(const ProgramCase& c, std::ostream* os) {
  *os << c.name;
}

class ProgramTest : public ::testing::TestWithParam<ProgramCase> {
 protected:
  std::string Program() const { return std::string(SU_BIN_DIR) + "/" + GetParam().name; }
};

TEST_P(ProgramTest, VersionNamesTheBuildAndTheFileVersion) {
  const Outcome run = RunProgram(Program() + " --version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(GetParam().name) +
                         " 1.25.0.1 (1.25.0001)\nFirmware Updater\n"
                         "File version 1.25.0.1, product version 1.25.0.1\n");
}

TEST_P(ProgramTest, HelpNamesThePortOptionsAndTheLineSpeed) {
  const Outcome run = RunProgram(Program() + " --help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("--com1 PATH"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("--com2 PATH"), std::string::npos);
  EXPECT_NE(run.out.find(std::string("program mode at ") + GetParam().speed + ",N,8,1"),
            std::string::npos)
      << run.out;
}

TEST_P(ProgramTest, UnknownOptionIsRefused) {
  const Outcome run = RunProgram(Program() + " --baud 9600");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("unknown option \"--baud\""), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Builds, ProgramTest,
                         ::testing::Values(ProgramCase{"SerialUpdaterA", "115200"},
                                           ProgramCase{"SerialUpdaterB", "57600"},
                                           ProgramCase{"SerialUpdaterC", "19200"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
