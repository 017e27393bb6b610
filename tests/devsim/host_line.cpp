#include "host_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace devsim_test {

HostLine::HostLine() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("cannot open a pseudo-terminal");
  }
  path_ = ptsname(master_);
  slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    throw std::runtime_error("cannot open " + path_);
  }
  termios t;
  tcgetattr(slave_, &t);
  cfmakeraw(&t);
  tcsetattr(slave_, TCSANOW, &t);
}

HostLine::~HostLine() {
  close(slave_);
  close(master_);
}

void HostLine::SetSpeed(speed_t speed) {
  termios t;
  tcgetattr(slave_, &t);
  cfsetspeed(&t, speed);
  tcsetattr(slave_, TCSANOW, &t);
}

void HostLine::Write(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(slave_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      throw std::runtime_error("write to the slave failed");
    }
    done += static_cast<std::size_t>(n);
  }
  tcdrain(slave_);
}

Bytes HostLine::Read(std::size_t count, int timeoutMs) {
  Bytes out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      break;
    }
    pollfd p{slave_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) {
      break;
    }
    std::uint8_t buffer[1024];
    const ssize_t n = read(slave_, buffer, std::min(sizeof buffer, count - out.size()));
    if (n <= 0) {
      break;
    }
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

bool HostLine::Silent(int ms) {
  return Read(1, ms).empty();
}

void HostLine::Purge() {
  tcflush(slave_, TCIFLUSH);
}

Bytes AccessSequence() {
  Bytes s(16);
  s[0] = 0xA5;
  s[1] = 0x3C;
  s[2] = 0x51;
  s[3] = 0xE7;
  s[4] = 0x19;
  s[5] = 0xB4;
  s[6] = 0x6D;
  s[7] = 0x02;
  s[8] = 0xF3;
  s[9] = 0x7E;
  s[10] = 0x28;
  s[11] = 0xC5;
  s[12] = 0x90;
  s[13] = 0x4B;
  s[14] = 0xD6;
  s[15] = 0x1F;
  return s;
}

Bytes ExitRequest() {
  return {0x80, 0x55, 0x1A, 0x1B};
}
Bytes WarmBootRequest() {
  return {0x04, 0x55, 0x1A, 0x1B, 0x8E};
}

std::uint16_t Sum16(const Bytes& data) {
  unsigned sum = 0;
  for (std::uint8_t b : data) {
    sum += b;
  }
  return static_cast<std::uint16_t>(sum % 65536);
}

std::uint8_t Sum8(const Bytes& data) {
  return static_cast<std::uint8_t>(Sum16(data) % 256);
}

Bytes PageFrame(std::uint8_t code, std::uint8_t address1, std::uint8_t address2,
                const Bytes& data) {
  Bytes frame(3 + data.size());
  frame[0] = code;
  frame[1] = address1;
  frame[2] = address2;
  std::copy(data.begin(), data.end(), frame.begin() + 3);
  const std::uint16_t sum = Sum16(data);
  frame.push_back(static_cast<std::uint8_t>(sum / 256));
  frame.push_back(static_cast<std::uint8_t>(sum % 256));
  return frame;
}

Bytes LogicPageFrame(std::uint32_t index, const Bytes& data) {
  const std::uint32_t address = index * 2;
  return PageFrame(0x10, static_cast<std::uint8_t>(address / 256),
                   static_cast<std::uint8_t>(address % 256), data);
}

Bytes ProcessorPageFrame(std::uint32_t index, const Bytes& data) {
  return PageFrame(0x20, static_cast<std::uint8_t>(index % 256),
                   static_cast<std::uint8_t>(index / 256), data);
}

Bytes PageAck(const Bytes& data) {
  const std::uint16_t sum = Sum16(data);
  return {0x55, static_cast<std::uint8_t>(sum / 256), static_cast<std::uint8_t>(sum % 256), 0xFF};
}

Bytes PagePattern(std::uint32_t seed) {
  Bytes page(256);
  std::uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : page) {
    x = x * 1103515245u + 12345;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return page;
}

std::string DecodeSerial(const std::uint8_t* area) {
  auto value = [](std::uint8_t x) { return (232 - x + 256) % 256; };
  auto back = [](std::uint8_t x) { return (x % 16) == 0 ? 16 : x % 16; };
  int p = 58;
  const int value0 = value(area[p]);
  p = (area[p] % 16) == 0 ? 42 : p - area[p] % 16;
  const int value1 = value(area[p]);
  p -= back(area[p]);
  const int letter = value(area[p]);
  if (letter < 65 || letter > 90) {
    return "";
  }
  p -= back(area[p]);
  int high = value(area[p]);
  if (high > 127) {
    high -= 256;
  }
  const int number = high * 200 + value0;
  char text[40];
  std::snprintf(text, sizeof text, "%c-%02d-%02d%02d", letter, value1, number / 100, number % 100);
  return text;
}

std::string Label(const std::string& text) {
  std::string label;
  for (char c : text) {
    label.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  }
  return label;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace devsim_test
