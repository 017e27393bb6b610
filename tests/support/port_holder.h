#pragma once

// Another process that holds a tty the way a terminal program does: opened and locked, until the
// test lets it go. Its command name is the test program's own, as the kernel keeps it.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace veltr::test {

class PortHolderProcess {
 public:
  // Forks a child that opens devicePath, takes the lock and waits; returns once it holds it.
  // Only calls that are safe between fork and exec run in the child.
  explicit PortHolderProcess(const std::string& devicePath) {
    int ready[2];
    if (::pipe(ready) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      const char held = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
      (void)!::write(ready[1], &held, 1);
      for (;;) {
        ::pause();
      }
    }
    ::close(ready[1]);
    char held = 'n';
    holds_ = pid_ > 0 && ::read(ready[0], &held, 1) == 1 && held == 'y';
    ::close(ready[0]);
  }
  ~PortHolderProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  PortHolderProcess(const PortHolderProcess&) = delete;
  PortHolderProcess& operator=(const PortHolderProcess&) = delete;

  bool Holds() const { return holds_; }
  pid_t Pid() const { return pid_; }
  // What the kernel calls the child (the test program's name, cut at 15 characters).
  std::string CommandName() const {
    char name[64] = {};
    const std::string path = "/proc/" + std::to_string(pid_) + "/comm";
    const int fd = ::open(path.c_str(), O_RDONLY);
    ssize_t length = fd >= 0 ? ::read(fd, name, sizeof name - 1) : 0;
    if (fd >= 0) {
      ::close(fd);
    }
    while (length > 0 && name[length - 1] == '\n') {
      --length;
    }
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
  }

 private:
  pid_t pid_ = -1;
  bool holds_ = false;
};

}  // namespace veltr::test
