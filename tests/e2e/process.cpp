#include "e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace veltr::e2e {
namespace {

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  return argv;
}

void ExecChild(const std::string& program, const std::vector<std::string>& args, int out, int err,
               int in = -1) {
  const int input = in >= 0 ? in : open("/dev/null", O_RDONLY);
  dup2(input, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  auto argv = Argv(program, args);
  execv(program.c_str(), argv.data());
  _exit(127);
}

}  // namespace

// veltr on Ethernet broadcasts, or sends to the address it is given. Started directly (not through
// the network lab's `ip netns exec`), it runs in the test's own namespace, which is the machine's:
// only a loopback address is allowed there.
static bool WouldLeaveTheMachine(const std::string& program, const std::vector<std::string>& args) {
  const std::string name = program.substr(program.find_last_of('/') + 1);
  if (name != "veltr" && name != "VeltrUpgrade") {
    return false;
  }
  bool ethernet = false;
  bool loopback = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "Ethernet" || args[i] == "--port=Ethernet") {
      ethernet = true;
    }
    if (args[i] == "--address" && i + 1 < args.size() && args[i + 1].rfind("127.", 0) == 0) {
      loopback = true;
    }
  }
  return ethernet && !loopback;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     int timeoutSeconds, const SignalPlan* plan) {
  RunResult result;
  if (WouldLeaveTheMachine(program, args)) {
    result.exitCode = -2;
    result.err = "refused: " + program +
                 " on Ethernet without a loopback address would send to the network; run it in "
                 "the network lab";
    return result;
  }
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  int terminal = -1;
  int terminalSlave = -1;
  if (plan != nullptr && plan->terminalInput) {
    terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
      return result;
    }
    terminalSlave = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  const pid_t pid = fork();
  if (pid == 0) {
    ExecChild(program, args, out[1], err[1], terminalSlave);
  }
  close(out[1]);
  close(err[1]);
  if (terminalSlave >= 0) {
    close(terminalSlave);
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0 && elapsed() < timeoutSeconds) {
    if (poll(fds, 2, 500) < 0) {
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) {
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (plan != nullptr && result.signalledAt < 0 &&
        (result.out.find(plan->after) != std::string::npos ||
         result.err.find(plan->after) != std::string::npos)) {
      kill(pid, plan->signal);
      result.signalledAt = elapsed();
      if (plan->closeOutput) {
        break;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) {
      close(fd.fd);
    }
  }
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (elapsed() > timeoutSeconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10 * 1000);
  }
  if (terminal >= 0) {
    close(terminal);
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.seconds = elapsed();
  return result;
}

SimulatorProcess::~SimulatorProcess() {
  Stop();
}

bool SimulatorProcess::Start(const std::string& program, const std::vector<std::string>& args,
                             const std::string& errorFile) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    return false;
  }
  const int err = errorFile.empty()
                      ? STDERR_FILENO
                      : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // A test that dies without its teardown (a sanitizer halting it) must not leave the simulator
    // behind: it would hold the test's output open and ctest would wait for it until its time-out.
    // The signal follows the forking thread; every test starts its simulators on its main thread.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
      _exit(127);
    }
    ExecChild(program, args, out[1], err);
  }
  close(out[1]);
  if (err != STDERR_FILENO && err >= 0) {
    close(err);
  }
  // The first line is the slave's path; the simulator is ready to answer once it is printed.
  pollfd fd = {out[0], POLLIN, 0};
  char c = 0;
  while (poll(&fd, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
    slave_ += c;
  }
  close(out[0]);
  return !slave_.empty();
}

bool SimulatorProcess::Stop() {
  if (pid_ <= 0) {
    return false;
  }
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void SimulatorProcess::Kill() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace veltr::e2e
