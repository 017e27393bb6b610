// The veltr-devsim program as a host's test rig runs it: path on stdout, link, signals, state.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "device_rig.h"

extern char** environ;

namespace devsim_test {
namespace {

// The program on a pipe for its stdout; killed in the destructor if a test left it running.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), DEVSIM_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int rc = posix_spawn(&pid_, DEVSIM_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdout_ = out[0];
    if (rc != 0) {
      pid_ = -1;
    }
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(stdout_);
  }

  // Everything the program printed until `until` characters or end of file or time-out.
  std::string ReadStdout(int timeoutMs, char until = '\n') {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (text.empty() || text.back() != until) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      pollfd p{stdout_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
        break;
      }
      char c;
      if (read(stdout_, &c, 1) != 1) {
        break;
      }
      text.push_back(c);
    }
    return text;
  }

  void Signal(int signal) { kill(pid_, signal); }

  // Exit status, or -1 when it did not end within the time-out.
  int Wait(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10 * 1000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

// The host side on the program's slave: opened by path as the upgrade program would.
class SlavePort {
 public:
  explicit SlavePort(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
  ~SlavePort() { close(fd_); }
  bool ok() const { return fd_ >= 0; }
  void SetSpeed(speed_t speed) {
    termios t;
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
  }
  Bytes Exchange(const Bytes& request, std::size_t count, int timeoutMs = kAnswerTimeoutMs) {
    tcflush(fd_, TCIFLUSH);
    if (write(fd_, request.data(), request.size()) < 0) {
      return {};
    }
    return Read(count, timeoutMs);
  }
  Bytes Read(std::size_t count, int timeoutMs = kAnswerTimeoutMs) {
    Bytes out;
    while (out.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) {
        break;
      }
      std::uint8_t buffer[256];
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n <= 0) {
        break;
      }
      out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

 private:
  int fd_;
};

std::string Identifier(const Bytes& identity) {
  return identity.size() == 16 ? std::string(identity.begin() + 8, identity.end()) : "";
}

TEST(ProgramTest, RunsADeviceUntilTerminatedAndKeepsItsMemory) {
  TempDir dir;
  const std::string state = dir.Sub("device");
  const std::string link = dir.Sub("ttyVELTR0");
  const Bytes page = PagePattern(5);
  {
    Program program({"--type", "PXR(-TP)", "--serial", "C-12-0042", "--start", "dead", "--state",
                     state, "--link", link, "--text1", "rack A"});
    const std::string first = program.ReadStdout(5000);
    ASSERT_FALSE(first.empty()) << "no path printed";
    const std::string path = first.substr(0, first.size() - 1);
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);

    {
      SlavePort port(link);
      ASSERT_TRUE(port.ok());
      port.SetSpeed(B115200);
      EXPECT_TRUE(port.Exchange(AccessSequence(), 16, kSilenceMs).empty()) << "dead";
      program.Signal(SIGUSR1);
      EXPECT_EQ(port.Read(1), Bytes{0x0D});
      EXPECT_EQ(Identifier(port.Exchange(AccessSequence(), 16)), "     PXR");
    }
    // A second host session on the same line: the device is still in program mode.
    {
      SlavePort port(path);
      port.SetSpeed(B115200);
      EXPECT_EQ(port.Exchange(ProcessorPageFrame(2, page), 4), PageAck(page));
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(5000), 0);
    EXPECT_EQ(program.ReadStdout(200), "") << "nothing but the path on stdout";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  }

  // Started again on the same memory, naming only what changes.
  Program program({"--state", state, "--text2", "second run", "--start", "program"});
  const std::string first = program.ReadStdout(5000);
  ASSERT_FALSE(first.empty());
  {
    SlavePort port(first.substr(0, first.size() - 1));
    port.SetSpeed(B115200);
    EXPECT_EQ(Identifier(port.Exchange(AccessSequence(), 16)), "     PXR");
    const Bytes info = port.Exchange({0x40}, 128);
    ASSERT_EQ(info.size(), 128u);
    EXPECT_EQ(DecodeSerial(info.data()), "C-12-0042");
    EXPECT_EQ(std::string(info.begin() + 64, info.begin() + 70), "rack A");
    EXPECT_EQ(std::string(info.begin() + 94, info.begin() + 104), "second run");
  }
  program.Signal(SIGINT);
  EXPECT_EQ(program.Wait(5000), 0);
  const auto saved = devsim::LoadState(state);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->ProcessorPage(2), page);
}

// Flash keeps what it acknowledged: a simulator killed in the middle of an upload, before its
// idle-time save, comes back with every page it answered, and FF where nothing was written.
TEST(ProgramTest, KilledMidUploadKeepsEveryAcknowledgedPage) {
  TempDir dir;
  const std::string state = dir.Sub("device");
  struct Written {
    bool logic;
    std::uint32_t index;
    Bytes data;
  };
  std::vector<Written> written;
  {
    Program program({"--type", "PXR(-TP)", "--start", "program", "--state", state});
    const std::string first = program.ReadStdout(5000);
    ASSERT_FALSE(first.empty()) << "no path printed";
    SlavePort port(first.substr(0, first.size() - 1));
    ASSERT_TRUE(port.ok());
    port.SetSpeed(B115200);
    // Processor page 0 first, then from a high page down, as the upgrade writes them; a few
    // logic pages in between.
    const std::uint32_t processorPages[] = {0, 40, 39, 38, 37, 36, 35, 34, 33, 32};
    for (std::uint32_t i = 0; i < std::size(processorPages); ++i) {
      written.push_back({false, processorPages[i], PagePattern(100 + i)});
      if (i % 3 == 1) {
        written.push_back({true, i, PagePattern(200 + i)});
      }
    }
    for (const auto& w : written) {
      const Bytes frame =
          w.logic ? LogicPageFrame(w.index, w.data) : ProcessorPageFrame(w.index, w.data);
      ASSERT_EQ(port.Exchange(frame, 4), PageAck(w.data))
          << (w.logic ? "logic " : "processor ") << w.index;
    }
    program.Signal(SIGKILL);
    EXPECT_EQ(program.Wait(5000), 128 + SIGKILL);
  }
  std::string error;
  const auto saved = devsim::LoadState(state, &error);
  ASSERT_TRUE(saved) << error;
  for (const auto& w : written) {
    EXPECT_EQ(w.logic ? saved->LogicPage(w.index) : saved->ProcessorPage(w.index), w.data)
        << (w.logic ? "logic " : "processor ") << w.index;
  }
  EXPECT_EQ(saved->ProcessorPage(20), Bytes(256, 0xFF)) << "never written";
  EXPECT_EQ(saved->ProcessorPage(1), Bytes(256, 0xFF)) << "never written";
}

TEST(ProgramTest, BadOptionsEndWithAnErrorAndNoPath) {
  TempDir dir;
  const std::string notAFolder = dir.Sub("device");
  std::ofstream(notAFolder) << "not a state folder\n";
  const std::vector<std::vector<std::string>> cases = {
      {"--type", "NOPE"}, {"--serial", "B-7-1234"},          {"--start", "asleep"},
      {"--hw", "70000"},  {"--text1", std::string(31, 'x')}, {"--state", notAFolder},
  };
  for (const auto& args : cases) {
    Program program(args);
    EXPECT_EQ(program.ReadStdout(2000), "") << args[0] << " " << args[1];
    const int status = program.Wait(5000);
    EXPECT_NE(status, 0) << args[0] << " " << args[1];
    EXPECT_NE(status, -1) << args[0] << " " << args[1];
  }
}

}  // namespace
}  // namespace devsim_test
