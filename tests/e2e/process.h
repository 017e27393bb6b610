#pragma once

// Runs the suite's programs as child processes, the way a user or a script would.

#include <sys/types.h>

#include <string>
#include <vector>

namespace veltr::e2e {

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
  double seconds = 0;
  double signalledAt = -1;  // seconds after the start the planned signal was sent; -1 never
};

// A signal for the program once its standard output or error holds `after`. With closeOutput the
// reading ends there and both pipes are closed, as when the terminal the program wrote to went
// away. With terminalInput its standard input is a pseudo-terminal nobody types on, so that it
// asks its questions there and waits.
struct SignalPlan {
  int signal = 0;
  std::string after;
  bool closeOutput = false;
  bool terminalInput = false;
};

// Runs a program to its end with stdin from /dev/null; both outputs are collected whole.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     int timeoutSeconds = 180, const SignalPlan* plan = nullptr);

// veltr-devsim in the background: started with its options, its slave path read from its first
// line, stopped with SIGTERM (it saves its state on the way out).
class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // errorFile: where its stderr goes (for --verbose); empty: the test's own.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& errorFile = "");
  // Waits for the process to end; true when it ended by itself with status 0.
  bool Stop();
  // Kills the process without letting it save anything (a power loss); waits for its end.
  void Kill();
  const std::string& SlavePath() const { return slave_; }

 private:
  pid_t pid_ = -1;
  std::string slave_;
};

}  // namespace veltr::e2e
