#include "transport/port_rs232.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <system_error>

#include "transport/port_holders.h"

namespace veltr {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What a fresh Open sets: a byte may lag 40 ms behind the one before, a whole answer may take
// one second plus 20 ms per byte.
constexpr uint32_t kOpenReadInterval = 40;
constexpr uint32_t kOpenReadTotalMultiplier = 20;
constexpr uint32_t kOpenReadTotalConstant = 1000;
constexpr uint32_t kWriteTotalMultiplier = 20;
constexpr uint32_t kWriteTotalConstant = 1000;

struct RateCode {
  uint32_t rate;
  speed_t code;
};

constexpr RateCode kRates[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

std::optional<speed_t> SpeedCode(uint32_t rate) {
  for (const RateCode& entry : kRates) {
    if (entry.rate == rate) {
      return entry.code;
    }
  }
  return std::nullopt;
}

uint32_t RateOf(speed_t code) {
  for (const RateCode& entry : kRates) {
    if (entry.code == code) {
      return entry.rate;
    }
  }
  return 0;
}

std::string ErrnoText(int err) {
  return std::generic_category().message(err);
}

std::string OpenFailureText(int err, const std::string& path) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return path + " does not exist";
    case EACCES:
    case EPERM:
      return "permission denied on " + path + " (is the user in the dialout group?)";
    case EBUSY:
      // Another program set the tty exclusive (TIOCEXCL).
      return InUseText(path);
    case EIO:
    case ENXIO:
    case ENODEV:
      // An 8250 port node without a UART behind it, or a USB adapter that was just pulled.
      return path + " has no working serial hardware behind it (" + ErrnoText(err) + ")";
    default:
      return "cannot open " + path + ": " + ErrnoText(err);
  }
}

// poll() takes whole milliseconds; rounding up keeps a wake-up from coming just before the
// deadline, which would turn the wait loop into a spin of zero time-outs.
int PollMilliseconds(Clock::duration left) {
  const auto ms = std::chrono::ceil<milliseconds>(left).count();
  if (ms <= 0) {
    return 0;
  }
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, uint32_t constant,
                                               uint32_t multiplier, uint32_t count) {
  const uint64_t total = uint64_t{constant} + uint64_t{count} * multiplier;
  if (total == 0) {
    return std::nullopt;
  }
  return start + milliseconds(total);
}

const CVeltrPortMap& DefaultMap() {
  static const CVeltrPortMap map;
  return map;
}

}  // namespace

CVeltrPortRS232::CVeltrPortRS232(const CVeltrPortMap* map) : map_(map) {}

CVeltrPortRS232::~CVeltrPortRS232() {
  Close();
}

ConnectResult CVeltrPortRS232::Open(const PortSettings& settings) {
  if (IsOpen()) {
    lastError_ = path_ + " is already open";
    return ConnectResult::PortNotAvailable;
  }
  lastError_.clear();
  if (!ResolvePath(settings.name)) {
    return ConnectResult::PortNotAvailable;
  }
  const uint32_t rate = settings.baudRate > 0 ? static_cast<uint32_t>(settings.baudRate) : 0;
  if (!OpenDevice() || !ApplyLineSettings(rate) || !DropModemLines()) {
    if (IsOpen()) {
      CloseDevice();
    }
    return ConnectResult::PortNotAvailable;
  }
  timeouts_ = {kOpenReadInterval, kOpenReadTotalMultiplier, kOpenReadTotalConstant,
               kWriteTotalMultiplier, kWriteTotalConstant};
  return ConnectResult::Connected;
}

bool CVeltrPortRS232::ResolvePath(const std::string& name) {
  const CVeltrPortMap& map = map_ ? *map_ : DefaultMap();
  if (const auto mapped = map.PathFor(name)) {
    path_ = *mapped;
    return true;
  }
  if (!name.empty() && name.front() == '/') {
    path_ = name;
    return true;
  }
  lastError_ = "\"" + name + "\" is not a serial port name (COM1 to COM4 or a device path)";
  return false;
}

bool CVeltrPortRS232::OpenDevice() {
  // Look before opening: opening a FIFO or some other node read-write is not harmless.
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) {
    lastError_ = OpenFailureText(errno, path_);
    return false;
  }
  if (!S_ISCHR(info.st_mode)) {
    lastError_ = path_ + " is not a serial device";
    return false;
  }
  fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    lastError_ = OpenFailureText(errno, path_);
    return false;
  }
  if (!::isatty(fd_)) {
    lastError_ = path_ + " is not a serial device";
    return false;
  }
  // No sharing: flock keeps out every program that asks first, TIOCEXCL refuses any later open
  // of the tty by anyone without CAP_SYS_ADMIN.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      lastError_ = InUseText(path_);
    } else {
      SetSystemError("lock");
    }
    return false;
  }
  if (::ioctl(fd_, TIOCEXCL) != 0) {
    SetSystemError("claim");
    return false;
  }
  return true;
}

bool CVeltrPortRS232::ApplyLineSettings(uint32_t baudRate) {
  const std::optional<speed_t> speed = SpeedCode(baudRate);
  if (!speed) {
    lastError_ = std::to_string(baudRate) + " baud is not a rate " + path_ + " can be set to";
    return false;
  }
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) {
    SetSystemError("read the line settings of");
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  // Reads never block in the driver: every wait is a poll() with the COM time-outs.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, *speed);
  ::cfsetospeed(&tio, *speed);
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    SetSystemError("configure");
    return false;
  }
  // tcsetattr succeeds when any part of the request was taken; read back what the driver kept.
  termios kept{};
  if (::tcgetattr(fd_, &kept) != 0) {
    SetSystemError("read the line settings of");
    return false;
  }
  if ((kept.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) != CS8 ||
      ::cfgetospeed(&kept) != *speed || (kept.c_iflag & (IXON | IXOFF)) != 0) {
    lastError_ = path_ + " refused the line settings " + std::to_string(baudRate) + " baud 8N1";
    return false;
  }
  return true;
}

bool CVeltrPortRS232::DropModemLines() {
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd_, TIOCMBIC, &lines) == 0) {
    return true;
  }
  // A pseudo-terminal or a bare adapter has no modem lines to drop.
  if (errno == ENOTTY || errno == EINVAL) {
    return true;
  }
  SetSystemError("drop DTR and RTS on");
  return false;
}

bool CVeltrPortRS232::CloseDevice() {
  // The exclusive flag belongs to the tty, not to this descriptor: a pseudo-terminal whose
  // master stays open would keep refusing every later open, our own included.
  ::ioctl(fd_, TIOCNXCL);
  const int result = ::close(fd_);
  const int err = errno;
  fd_ = -1;
  errno = err;
  return result == 0;
}

bool CVeltrPortRS232::Close() {
  if (!IsOpen()) {
    return true;
  }
  if (!CloseDevice()) {
    SetSystemError("close");
    return false;
  }
  return true;
}

bool CVeltrPortRS232::SetTimeout(uint32_t milliseconds) {
  if (!IsOpen()) {
    return NotOpen();
  }
  timeouts_ = {milliseconds, milliseconds, milliseconds, kWriteTotalMultiplier,
               kWriteTotalConstant};
  return true;
}

bool CVeltrPortRS232::Write(const CVeltrBuffer& buffer) {
  if (!IsOpen()) {
    return NotOpen();
  }
  // Only the receive queue: Linux write() returns while bytes still wait in the tty's output
  // queue, and flushing that would throw away the tail of the previous write. Whatever the device
  // sent between two transactions is dropped here, so it is never read as the next answer.
  ::tcflush(fd_, TCIFLUSH);

  const uint32_t count = buffer.GetSize();
  const uint8_t* data = count > 0 ? buffer.At(0) : nullptr;
  const auto deadline = TotalDeadline(Clock::now(), timeouts_.writeTotalConstant,
                                      timeouts_.writeTotalMultiplier, count);
  uint32_t sent = 0;
  while (sent < count) {
    const ssize_t n = ::write(fd_, data + sent, count - sent);
    if (n > 0) {
      sent += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      SetSystemError("write to");
      return false;
    }
    int waitMs = -1;
    if (deadline) {
      const auto now = Clock::now();
      if (now >= *deadline) {
        lastError_ = "writing to " + path_ + " timed out (the output queue does not drain)";
        return false;
      }
      waitMs = PollMilliseconds(*deadline - now);
    }
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, waitMs) < 0 && errno != EINTR) {
      SetSystemError("wait to write to");
      return false;
    }
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
      lastError_ = "lost the connection to " + path_;
      return false;
    }
  }
  // Return only once the bytes have left: a caller that changes the rate or waits for an answer
  // right after a write must not race the UART.
  while (::tcdrain(fd_) != 0) {
    if (errno != EINTR) {
      SetSystemError("drain the output of");
      return false;
    }
  }
  return true;
}

bool CVeltrPortRS232::Read(CVeltrBuffer& buffer) {
  if (!IsOpen()) {
    return NotOpen();
  }
  const uint32_t count = buffer.GetSize();
  uint8_t* data = count > 0 ? buffer.At(0) : nullptr;
  const auto totalDeadline = TotalDeadline(Clock::now(), timeouts_.readTotalConstant,
                                           timeouts_.readTotalMultiplier, count);
  const milliseconds interval(timeouts_.readInterval);
  uint32_t got = 0;
  Clock::time_point lastArrival{};
  bool pollSaidReadable = false;

  while (got < count) {
    // With VMIN and VTIME 0 a read never waits: it returns what is there, 0 when nothing is.
    const ssize_t n = ::read(fd_, data + got, count - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      lastArrival = Clock::now();
      pollSaidReadable = false;
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      SetSystemError("read from");
      return false;
    }
    if (pollSaidReadable) {
      // Readable yet empty: the line hung up.
      lastError_ = "lost the connection to " + path_;
      return false;
    }

    // The interval time-out runs from the last byte and only once a byte has come; the total
    // time-out runs from the call. Whichever ends first ends the read.
    std::optional<Clock::time_point> end = totalDeadline;
    if (got > 0 && interval.count() > 0) {
      const auto intervalEnd = lastArrival + interval;
      if (!end || intervalEnd < *end) {
        end = intervalEnd;
      }
    }
    int waitMs = -1;
    if (end) {
      const auto now = Clock::now();
      if (now >= *end) {
        lastError_.clear();
        return false;
      }
      waitMs = PollMilliseconds(*end - now);
    } else if (interval.count() == 0) {
      // No time-out at all would wait for ever on a silent line; take what is there instead.
      lastError_.clear();
      return false;
    }

    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      SetSystemError("wait for data from");
      return false;
    }
    if (ready == 0) {
      continue;
    }
    if ((p.revents & POLLIN) == 0) {
      lastError_ = "lost the connection to " + path_;
      return false;
    }
    pollSaidReadable = true;
  }
  return true;
}

bool CVeltrPortRS232::SetBaudRate(uint32_t rate) {
  if (!IsOpen()) {
    return NotOpen();
  }
  const std::optional<speed_t> speed = SpeedCode(rate);
  if (!speed) {
    lastError_ = std::to_string(rate) + " baud is not a rate " + path_ + " can be set to";
    return false;
  }
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) {
    SetSystemError("read the line settings of");
    return false;
  }
  ::cfsetispeed(&tio, *speed);
  ::cfsetospeed(&tio, *speed);
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    SetSystemError("set the rate of");
    return false;
  }
  if (GetBaudRate() != rate) {
    lastError_ = path_ + " refused " + std::to_string(rate) + " baud";
    return false;
  }
  return true;
}

uint32_t CVeltrPortRS232::GetBaudRate() const {
  if (!IsOpen()) {
    return 0;
  }
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) {
    return 0;
  }
  return RateOf(::cfgetospeed(&tio));
}

bool CVeltrPortRS232::NotOpen() {
  lastError_ = "the serial port is not open";
  return false;
}

void CVeltrPortRS232::SetSystemError(const char* what) {
  lastError_ = std::string("cannot ") + what + " " + path_ + ": " + ErrnoText(errno);
}

}  // namespace veltr
