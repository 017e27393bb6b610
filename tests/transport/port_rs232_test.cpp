#include "transport/port_rs232.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "tests/support/port_holder.h"

namespace veltr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPair;

void Fill(CVeltrBuffer& buffer, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(buffer.Resize(static_cast<uint32_t>(bytes.size())));
  for (uint32_t i = 0; i < bytes.size(); ++i) {
    *buffer.At(i) = bytes[i];
  }
}

std::vector<uint8_t> Contents(const CVeltrBuffer& buffer, uint32_t count) {
  std::vector<uint8_t> bytes;
  for (uint32_t i = 0; i < count; ++i) {
    bytes.push_back(*buffer.At(i));
  }
  return bytes;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void ExpectRaw8N1(const termios& tio, speed_t speed) {
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u) << "parity, two stop bits or RTS/CTS";
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetospeed(&tio), speed);
  EXPECT_EQ(cfgetispeed(&tio), speed);
}

// The port under test opens "COM2", which the map points at the slave of a fresh pty pair.
class SerialPortTest : public ::testing::Test {
 protected:
  SerialPortTest() { map_.Set("COM2", pty_.SlavePath()); }

  ConnectResult OpenCom2(int32_t baudRate = 19200) {
    PortSettings settings;
    settings.name = "COM2";
    settings.baudRate = baudRate;
    return port_.Open(settings);
  }

  PtyPair pty_;
  CVeltrPortMap map_;
  CVeltrPortRS232 port_{&map_};
};

// --- Open -------------------------------------------------------------------------------------

TEST_F(SerialPortTest, OpensByComNameOrDevicePath) {
  const std::string names[] = {"COM2", "com2", pty_.SlavePath()};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    PortSettings settings;
    settings.name = name;
    EXPECT_EQ(port_.Open(settings), ConnectResult::Connected) << port_.LastError();
    EXPECT_TRUE(port_.IsOpen());
    EXPECT_EQ(port_.DevicePath(), pty_.SlavePath());
    EXPECT_EQ(port_.GetBaudRate(), 19200u);
    EXPECT_TRUE(port_.Close());
    EXPECT_FALSE(port_.IsOpen());
  }
}

TEST_F(SerialPortTest, SecondOpenIsRefusedAndKeepsTheFirst) {
  ASSERT_EQ(OpenCom2(19200), ConnectResult::Connected) << port_.LastError();

  PtyPair other;
  PortSettings settings;
  settings.name = other.SlavePath();
  settings.baudRate = 57600;
  EXPECT_EQ(port_.Open(settings), ConnectResult::PortNotAvailable);

  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(port_.DevicePath(), pty_.SlavePath());
  EXPECT_EQ(port_.GetBaudRate(), 19200u);
  CVeltrBuffer out;
  Fill(out, {0x5A});
  ASSERT_TRUE(port_.Write(out));
  EXPECT_EQ(pty_.Receive(1), std::vector<uint8_t>{0x5A});
}

TEST_F(SerialPortTest, PortHeldByAnotherPortIsRefusedUntilReleased) {
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  EXPECT_TRUE(pty_.SlaveExclusive());

  CVeltrPortRS232 second(&map_);
  PortSettings settings;
  settings.name = "COM2";
  EXPECT_EQ(second.Open(settings), ConnectResult::PortNotAvailable);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_NE(second.LastError().find("in use by another program"), std::string::npos)
      << second.LastError();

  // Closing gives the tty back, exclusive flag included, while the device side stays open.
  ASSERT_TRUE(port_.Close());
  EXPECT_FALSE(pty_.SlaveExclusive());
  EXPECT_EQ(second.Open(settings), ConnectResult::Connected) << second.LastError();
}

// What a user reads when a terminal program has the port: who holds it, by name and process.
TEST_F(SerialPortTest, PortHeldByAnotherProcessNamesThatProcess) {
  test::PortHolderProcess holder(pty_.SlavePath());
  ASSERT_TRUE(holder.Holds());

  EXPECT_EQ(OpenCom2(), ConnectResult::PortNotAvailable);
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(port_.LastError(), pty_.SlavePath() +
                                   " is in use by another program: " + holder.CommandName() +
                                   " (process " + std::to_string(holder.Pid()) + ")");
}

TEST_F(SerialPortTest, RejectsWhatIsNotAnOpenableSerialPort) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("veltr-not-a-tty-" + std::to_string(getpid()));
  std::ofstream(file) << "plain file";

  struct Case {
    std::string name;
    std::string expected;  // part of LastError()
  };
  const Case cases[] = {
      {file.string(), file.string() + " is not a serial device"},
      {"/dev/null", "/dev/null is not a serial device"},
      {std::filesystem::temp_directory_path().string(), "is not a serial device"},
      {"/dev/veltr-no-such-tty", "/dev/veltr-no-such-tty does not exist"},
      {"COM5", "not a serial port name"},
      {"COM0", "not a serial port name"},
      {"LPT1", "not a serial port name"},
      {"USB", "not a serial port name"},
      {"", "not a serial port name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PortSettings settings;
    settings.name = c.name;
    EXPECT_EQ(port_.Open(settings), ConnectResult::PortNotAvailable);
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_NE(port_.LastError().find(c.expected), std::string::npos) << port_.LastError();
  }
  std::ifstream back(file);
  std::string text;
  std::getline(back, text);
  EXPECT_EQ(text, "plain file");
  std::filesystem::remove(file);
}

TEST_F(SerialPortTest, UnsupportedRateFailsTheOpenAndLeavesThePortClosed) {
  for (const int32_t rate : {12345, 0, -19200}) {
    SCOPED_TRACE(rate);
    EXPECT_EQ(OpenCom2(rate), ConnectResult::PortNotAvailable);
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_FALSE(port_.LastError().empty());
  }
  // Nothing half-configured was left behind: the next Open works.
  EXPECT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
}

TEST_F(SerialPortTest, ModeAndDeviceTypeAreFixedOpenOrNot) {
  for (const bool open : {false, true}) {
    SCOPED_TRACE(open ? "open" : "closed");
    if (open) {
      ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
    }
    EXPECT_EQ(port_.GetMode(), kModeUpgradeCode);
    EXPECT_EQ(port_.GetDeviceType(), kNoDeviceType);
    EXPECT_STREQ(port_.GetName(), "RS232");
    EXPECT_EQ(port_.GetPortId(), kPortSerialObject);
  }
}

// --- Line settings ----------------------------------------------------------------------------

TEST_F(SerialPortTest, OpenSetsRaw8N1AtTheRequestedRate) {
  const struct {
    int32_t rate;
    speed_t speed;
  } cases[] = {{19200, B19200}, {57600, B57600}, {115200, B115200}, {9600, B9600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    ASSERT_EQ(OpenCom2(c.rate), ConnectResult::Connected) << port_.LastError();
    ExpectRaw8N1(pty_.SlaveSettings(), c.speed);
    EXPECT_EQ(port_.GetBaudRate(), static_cast<uint32_t>(c.rate));
    ASSERT_TRUE(port_.Close());
  }
}

TEST_F(SerialPortTest, SetBaudRateChangesOnlyTheRate) {
  ASSERT_EQ(OpenCom2(19200), ConnectResult::Connected) << port_.LastError();
  EXPECT_TRUE(port_.SetBaudRate(57600));
  EXPECT_EQ(port_.GetBaudRate(), 57600u);
  ExpectRaw8N1(pty_.SlaveSettings(), B57600);

  EXPECT_FALSE(port_.SetBaudRate(12345));
  EXPECT_EQ(port_.GetBaudRate(), 57600u);

  EXPECT_TRUE(port_.SetBaudRate(19200));
  ExpectRaw8N1(pty_.SlaveSettings(), B19200);
}

// --- Closed port ------------------------------------------------------------------------------

TEST_F(SerialPortTest, ClosedPortOperationsFailWithoutTouchingAnything) {
  const std::vector<uint8_t> pattern = {0xA5, 0x5A, 0xC3};
  for (const bool openedBefore : {false, true}) {
    SCOPED_TRACE(openedBefore ? "opened and closed" : "never opened");
    if (openedBefore) {
      ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
      ASSERT_TRUE(port_.Close());
    }
    EXPECT_TRUE(port_.Close());
    EXPECT_FALSE(port_.SetTimeout(100));
    EXPECT_FALSE(port_.SetBaudRate(57600));
    EXPECT_EQ(port_.GetBaudRate(), 0u);

    CVeltrBuffer out;
    Fill(out, {0x01, 0x02});
    EXPECT_FALSE(port_.Write(out));

    ASSERT_TRUE(pty_.Send({0x77}));
    CVeltrBuffer in;
    Fill(in, pattern);
    EXPECT_FALSE(port_.Read(in));
    EXPECT_EQ(Contents(in, 3), pattern);
    EXPECT_FALSE(port_.IsOpen());
  }
  EXPECT_TRUE(pty_.Receive(1, 200ms).empty()) << "a closed port wrote to the line";
}

// --- Write ------------------------------------------------------------------------------------

TEST_F(SerialPortTest, WriteDropsWhatTheDeviceSentBetweenTransactions) {
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  ASSERT_TRUE(port_.SetTimeout(200));
  for (uint8_t round = 0; round < 20; ++round) {
    SCOPED_TRACE(static_cast<int>(round));
    // A late byte of the last answer, or line noise, waiting in the receive queue.
    ASSERT_TRUE(pty_.Send({0xEE, 0xEF}));
    ASSERT_TRUE(pty_.SlaveHasInput());

    CVeltrBuffer request;
    Fill(request, {0x10, round});
    ASSERT_TRUE(port_.Write(request)) << port_.LastError();
    ASSERT_EQ(pty_.Receive(2), (std::vector<uint8_t>{0x10, round}));
    ASSERT_TRUE(pty_.Send({0x20, round}));

    CVeltrBuffer answer;
    ASSERT_TRUE(answer.Resize(2));
    ASSERT_TRUE(port_.Read(answer));
    EXPECT_EQ(Contents(answer, 2), (std::vector<uint8_t>{0x20, round}));
  }
}

// Flushing the transmit queue as well would drop a byte that a Write left queued in about half
// of these rounds.
TEST_F(SerialPortTest, WriteNeverDropsTheBytesOfThePreviousWrite) {
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  for (int round = 0; round < 300; ++round) {
    const uint8_t first = static_cast<uint8_t>(round);
    const uint8_t second = static_cast<uint8_t>(~round);
    CVeltrBuffer a;
    CVeltrBuffer b;
    Fill(a, {first});
    Fill(b, {second});
    ASSERT_TRUE(port_.Write(a));
    ASSERT_TRUE(port_.Write(b));
    ASSERT_EQ(pty_.Receive(2), (std::vector<uint8_t>{first, second})) << "round " << round;
  }
}

TEST_F(SerialPortTest, WriteSendsAFrameLargerThanTheTtyQueueWhileTheDeviceReads) {
  ASSERT_EQ(OpenCom2(115200), ConnectResult::Connected) << port_.LastError();
  std::vector<uint8_t> frame(200000);
  for (size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<uint8_t>(i * 7);
  }
  std::vector<uint8_t> received;
  std::thread device([&] { received = pty_.Receive(frame.size(), 10000ms); });
  CVeltrBuffer out;
  Fill(out, frame);
  EXPECT_TRUE(port_.Write(out)) << port_.LastError();
  device.join();
  EXPECT_EQ(received, frame);
}

// --- Read -------------------------------------------------------------------------------------

struct Piece {
  std::chrono::milliseconds delay;  // before this piece is sent
  std::vector<uint8_t> bytes;
};

// Plays the device: sends the pieces on a thread and notes when the last one went.
class Device {
 public:
  Device(const PtyPair& pty, std::vector<Piece> pieces)
      : thread_([&pty, pieces = std::move(pieces), this] {
          for (const Piece& piece : pieces) {
            std::this_thread::sleep_for(piece.delay);
            pty.Send(piece.bytes);
            lastSent_ = Clock::now();
          }
        }) {}
  ~Device() { Join(); }
  void Join() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  Clock::time_point LastSent() {
    Join();
    return lastSent_;
  }

 private:
  Clock::time_point lastSent_{};
  std::thread thread_;
};

TEST_F(SerialPortTest, ReadCollectsAnAnswerThatComesInPieces) {
  const struct {
    const char* name;
    std::vector<Piece> pieces;
  } cases[] = {
      {"whole", {{50ms, {1, 2, 3, 4}}}},
      {"one, two, one", {{50ms, {1}}, {100ms, {2, 3}}, {100ms, {4}}}},
      {"byte by byte", {{50ms, {1}}, {100ms, {2}}, {100ms, {3}}, {100ms, {4}}}},
      {"before the call", {{0ms, {1, 2, 3, 4}}}},
  };
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  ASSERT_TRUE(port_.SetTimeout(1000));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CVeltrBuffer in;
    ASSERT_TRUE(in.Resize(4));
    Device device(pty_, c.pieces);
    if (c.pieces.front().delay == 0ms) {
      device.Join();
      ASSERT_TRUE(pty_.SlaveHasInput());
    }
    EXPECT_TRUE(port_.Read(in));
    EXPECT_EQ(Contents(in, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
  }
}

TEST_F(SerialPortTest, ReadOfAPageFrameSucceedsWithTheTimeOutsOfOpen) {
  ASSERT_EQ(OpenCom2(115200), ConnectResult::Connected) << port_.LastError();
  std::vector<uint8_t> frame(261);
  for (size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<uint8_t>(i);
  }
  Device device(pty_, {{20ms, frame}});
  CVeltrBuffer in;
  ASSERT_TRUE(in.Resize(261));
  EXPECT_TRUE(port_.Read(in));
  EXPECT_EQ(Contents(in, 261), frame);
}

TEST_F(SerialPortTest, ShortAnswerEndsOneIntervalAfterItsLastByte) {
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  ASSERT_TRUE(port_.SetTimeout(1000));
  CVeltrBuffer in;
  ASSERT_TRUE(in.Resize(4));
  // Gaps shorter than the interval do not end the read; the silence after the third byte does.
  Device device(pty_, {{100ms, {7}}, {400ms, {8}}, {400ms, {9}}});
  const auto start = Clock::now();
  EXPECT_FALSE(port_.Read(in));
  const auto end = Clock::now();
  using Ms = std::chrono::duration<double, std::milli>;
  const double sinceLast = Ms(end - device.LastSent()).count();
  const double sinceCall = Ms(end - start).count();
  EXPECT_GE(sinceLast, 800.0);
  EXPECT_LE(sinceLast, 2000.0);
  EXPECT_LT(sinceCall, 4000.0) << "ended by the total time-out, not the interval";
  EXPECT_EQ(Contents(in, 3), (std::vector<uint8_t>{7, 8, 9}));
  EXPECT_TRUE(port_.LastError().empty()) << port_.LastError();
}

TEST_F(SerialPortTest, SilentLineEndsAtTheTotalTimeOut) {
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  ASSERT_TRUE(port_.SetTimeout(1000));
  CVeltrBuffer in;
  ASSERT_TRUE(in.Resize(4));
  const auto start = Clock::now();
  EXPECT_FALSE(port_.Read(in));
  const double elapsed = MillisecondsSince(start);
  // 1000 + 4 x 1000 ms.
  EXPECT_GE(elapsed, 4000.0);
  EXPECT_LE(elapsed, 10000.0);
}

TEST_F(SerialPortTest, ZeroTimeOutTakesWhatIsThereAndDoesNotWait) {
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  ASSERT_TRUE(port_.SetTimeout(0));
  ASSERT_TRUE(pty_.Send({3, 4}));
  ASSERT_TRUE(pty_.SlaveHasInput());

  CVeltrBuffer in;
  ASSERT_TRUE(in.Resize(4));
  const auto start = Clock::now();
  EXPECT_FALSE(port_.Read(in));
  EXPECT_LT(MillisecondsSince(start), 500.0);
  EXPECT_EQ(Contents(in, 2), (std::vector<uint8_t>{3, 4}));
}

TEST_F(SerialPortTest, ReadEndsAtOnceWhenTheLineHangsUp) {
  ASSERT_EQ(OpenCom2(), ConnectResult::Connected) << port_.LastError();
  ASSERT_TRUE(port_.SetTimeout(1000));
  std::thread unplug([this] {
    std::this_thread::sleep_for(100ms);
    pty_.CloseMaster();
  });
  CVeltrBuffer in;
  ASSERT_TRUE(in.Resize(4));
  const auto start = Clock::now();
  EXPECT_FALSE(port_.Read(in));
  unplug.join();
  EXPECT_LT(MillisecondsSince(start), 3000.0) << "waited for the total time-out of 5000 ms";
  EXPECT_FALSE(port_.LastError().empty());
  EXPECT_TRUE(port_.Close());
}

}  // namespace
}  // namespace veltr
