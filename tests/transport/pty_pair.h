#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace veltr::test {

// A pseudo-terminal pair: the test holds the master and plays the device; the port under test
// opens the slave by its path. The pair also keeps a slave descriptor of its own, so the master
// does not read EIO while the port is closed and the test can see when bytes have reached the
// slave's input queue.
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      throw std::runtime_error("cannot make a pseudo-terminal pair");
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
      throw std::runtime_error("cannot name the pseudo-terminal slave");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
      throw std::runtime_error("cannot open " + slavePath_);
    }
    // A fresh slave echoes like a terminal; a serial line does not, even before the port sets it.
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
  }
  ~PtyPair() {
    CloseMaster();
    ::close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  void CloseMaster() {
    if (master_ >= 0) {
      ::close(master_);
      master_ = -1;
    }
  }

  // What the device sends.
  bool Send(const std::vector<uint8_t>& bytes) const {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // What the device received: up to count bytes, waiting at most timeout for them.
  std::vector<uint8_t> Receive(
      size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    std::vector<uint8_t> bytes;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      pollfd p{master_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        break;
      }
      uint8_t chunk[512];
      const size_t want = std::min(count - bytes.size(), sizeof chunk);
      const ssize_t n = ::read(master_, chunk, want);
      if (n <= 0) {
        break;
      }
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

  // True once the bytes the device sent are waiting in the slave's input queue.
  bool SlaveHasInput(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const {
    pollfd p{slave_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1 && (p.revents & POLLIN);
  }

  // Whether the slave tty refuses further opens (TIOCEXCL); root is let through regardless,
  // so the flag itself is what a test can check.
  bool SlaveExclusive() const {
    int exclusive = 0;
    if (::ioctl(slave_, TIOCGEXCL, &exclusive) != 0) {
      throw std::runtime_error("TIOCGEXCL failed");
    }
    return exclusive != 0;
  }

  // On Linux the master reports the slave's line settings.
  termios SlaveSettings() const {
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0) {
      throw std::runtime_error("tcgetattr on the master failed");
    }
    return tio;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace veltr::test
