#include "serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace su {
namespace {

speed_t SpeedConstant(int baud) {
  switch (baud) {
    case 19200:
      return B19200;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

constexpr int kWriteStallMs = 1000;

}  // namespace

SerialLine::~SerialLine() {
  Close();
}

bool SerialLine::Open(const std::string& path, int baud) {
  Close();
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  // Another program that has the port: the lock says so, as the port being "in use".
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    close(fd);
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t speed = SpeedConstant(baud);
  if (speed == B0 || cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0 ||
      tcsetattr(fd, TCSANOW, &t) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  baud_ = baud;
  return true;
}

void SerialLine::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
    baud_ = 0;
  }
}

bool SerialLine::SetSpeed(int baud) {
  const speed_t speed = SpeedConstant(baud);
  termios t{};
  if (fd_ < 0 || speed == B0 || tcgetattr(fd_, &t) != 0) {
    return false;
  }
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0 ||
      tcsetattr(fd_, TCSADRAIN, &t) != 0) {
    return false;
  }
  baud_ = baud;
  return true;
}

bool SerialLine::Write(const std::uint8_t* data, std::size_t count) {
  while (fd_ >= 0 && count > 0) {
    const ssize_t written = write(fd_, data, count);
    if (written > 0) {
      data += written;
      count -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written < 0 && errno != EAGAIN) {
      return false;
    }
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, kWriteStallMs) <= 0) {
      return false;
    }
  }
  return count == 0;
}

int SerialLine::InputCount() const {
  int count = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &count) != 0) {
    return 0;
  }
  return count;
}

bool SerialLine::ReadByte(std::uint8_t& byte) {
  if (fd_ < 0) {
    return false;
  }
  for (;;) {
    const ssize_t n = read(fd_, &byte, 1);
    if (n == 1) {
      return true;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    return false;
  }
}

void SerialLine::Discard() {
  if (fd_ >= 0) {
    tcflush(fd_, TCIFLUSH);
  }
}

bool SerialLine::WaitReadable(int ms) const {
  if (fd_ < 0) {
    return false;
  }
  if (InputCount() > 0) {
    return true;
  }
  pollfd p{fd_, POLLIN, 0};
  const int ready = poll(&p, 1, ms);
  if (ready > 0 && (p.revents & POLLIN) != 0) {
    return InputCount() > 0;
  }
  if (ready > 0) {
    // A hang-up or error returns at once and would spin the caller: wait out the slice instead.
    poll(nullptr, 0, ms);
  }
  return false;
}

}  // namespace su
