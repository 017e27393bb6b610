#include "devsim/simulator.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "devsim/device_table.h"
#include "devsim/net_answers.h"
#include "devsim/serial_number.h"

namespace devsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the loader waits for the access sequence before it starts the firmware.
constexpr milliseconds kLoaderWindow{300};
// After a warm boot the loader waits longer: a host may not read the carriage return it sends and
// instead listen for up to half a second on a quiet line before it sends the sequence.
constexpr milliseconds kWarmBootLoaderWindow{1500};
// A frame whose bytes stop coming for this long is dropped: the host gave up on it.
constexpr milliseconds kFrameIdle{200};
// The erase has no length on the wire; the device stops counting when the line goes quiet.
constexpr milliseconds kEraseIdle{100};
// The state is written once a burst of writes is over, not after each of ~3000 logic pages.
constexpr milliseconds kSaveIdle{100};
constexpr milliseconds kStrayDelay{20};
// A host that does not read for this long loses what the device sends, as on a real line.
constexpr int kWriteStallMs = 1000;
// The master reports a hang-up while no slave is open; look again after this pause.
constexpr milliseconds kHangupPause{20};

constexpr std::size_t kAccessSize = 16;
constexpr std::size_t kIdentitySize = 16;
constexpr std::size_t kPageFrameSize = 261;
constexpr std::size_t kPageDataOffset = 3;
constexpr std::size_t kPageSumOffset = kPageDataOffset + kPageSize;
constexpr std::size_t kEepromWriteSize = 64;
constexpr std::size_t kWordAddressSize = 3;             // 24, address high, address low
constexpr std::size_t kBlockFrameSize = 3 + kPageSize;  // 24, 00, block index, data

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kCodeLogicPage = 0x10;
constexpr std::uint8_t kCodeProcessorPage = 0x20;
constexpr std::uint8_t kCodeLoaderConnect = 0x20;
constexpr std::uint8_t kCodeLoaderErase = 0x21;
constexpr std::uint8_t kCodeLoaderWrite = 0x24;
constexpr std::uint8_t kCodeEepromRead = 0x40;
constexpr std::uint8_t kCodeEepromWrite = 0x42;
constexpr std::uint8_t kCodeEepromErase = 0x43;
constexpr std::uint8_t kCodeExit = 0x80;
constexpr std::uint8_t kPageAck = 0x55;  // 'U'
constexpr std::uint8_t kPageNak = 0x4E;  // 'N': a page the flash cannot take
constexpr std::uint8_t kFramedWarmBootLength = 0x04;
constexpr std::uint8_t kFramedJumpLength = 0x08;
constexpr std::uint8_t kFramedUpgradePageLength = 0x88;
constexpr std::uint8_t kFramedShortLength = 0x02;
constexpr std::uint8_t kFramedAddressedLength = 0x04;
constexpr std::uint8_t kFramedWarmBoot = 0x55;
constexpr std::uint8_t kFramedUpgradePage = 0x56;
constexpr std::uint8_t kFramedJump = 0x57;
constexpr std::uint8_t kCodeIdentify = 0xF0;
constexpr std::uint8_t kCodeModeAddressed = 0x8A;
constexpr std::uint8_t kCodeModeShort = 0x81;
constexpr std::uint8_t kAddressByte = 0xFF;
constexpr std::uint8_t kUpgradeCodeModeByte = 254;

// USB: 64 data bytes a report; what the host writes carries the report id byte 0 in front.
constexpr std::size_t kUsbReportSize = 64;
constexpr std::size_t kUsbOutputReportSize = kUsbReportSize + 1;

constexpr std::array<std::uint8_t, 4> kExitRequest = {0x80, 0x55, 0x1A, 0x1B};
constexpr std::array<std::uint8_t, 5> kWarmBoot = {0x04, 0x55, 0x1A, 0x1B, 0x8E};
constexpr std::array<std::uint8_t, 4> kJumpPayload = {0xC9, 0x00, 0x01, 0x29};
constexpr std::array<std::uint8_t, 3> kStrayJunk = {0x00, 0x55, 0xAA};

// The unlock sequence of the loader. Assembled here at run time and kept out of every log, file
// and message; only the comparison with what arrives uses it.
std::array<std::uint8_t, kAccessSize> AccessSequence() {
  std::array<std::uint8_t, kAccessSize> s;
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

std::uint8_t Sum8(const std::uint8_t* data, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    sum = static_cast<std::uint8_t>(sum + data[i]);
  }
  return sum;
}

std::uint16_t Sum16(const std::uint8_t* data, std::size_t count) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    sum = static_cast<std::uint16_t>(sum + data[i]);
  }
  return sum;
}

int BaudOfSpeed(speed_t speed) {
  switch (speed) {
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    case B230400:
      return 230400;
    default:
      return 0;
  }
}

bool Contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// Recognises a fixed sequence anywhere in a byte stream.
template <std::size_t N>
class Matcher {
 public:
  explicit Matcher(const std::array<std::uint8_t, N>& pattern) : pattern_(pattern) {}
  bool Push(std::uint8_t byte) {
    std::move(window_.begin() + 1, window_.end(), window_.begin());
    window_[N - 1] = byte;
    filled_ = std::min(filled_ + 1, N);
    if (filled_ == N && window_ == pattern_) {
      filled_ = 0;
      return true;
    }
    return false;
  }
  void Reset() { filled_ = 0; }

 private:
  std::array<std::uint8_t, N> pattern_;
  std::array<std::uint8_t, N> window_{};
  std::size_t filled_ = 0;
};

// What the program-mode parser is in the middle of.
enum class Frame {
  kNone,
  kPage,
  kFramed,
  kExit,
  kAccess,
  kEepromWrite,
  kEepromErase,
  kWordAddress,
  kWordData,
  kBlock
};

}  // namespace

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kFirmware:
      return "firmware";
    case Mode::kLoader:
      return "loader";
    case Mode::kProgram:
      return "program";
    case Mode::kDead:
      return "dead";
    case Mode::kUpgrade:
      return "upgrade";
  }
  return "?";
}

std::optional<ProcessorWrites> ParseProcessorWrites(const std::string& name) {
  if (name == "pages") {
    return ProcessorWrites::kPages;
  }
  if (name == "words") {
    return ProcessorWrites::kWords;
  }
  if (name == "blocks") {
    return ProcessorWrites::kBlocks;
  }
  return std::nullopt;
}

std::optional<Mode> ParseMode(const std::string& name) {
  for (Mode mode : {Mode::kFirmware, Mode::kLoader, Mode::kProgram, Mode::kDead, Mode::kUpgrade}) {
    if (name == ModeName(mode)) {
      return mode;
    }
  }
  return std::nullopt;
}

struct Simulator::Impl {
  Impl(int masterFd, DeviceState initial, SimulatorOptions opts)
      : fd(masterFd),
        state(std::move(initial)),
        options(std::move(opts)),
        mode(options.start),
        access(AccessSequence()),
        warmBoot(kWarmBoot) {
    const int type = state.identity.EffectiveType();
    programBaud = BaudOfType(type);
    processorLimit = ProcessorPageLimit(type);
    if (options.network) {
      netIdentity = MakeNetIdentity(type, state.identity.serialNumber);
    }
  }

  ~Impl() {
    for (int end : wake) {
      if (end >= 0) {
        close(end);
      }
    }
  }

  // --- thread and timing --------------------------------------------------------------------

  void Run() {
    const Clock::time_point started = Clock::now();
    lastActivity = started;
    if (mode == Mode::kDead && options.powerUpAfterMs) {
      powerUpAt = started + milliseconds(*options.powerUpAfterMs);
    }
    if (mode == Mode::kLoader && !options.network) {
      loaderDeadline = started + kLoaderWindow;
    }
    if (!options.stateDir.empty()) {
      dirty = true;  // the options may have changed what the folder held
      SaveIfDirty();
    }
    while (!stopping) {
      if (powerUpRequested.exchange(false)) {
        PowerUpNow();
      }
      RunTimers();
      WaitForWork();
    }
    SaveIfDirty();
  }

  std::optional<Clock::time_point> NextDeadline() const {
    std::optional<Clock::time_point> next;
    auto consider = [&next](std::optional<Clock::time_point> t) {
      if (t && (!next || *t < *next)) {
        next = t;
      }
    };
    consider(loaderDeadline);
    consider(powerUpAt);
    consider(strayAt);
    if (frame == Frame::kEepromErase) {
      consider(lastActivity + kEraseIdle);
    } else if (frame != Frame::kNone) {
      consider(lastActivity + kFrameIdle);
    }
    if (dirty && !options.stateDir.empty()) {
      consider(lastActivity + kSaveIdle);
    }
    if (hangupUntil) {
      consider(hangupUntil);
    }
    return next;
  }

  void WaitForWork() {
    const auto deadline = NextDeadline();
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<milliseconds>(*deadline - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
    }
    const bool watchLine = !unplugged && (!hangupUntil || Clock::now() >= *hangupUntil);
    if (watchLine) {
      hangupUntil.reset();
    }
    const int broadcastFd = options.network ? options.network->broadcastFd : -1;
    pollfd fds[3] = {
        {wake[0], POLLIN, 0}, {watchLine ? fd : -1, POLLIN, 0}, {broadcastFd, POLLIN, 0}};
    if (poll(fds, 3, timeout) < 0) {
      return;
    }
    if (fds[0].revents & POLLIN) {
      DrainWake();
    }
    if (options.network) {
      for (int i = 1; i < 3; ++i) {
        if (fds[i].revents & POLLIN) {
          ReadDatagram(fds[i].fd);
        }
      }
      return;
    }
    if (fds[1].revents & POLLIN) {
      ReadLine();
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      hangupUntil = Clock::now() + kHangupPause;
    }
  }

  void DrainWake() {
    char buffer[64];
    while (read(wake[0], buffer, sizeof buffer) > 0) {
    }
  }

  // Sleeps until `until` unless Stop() comes first; false when stopping.
  bool WaitUntil(Clock::time_point until) {
    while (!stopping) {
      const auto left = until - Clock::now();
      if (left <= Clock::duration::zero()) {
        return true;
      }
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      pollfd wakeFd{wake[0], POLLIN, 0};
      if (ppoll(&wakeFd, 1, &ts, nullptr) > 0) {
        DrainWake();  // a power-up request waits for the main loop; Stop() ends the wait
      }
    }
    return false;
  }

  int LineBaud() const {
    termios t;
    if (tcgetattr(fd, &t) != 0) {
      return 0;
    }
    return BaudOfSpeed(cfgetospeed(&t));
  }

  Clock::duration ByteTime(int baud) const {
    return baud > 0 ? std::chrono::duration_cast<Clock::duration>(
                          std::chrono::nanoseconds(10 * 1000000000LL / baud))
                    : Clock::duration::zero();
  }

  void ReadLine() {
    if (options.usb.enabled) {
      ReadReports();
      return;
    }
    std::uint8_t buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) {
      if (count < 0 && errno == EIO) {
        hangupUntil = Clock::now() + kHangupPause;
      }
      return;
    }
    // On Linux the master reports the slave's settings: the speed the host's port runs at now.
    const int baud = LineBaud();
    const Clock::time_point arrived = Clock::now();
    if (arrived - lastActivity > kFrameIdle) {
      access.Reset();
      warmBoot.Reset();
    }
    strayAt.reset();
    RecordSpeed(baud, static_cast<std::size_t>(count));
    const Clock::duration byteTime = options.wireSpeed ? ByteTime(baud) : Clock::duration::zero();
    Clock::time_point seen = std::max(arrived, lastSeen);
    for (ssize_t i = 0; i < count; ++i) {
      if (options.wireSpeed) {
        seen += byteTime;
        if (!WaitUntil(seen)) {
          return;
        }
        lastSeen = seen;
      }
      lastActivity = Clock::now();
      HandleByte(buffer[i], baud);
    }
  }

  // --- the network -----------------------------------------------------------------------------

  void ReadDatagram(int from) {
    std::uint8_t buffer[2048];
    sockaddr_in sender{};
    socklen_t senderSize = sizeof sender;
    const ssize_t count = recvfrom(from, buffer, sizeof buffer, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (count <= 0) {
      return;
    }
    peer = sender;
    lastActivity = Clock::now();
    strayAt.reset();
    HandleDatagram(buffer, static_cast<std::size_t>(count));
  }

  std::uint8_t NetModeByte() const {
    return mode == Mode::kFirmware ? options.network->consoleModeByte : kUpgradeModeByte;
  }

  void HandleDatagram(const std::uint8_t* data, std::size_t count) {
    if (silent || mode == Mode::kDead) {
      return;
    }
    const NetworkLink& link = *options.network;
    switch (ClassifyRequest(data, count)) {
      case NetRequest::kDiscovery:
        if (link.discoveryDelayMs > 0 &&
            !WaitUntil(Clock::now() + milliseconds(link.discoveryDelayMs))) {
          return;
        }
        Log("discovery: answered");
        SendDatagram(DiscoveryAnswer(link.discoveryLength, link.ip, netIdentity, NetModeByte()));
        return;
      case NetRequest::kIdentify:
      case NetRequest::kMode:
        if (link.shortFormsOnly) {
          Log("addressed request: not understood by this device");
          return;
        }
        [[fallthrough]];
      case NetRequest::kShortIdentify:
      case NetRequest::kShortMode:
        AnswerIdentification(ClassifyRequest(data, count));
        return;
      case NetRequest::kNone:
        break;
    }
    switch (mode) {
      case Mode::kFirmware:
        // The console firmware takes only the upgrade code and the jump into it.
        if (count >= 2 && static_cast<std::size_t>(data[0]) + 1 == count) {
          bytes.assign(data, data + count);
          FramedCommand();
          bytes.clear();
        }
        return;
      case Mode::kLoader:
      case Mode::kUpgrade:
        for (std::size_t i = 0; i < count; ++i) {
          if (access.Push(data[i])) {
            AccessSequenceReceived();
          }
        }
        return;
      case Mode::kProgram:
        for (std::size_t i = 0; i < count && mode == Mode::kProgram && !silent; ++i) {
          Feed(data[i]);
        }
        return;
      case Mode::kDead:
        return;
    }
  }

  void AnswerIdentification(NetRequest request) {
    const bool addressed = request == NetRequest::kIdentify || request == NetRequest::kMode;
    if (request == NetRequest::kIdentify || request == NetRequest::kShortIdentify) {
      Log(std::string(addressed ? "identify" : "short identify") + ": answered");
      Answer(devsim::IdentifyAnswer(addressed, netIdentity));
    } else {
      Log(std::string(addressed ? "mode" : "short mode") + ": answered");
      Answer(devsim::ModeAnswer(addressed, NetModeByte()));
    }
  }

  void SendDatagram(const Datagram& datagram) { Send(datagram.data(), datagram.size()); }

  void Answer(const Datagram& datagram) { Answer(datagram.data(), datagram.size()); }

  void RunTimers() {
    const Clock::time_point now = Clock::now();
    if (loaderDeadline && now >= *loaderDeadline) {
      loaderDeadline.reset();
      mode = Mode::kFirmware;
      Log("loader: no access sequence, firmware started");
    }
    if (frame == Frame::kEepromErase && now >= lastActivity + kEraseIdle) {
      // The host may only be slow: a further FF carries on where the erase stopped.
      const std::uint32_t erased = eraseCount;
      FinishErase();
      if (erased < kSettingsAreaSize) {
        erasePaused = erased;
      }
    } else if (frame != Frame::kNone && now >= lastActivity + kFrameIdle) {
      Log(std::string("frame cut short, dropped after ") + std::to_string(bytes.size()) + " bytes");
      ResetParser();
    }
    if (strayAt && now >= *strayAt) {
      strayAt.reset();
      if (frame == Frame::kNone && !silent && mode != Mode::kDead) {
        Send(kStrayJunk.data(), kStrayJunk.size());
      }
    }
    if (powerUpAt && now >= *powerUpAt) {
      powerUpAt.reset();
      PowerUpNow();
    }
    if (dirty && now >= lastActivity + kSaveIdle) {
      SaveIfDirty();
    }
  }

  // --- the line ------------------------------------------------------------------------------

  void Answer(const std::uint8_t* data, std::size_t count) {
    if (options.faults.slowMs > 0 &&
        !WaitUntil(Clock::now() + milliseconds(options.faults.slowMs))) {
      return;
    }
    Send(data, count);
    if (options.faults.strayBytes) {
      strayAt = Clock::now() + kStrayDelay;
    }
  }
  template <std::size_t N>
  void Answer(const std::array<std::uint8_t, N>& data) {
    Answer(data.data(), N);
  }

  void Send(const std::uint8_t* data, std::size_t count) {
    if (unplugged) {
      return;
    }
    if (options.usb.enabled) {
      SendReports(data, count);
    } else if (options.network) {
      // One answer, one datagram; a host that has gone away just misses it.
      (void)sendto(fd, data, count, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&peer),
                   sizeof peer);
    } else if (!options.wireSpeed) {
      WriteAll(data, count);
    } else {
      const Clock::duration byteTime = ByteTime(LineBaud());
      Clock::time_point due = std::max(Clock::now(), lastSent);
      std::size_t done = 0;
      while (done < count) {
        // Every byte leaves no earlier than its wire time after the one before it; bytes that
        // fell due while the thread slept go out together.
        due += byteTime;
        if (!WaitUntil(due)) {
          return;
        }
        std::size_t batch = 1;
        const Clock::time_point now = Clock::now();
        while (done + batch < count && due + byteTime <= now) {
          due += byteTime;
          ++batch;
        }
        WriteAll(data + done, batch);
        done += batch;
      }
      lastSent = due;
    }
    lastActivity = Clock::now();
  }

  void WriteAll(const std::uint8_t* data, std::size_t count) {
    while (count > 0 && !stopping) {
      const ssize_t written = write(fd, data, count);
      if (written > 0) {
        data += written;
        count -= static_cast<std::size_t>(written);
        continue;
      }
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written < 0 && errno != EAGAIN) {
        return;  // no slave open: the bytes go nowhere
      }
      pollfd fds[2] = {{fd, POLLOUT, 0}, {wake[0], POLLIN, 0}};
      if (poll(fds, 2, kWriteStallMs) <= 0) {
        return;
      }
      if (fds[1].revents & POLLIN) {
        DrainWake();
      }
    }
  }

  // --- USB reports -------------------------------------------------------------------------

  // Output reports arrive whole from a hidraw writer, but the line is a byte stream: cut it
  // back into reports of the one length the device has.
  void ReadReports() {
    std::uint8_t buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) {
      if (count < 0 && errno == EIO) {
        hangupUntil = Clock::now() + kHangupPause;
      }
      return;
    }
    lastActivity = Clock::now();
    strayAt.reset();
    reportBytes.insert(reportBytes.end(), buffer, buffer + count);
    std::size_t at = 0;
    while (reportBytes.size() - at >= kUsbOutputReportSize && !unplugged) {
      HandleReport(reportBytes.data() + at + 1, kUsbReportSize);
      at += kUsbOutputReportSize;
    }
    reportBytes.erase(reportBytes.begin(), reportBytes.begin() + static_cast<long>(at));
  }

  // Every answer goes in reports of its own, the last one filled up with zeros.
  void SendReports(const std::uint8_t* data, std::size_t count) {
    for (std::size_t done = 0; done < count; done += kUsbReportSize) {
      std::array<std::uint8_t, kUsbReportSize> report{};
      std::copy_n(data + done, std::min(kUsbReportSize, count - done), report.begin());
      WriteAll(report.data(), report.size());
    }
  }

  bool Collecting() const {
    return frame == Frame::kPage || frame == Frame::kFramed || frame == Frame::kExit ||
           frame == Frame::kAccess;
  }

  // A report holds one command or one EEPROM data byte; a frame longer than a report goes on in
  // the next ones. Whatever follows in a report is the host's zero padding.
  void HandleReport(const std::uint8_t* data, std::size_t size) {
    if (silent || mode == Mode::kDead) {
      return;
    }
    Feed(data[0]);
    for (std::size_t at = 1; at < size && Collecting(); ++at) {
      Feed(data[at]);
    }
  }

  // Which first bytes start something the USB device takes in its present mode: the identify
  // and mode requests and the upgrade-code commands always, the access sequence once the upgrade
  // code runs, the rest only in program mode.
  bool TakesOnUsb(std::uint8_t byte) const {
    switch (byte) {
      case kFramedShortLength:
      case kFramedAddressedLength:
      case kFramedJumpLength:
      case kFramedUpgradePageLength:
        return true;
      default:
        if (byte == AccessSequence()[0] && mode == Mode::kUpgrade) {
          return true;
        }
        return mode == Mode::kProgram;
    }
  }

  void Unplug() {
    Log("cable pulled");
    unplugged = true;
    silent = true;
    if (options.unplug) {
      options.unplug();
    }
  }

  std::uint8_t ModeByte() const {
    return mode == Mode::kUpgrade || mode == Mode::kProgram ? kUpgradeCodeModeByte
                                                            : options.usb.consoleMode;
  }

  // Answers an identify or mode request; false when the bytes are not one.
  bool UsbRequest() {
    const std::size_t length = bytes[0];
    const std::uint8_t code = bytes[1];
    const bool addressed =
        length == kFramedAddressedLength && bytes[2] == kAddressByte && bytes[3] == kAddressByte;
    const bool isShort = length == kFramedShortLength;
    const bool identify = code == kCodeIdentify && (addressed || isShort);
    const bool askMode =
        (addressed && code == kCodeModeAddressed) || (isShort && code == kCodeModeShort);
    if (!identify && !askMode) {
      return false;
    }
    const char* form = addressed ? "addressed" : "short";
    if (addressed && options.usb.shortOnly) {
      Log(std::string(identify ? "identify" : "mode") + " (addressed): not answered");
      return true;
    }
    if (identify) {
      Log(std::string("identify (") + form + "): answered");
      const auto answer = IdentifyAnswer(addressed);
      Answer(answer.data(), answer.size());
    } else {
      Log(std::string("mode (") + form + "): " + std::to_string(ModeByte()));
      const auto answer = ModeAnswer(addressed);
      Answer(answer.data(), answer.size());
    }
    return true;
  }

  // Length byte, the request's code (and address), then the device's bytes; a sum8 closes it.
  std::vector<std::uint8_t> IdentifyAnswer(bool addressed) {
    UsbCode usb{0x00, 0x00};
    SerialParts serial;
    std::uint16_t hardware = 0;
    std::uint16_t uploader = 0;
    {
      std::lock_guard lock(stateMutex);
      usb = UsbCodeOfType(state.identity.type).value_or(usb);
      SerialArea area;
      std::copy_n(state.eeprom.begin(), area.size(), area.begin());
      serial = SerialPartsOf(area).value_or(SerialParts{});
      hardware = state.identity.hardwareVersion;
      uploader = state.identity.uploaderVersion;
    }
    std::vector<std::uint8_t> frame = {0, kCodeIdentify};
    if (addressed) {
      frame.push_back(kAddressByte);
      frame.push_back(kAddressByte);
    }
    frame.push_back(usb.code);
    if (!options.usb.olderLayout) {
      frame.push_back(usb.variant);
    }
    for (const std::uint16_t word : {hardware, uploader}) {
      frame.push_back(static_cast<std::uint8_t>(word >> 8));
      frame.push_back(static_cast<std::uint8_t>(word & 0xFF));
    }
    if (!options.usb.olderLayout) {
      frame.push_back(0x00);
    }
    for (const std::uint8_t byte : {serial.letter, serial.group, serial.high, serial.low}) {
      frame.push_back(byte);
    }
    return Framed(std::move(frame));
  }

  std::vector<std::uint8_t> ModeAnswer(bool addressed) {
    std::vector<std::uint8_t> frame;
    if (addressed) {
      // The mode byte sits at offset 16 of the long answer, behind the device's status bytes.
      frame = {0, kCodeModeAddressed, kAddressByte, kAddressByte};
      frame.resize(16, 0x00);
      frame.push_back(ModeByte());
      frame.resize(20, 0x00);
    } else {
      frame = {0, kCodeModeShort, ModeByte()};
    }
    return Framed(std::move(frame));
  }

  static std::vector<std::uint8_t> Framed(std::vector<std::uint8_t> frame) {
    frame[0] = static_cast<std::uint8_t>(frame.size());
    frame.push_back(Sum8(frame.data(), frame.size()));
    return frame;
  }

  // --- device behaviour ----------------------------------------------------------------------

  void HandleByte(std::uint8_t byte, int baud) {
    if (silent || mode == Mode::kDead) {
      return;
    }
    switch (mode) {
      case Mode::kFirmware:
        if (baud == kFirmwareBaud && warmBoot.Push(byte)) {
          WarmBoot();
        }
        break;
      case Mode::kLoader:
        // A warm boot that reaches the loader (the firmware was about to start after a reset)
        // starts it over, so that a host that wakes the device right after leaving program mode
        // is not lost in the short window.
        if (baud == programBaud && access.Push(byte)) {
          AccessSequenceReceived();
        } else if (baud == kFirmwareBaud && warmBoot.Push(byte)) {
          WarmBoot();
        }
        break;
      case Mode::kProgram:
        if (baud == programBaud) {
          Feed(byte);
        } else if (baud == kFirmwareBaud && warmBoot.Push(byte)) {
          ResetParser();
          WarmBoot();
        }
        break;
      case Mode::kDead:
      case Mode::kUpgrade:  // reached over USB only
        break;
    }
  }

  void EnterLoader() {
    erasePaused.reset();
    mode = Mode::kLoader;
    if (!options.network) {
      loaderDeadline = Clock::now() + kLoaderWindow;
    }
    access.Reset();
    warmBoot.Reset();
  }

  // The device is in its loader by the time its carriage return is on the line; the window for
  // the access sequence opens once the answer has gone.
  void WarmBoot() {
    Log("warm boot: ok");
    mode = Mode::kLoader;
    Answer(std::array<std::uint8_t, 1>{kCarriageReturn});
    EnterLoader();
    loaderDeadline = Clock::now() + kWarmBootLoaderWindow;
  }

  void AccessSequenceReceived() {
    if (options.faults.refuseProgramMode) {
      Log("program-mode entry: refused");
      return;
    }
    std::array<std::uint8_t, kIdentitySize> answer;
    answer[0] = 'V';
    answer[1] = 'L';
    answer[2] = 'T';
    answer[3] = 'R';
    {
      std::lock_guard lock(stateMutex);
      answer[4] = static_cast<std::uint8_t>(state.identity.hardwareVersion >> 8);
      answer[5] = static_cast<std::uint8_t>(state.identity.hardwareVersion & 0xFF);
      answer[6] = static_cast<std::uint8_t>(state.identity.uploaderVersion >> 8);
      answer[7] = static_cast<std::uint8_t>(state.identity.uploaderVersion & 0xFF);
      const std::string identifier = state.identity.Identifier();
      std::copy_n(identifier.begin(), 8, answer.begin() + 8);
    }
    Log("program-mode entry: identity sent");
    mode = Mode::kProgram;
    loaderDeadline.reset();
    Answer(answer);
  }

  void PowerUpNow() {
    if (mode != Mode::kDead) {
      return;
    }
    Log("power up: carriage return sent");
    mode = Mode::kLoader;
    const std::uint8_t announce = kCarriageReturn;
    Send(&announce, 1);
    EnterLoader();
  }

  void ResetParser() {
    frame = Frame::kNone;
    bytes.clear();
    expected = 0;
  }

  void Collect(Frame kind, std::uint8_t first, std::size_t length) {
    frame = kind;
    bytes.assign(1, first);
    expected = length;
  }

  void Feed(std::uint8_t byte) {
    switch (frame) {
      case Frame::kNone:
        Begin(byte);
        return;
      case Frame::kEepromWrite:
        EepromWriteByte(byte);
        return;
      case Frame::kWordData:
        WordDataByte(byte);
        return;
      case Frame::kEepromErase:
        // The host erases with FF only; anything else is the next command.
        if (byte != 0xFF) {
          FinishErase();
          Begin(byte);
        } else {
          EepromEraseByte(byte);
        }
        return;
      default:
        bytes.push_back(byte);
        if (bytes.size() == expected) {
          const Frame done = frame;
          frame = Frame::kNone;
          Complete(done);
          bytes.clear();
        }
        return;
    }
  }

  void Begin(std::uint8_t byte) {
    if (options.usb.enabled && !TakesOnUsb(byte)) {
      return;
    }
    if (erasePaused) {
      const std::uint32_t erased = *erasePaused;
      erasePaused.reset();
      if (byte == 0xFF) {
        frame = Frame::kEepromErase;
        eraseCount = erased;
        EepromEraseByte(byte);
        return;
      }
    }
    if (options.processorWrites != ProcessorWrites::kPages && BeginLoaderCommand(byte)) {
      return;
    }
    switch (byte) {
      case kFramedShortLength:
        if (options.usb.enabled) {
          Collect(Frame::kFramed, byte, static_cast<std::size_t>(byte) + 1);
        }
        return;
      case kCodeLogicPage:
      case kCodeProcessorPage:
        Collect(Frame::kPage, byte, kPageFrameSize);
        return;
      case kFramedWarmBootLength:
      case kFramedJumpLength:
      case kFramedUpgradePageLength:
        Collect(Frame::kFramed, byte, static_cast<std::size_t>(byte) + 1);
        return;
      case kCodeExit:
        Collect(Frame::kExit, byte, kExitRequest.size());
        return;
      case kCodeEepromRead:
        EepromRead();
        return;
      case kCodeEepromWrite:
        frame = Frame::kEepromWrite;
        bytes.clear();
        return;
      case kCodeEepromErase:
        frame = Frame::kEepromErase;
        eraseCount = 0;
        return;
      default:
        if (byte == AccessSequence()[0]) {
          Collect(Frame::kAccess, byte, kAccessSize);
        }
        return;  // anything else is noise to the loader
    }
  }

  void Complete(Frame done) {
    switch (done) {
      case Frame::kPage:
        PageFrame();
        return;
      case Frame::kFramed:
        FramedCommand();
        return;
      case Frame::kExit:
        if (std::equal(bytes.begin(), bytes.end(), kExitRequest.begin()) && options.usb.enabled) {
          // Nothing is answered on USB; the firmware starts at once.
          Log("program-mode exit: firmware started");
          mode = Mode::kFirmware;
        } else if (std::equal(bytes.begin(), bytes.end(), kExitRequest.begin())) {
          Log("program-mode exit: ok");
          mode = Mode::kLoader;
          // On the network the upgrade code goes back to waiting without a word: a host reads
          // no ready answer there.
          if (!options.network) {
            Answer(std::array<std::uint8_t, 1>{kCarriageReturn});
          }
          EnterLoader();
        }
        return;
      case Frame::kWordAddress:
        // The data bytes follow one by one, each echoed.
        wordAddress = static_cast<std::size_t>(bytes[1] << 8 | bytes[2]) * 2;
        frame = Frame::kWordData;
        return;
      case Frame::kBlock:
        BlockFrame();
        return;
      case Frame::kAccess: {
        const auto sequence = AccessSequence();
        if (std::equal(bytes.begin(), bytes.end(), sequence.begin())) {
          AccessSequenceReceived();
        }
        return;
      }
      default:
        return;
    }
  }

  void PageFrame() {
    const std::uint32_t number = ++pageFrames;
    const Faults& faults = options.faults;
    const bool logic = bytes[0] == kCodeLogicPage;
    const char* kind = logic ? "logic page" : "processor page";
    // The logic PROM is addressed in 16-bit words, high byte first; the processor flash by page,
    // low byte first.
    const std::uint32_t address = logic ? (bytes[1] << 8 | bytes[2]) : (bytes[1] | bytes[2] << 8);
    const std::uint32_t page = logic ? address / 2 : address;
    const std::string what = std::string(kind) + " " + std::to_string(page) + ": ";

    if (options.usb.enabled && faults.unplugAfterPages &&
        pagesAnswered >= *faults.unplugAfterPages) {
      Log(what + "not answered");
      Unplug();
      return;
    }
    if (faults.silentAfterPages && pagesAnswered >= *faults.silentAfterPages) {
      silent = true;
      Log(what + "no answer, device hung");
      return;
    }
    if (Contains(faults.dropPages, number)) {
      Log(what + "dropped");
      return;
    }
    const std::uint16_t sum = Sum16(bytes.data() + kPageDataOffset, kPageSize);
    if (Contains(faults.foreignPages, number) && options.network &&
        options.network->foreignFd >= 0) {
      const std::array<std::uint8_t, 4> forged = {kPageAck, static_cast<std::uint8_t>(sum >> 8),
                                                  static_cast<std::uint8_t>(sum & 0xFF), 0xFF};
      if (sendto(options.network->foreignFd, forged.data(), forged.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&peer), sizeof peer) < 0) {
        Log(what +
            "not stored; the acknowledgement from another address failed: " + std::strerror(errno));
      } else {
        Log(what + "not stored, acknowledged from another address");
      }
      return;
    }
    const std::uint16_t sent =
        static_cast<std::uint16_t>(bytes[kPageSumOffset] << 8 | bytes[kPageSumOffset + 1]);
    std::uint16_t answered = sum;
    std::uint8_t lead = kPageAck;
    std::string result;
    if ((logic && address % 2 != 0) || (!logic && page > processorLimit)) {
      lead = kPageNak;
      result = "refused";
    } else if (sum != sent) {
      result = "bad sum, not stored";
    } else {
      {
        std::lock_guard lock(stateMutex);
        if (logic) {
          state.StoreLogicPage(page, bytes.data() + kPageDataOffset);
        } else {
          state.StoreProcessorPage(page, bytes.data() + kPageDataOffset);
        }
        state.Log(logic ? WriteKind::kLogicPage : WriteKind::kProcessorPage, page, 0);
        PersistPage(logic ? logicFile : processorFile, logic ? state.logic : state.processor, page);
      }
      dirty = true;
      result = "stored";
      if (Contains(faults.corruptPages, number)) {
        answered = static_cast<std::uint16_t>(sum + 1);
        result += ", answered with a wrong sum";
      }
    }
    const std::array<std::uint8_t, 4> answer = {
        lead, static_cast<std::uint8_t>(answered >> 8), static_cast<std::uint8_t>(answered & 0xFF),
        lead == kPageAck ? std::uint8_t{0xFF} : std::uint8_t{0x00}};
    std::size_t answerLength = answer.size();
    if (Contains(faults.shortAnswerPages, number)) {
      answerLength = answer.size() - 1;
      result += ", answered short";
    }
    if (Contains(faults.lateAnswerPages, number)) {
      result += ", answered late";
    }
    Log(what + result);
    if (Contains(faults.lateAnswerPages, number) &&
        !WaitUntil(Clock::now() + milliseconds(kLateAnswerMs))) {
      return;
    }
    Answer(answer.data(), answerLength);
    if (Contains(faults.duplicatePages, number)) {
      Log(what + "answer sent twice");
      Send(answer.data(), answerLength);
    }
    ++pagesAnswered;
    if (faults.silentAfterPages && pagesAnswered >= *faults.silentAfterPages) {
      silent = true;
    }
    if (faults.restartAfterPages && pagesAnswered == *faults.restartAfterPages) {
      Restart();
    }
  }

  // A reset in the middle of program mode: the half-received frames are gone, the device announces
  // itself as after power-up and waits in its loader.
  void Restart() {
    Log("reset: carriage return sent");
    ResetParser();
    const std::uint8_t announce = kCarriageReturn;
    Send(&announce, 1);
    EnterLoader();
  }

  // The processor commands of the older loaders; false for a byte they do not know.
  bool BeginLoaderCommand(std::uint8_t byte) {
    const bool words = options.processorWrites == ProcessorWrites::kWords;
    if (words && byte == kCodeLoaderConnect) {
      Log("loader connect: ok");
      Answer(std::array<std::uint8_t, 1>{kCarriageReturn});
      return true;
    }
    if (byte == kCodeLoaderErase) {
      {
        std::lock_guard lock(stateMutex);
        std::fill(state.processor.begin(), state.processor.end(), std::uint8_t{0xFF});
        processorFile.Write(state.processor.data(), 0, state.processor.size());
      }
      dirty = true;
      Log("processor erase: ok");
      Answer(std::array<std::uint8_t, 1>{kCarriageReturn});
      return true;
    }
    if (byte == kCodeLoaderWrite) {
      Collect(words ? Frame::kWordAddress : Frame::kBlock, byte,
              words ? kWordAddressSize : kBlockFrameSize);
      return true;
    }
    return false;
  }

  // Each data byte of a word write is echoed as it is taken; the word is stored with its second.
  void WordDataByte(std::uint8_t byte) {
    bytes.push_back(byte);
    if (bytes.size() == 2) {
      {
        std::lock_guard lock(stateMutex);
        StoreProcessorByte(wordAddress, bytes[0]);
        StoreProcessorByte(wordAddress + 1, bytes[1]);
      }
      dirty = true;
      ResetParser();
    }
    Answer(&byte, 1);
  }

  // Caller holds stateMutex.
  void StoreProcessorByte(std::size_t address, std::uint8_t value) {
    const auto page = static_cast<std::uint32_t>(address / kPageSize);
    std::vector<std::uint8_t> data = state.ProcessorPage(page);
    data[address % kPageSize] = value;
    state.StoreProcessorPage(page, data.data());
    PersistPage(processorFile, state.processor, page);
  }

  void BlockFrame() {
    const std::uint32_t block = bytes[2];
    const std::uint8_t* data = bytes.data() + 3;
    {
      std::lock_guard lock(stateMutex);
      state.StoreProcessorPage(block, data);
      state.Log(WriteKind::kProcessorPage, block, 0);
      PersistPage(processorFile, state.processor, block);
    }
    dirty = true;
    Log("processor block " + std::to_string(block) + ": stored");
    const std::uint16_t sum = Sum16(data, kPageSize);
    Answer(std::array<std::uint8_t, 3>{0x00, static_cast<std::uint8_t>(sum >> 8),
                                       static_cast<std::uint8_t>(sum & 0xFF)});
  }

  void FramedCommand() {
    const std::size_t length = bytes[0];
    if (Sum8(bytes.data(), length) != bytes[length]) {
      Log("framed command: bad sum, ignored");
      if (bytes[1] == kFramedUpgradePage) {
        // Not an acknowledgement: the host sees the refusal and sends the part again.
        Answer(std::array<std::uint8_t, 5>{0x04, kFramedUpgradePage, 0x00, 0x00, 0x5A});
      }
      return;
    }
    const std::uint8_t code = bytes[1];
    if (options.usb.enabled && UsbRequest()) {
      return;
    }
    if (options.usb.enabled && length == kFramedJumpLength && code == kFramedJump &&
        upgradeCodeParts == 0) {
      Log("jump to upgrade code: no upgrade code loaded, ignored");
      return;
    }
    if (length == kFramedWarmBootLength && !options.usb.enabled &&
        std::equal(bytes.begin(), bytes.end(), kWarmBoot.begin())) {
      WarmBoot();
    } else if (length == kFramedUpgradePageLength && code == kFramedUpgradePage) {
      const std::uint32_t page = bytes[5];
      const std::uint32_t part = bytes[6];
      {
        std::lock_guard lock(stateMutex);
        state.Log(WriteKind::kUpgradeCodePage, page, part);
      }
      dirty = true;
      ++upgradeCodeParts;
      Log("upgrade-code page " + std::to_string(page) + " part " + std::to_string(part) + ": ok");
      Answer(std::array<std::uint8_t, 5>{0x04, kFramedUpgradePage, 0xFF, 0xFF, 0x58});
    } else if (length == kFramedJumpLength && code == kFramedJump &&
               std::equal(kJumpPayload.begin(), kJumpPayload.end(), bytes.begin() + 4)) {
      Log("jump to upgrade code: ok");
      Answer(std::array<std::uint8_t, 5>{0x04, kFramedJump, 0xFF, 0xFF, 0x59});
      if (options.usb.enabled) {
        mode = Mode::kUpgrade;
      } else if (options.network && mode == Mode::kFirmware) {
        EnterLoader();
      }
    } else {
      Log("framed command " + std::to_string(code) + ": unknown, ignored");
    }
  }

  void EepromRead() {
    std::array<std::uint8_t, kInfoAreaSize> info;
    {
      std::lock_guard lock(stateMutex);
      info = state.InfoArea();
    }
    Log("eeprom read: ok");
    Answer(info);
  }

  // Whether the fault list makes the echo of this EEPROM data byte go wrong.
  bool NextEchoFails() { return Contains(options.faults.failEchoes, ++eepromDataBytes); }

  // The memory is updated before the echo leaves, as the device stores a byte as it takes it.
  void Echo(std::uint8_t byte, bool fail) {
    const std::uint8_t echo = fail ? static_cast<std::uint8_t>(~byte) : byte;
    Answer(&echo, 1);
  }

  void EepromWriteByte(std::uint8_t byte) {
    const bool fail = NextEchoFails();
    if (fail) {
      Log("eeprom write: echo " + std::to_string(bytes.size() + 1) + " failed, dropped");
      ResetParser();
    } else {
      bytes.push_back(byte);
      if (bytes.size() == kEepromWriteSize) {
        {
          std::lock_guard lock(stateMutex);
          std::copy(bytes.begin(), bytes.end(), state.eeprom.begin() + kWritableOffset);
          state.Log(WriteKind::kEepromWrite, 0, kEepromWriteSize);
          PersistEeprom(kWritableOffset, kEepromWriteSize);
        }
        dirty = true;
        Log("eeprom write: stored");
        ResetParser();
      }
    }
    Echo(byte, fail);
  }

  void EepromEraseByte(std::uint8_t byte) {
    const bool fail = NextEchoFails();
    if (fail) {
      Log("eeprom erase: echo " + std::to_string(eraseCount + 1) + " failed");
    } else {
      {
        std::lock_guard lock(stateMutex);
        state.eeprom[kInfoAreaSize + eraseCount] = 0xFF;
        PersistEeprom(kInfoAreaSize + eraseCount, 1);
      }
      ++eraseCount;
      dirty = true;
    }
    if (fail || eraseCount == kSettingsAreaSize) {
      FinishErase();
    }
    Echo(byte, fail);
  }

  void FinishErase() {
    {
      std::lock_guard lock(stateMutex);
      state.Log(WriteKind::kEepromErase, 0, eraseCount);
    }
    dirty = true;
    Log("eeprom erase: " + std::to_string(eraseCount) + " bytes");
    ResetParser();
    eraseCount = 0;
  }

  // --- bookkeeping ---------------------------------------------------------------------------

  void RecordSpeed(int baud, std::size_t count) {
    std::lock_guard lock(stateMutex);
    if (!speeds.empty() && speeds.back().baud == baud) {
      speeds.back().count += count;
    } else {
      speeds.push_back({baud, count});
    }
  }

  void Log(const std::string& line) const {
    if (options.log) {
      options.log(line);
    }
  }

  // The whole state, written through temporary files once a burst of traffic is over; the memory
  // files are then opened again for the writes of single pages and bytes below.
  void SaveIfDirty() {
    if (!dirty || options.stateDir.empty()) {
      return;
    }
    dirty = false;
    std::string error;
    std::lock_guard lock(stateMutex);
    if (!SaveState(options.stateDir, state, &error) && options.error) {
      options.error(error);
    }
    const std::filesystem::path base(options.stateDir);
    logicFile.Open(base / kLogicFileName, state.logic.size());
    processorFile.Open(base / kProcessorFileName, state.processor.size());
    eepromFile.Open(base / kEepromFileName, state.eeprom.size());
  }

  // An image file of the state folder kept open, so that memory the device took can be written
  // into it before the device acknowledges it: flash and EEPROM keep what they took even when the
  // simulator is killed mid-upload. The rest of the state follows with the next whole save.
  struct MemoryFile {
    int fd = -1;
    std::size_t size = 0;

    void Open(const std::filesystem::path& path, std::size_t length) {
      Close();
      fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
      size = length;
    }
    void Close() {
      if (fd >= 0) {
        close(fd);
        fd = -1;
      }
    }
    // Writes memory[from, to) at the same offset.
    void Write(const std::uint8_t* memory, std::size_t from, std::size_t to) {
      while (fd >= 0 && from < to) {
        const ssize_t n = pwrite(fd, memory + from, to - from, static_cast<off_t>(from));
        if (n < 0 && errno == EINTR) {
          continue;
        }
        if (n <= 0) {
          Close();  // the next whole save writes everything and opens it again
          return;
        }
        from += static_cast<std::size_t>(n);
      }
      size = std::max(size, to);
    }
    ~MemoryFile() { Close(); }
  };

  // Caller holds stateMutex. Flash between the file's end and the page was never written: it goes
  // along as the FF the memory holds there, so that the file never has a hole of zeros.
  void PersistPage(MemoryFile& file, const std::vector<std::uint8_t>& flash, std::uint32_t page) {
    const std::size_t start = static_cast<std::size_t>(page) * kPageSize;
    file.Write(flash.data(), std::min(start, file.size), start + kPageSize);
  }

  // Caller holds stateMutex.
  void PersistEeprom(std::size_t offset, std::size_t size) {
    eepromFile.Write(state.eeprom.data(), offset, offset + size);
  }

  int fd;
  int wake[2] = {-1, -1};
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> powerUpRequested{false};

  mutable std::mutex stateMutex;
  DeviceState state;
  const SimulatorOptions options;
  std::atomic<Mode> mode;
  int programBaud = 0;
  std::uint32_t processorLimit = 0;

  std::vector<SpeedRun> speeds;  // guarded by stateMutex

  NetIdentity netIdentity;
  sockaddr_in peer{};  // network: where the last datagram came from, where answers go

  Matcher<kAccessSize> access;
  Matcher<kWarmBoot.size()> warmBoot;
  Frame frame = Frame::kNone;
  std::vector<std::uint8_t> bytes;
  std::size_t expected = 0;
  std::uint32_t eraseCount = 0;
  std::size_t wordAddress = 0;
  // An erase that the line's quiet ended; FF goes on with it, anything else forgets it.
  std::optional<std::uint32_t> erasePaused;

  std::uint32_t pageFrames = 0;
  std::uint32_t pagesAnswered = 0;
  std::uint32_t eepromDataBytes = 0;
  bool silent = false;
  bool unplugged = false;
  bool dirty = false;
  std::uint32_t upgradeCodeParts = 0;
  std::vector<std::uint8_t> reportBytes;  // USB: the start of an output report still coming
  MemoryFile logicFile;
  MemoryFile processorFile;
  MemoryFile eepromFile;

  Clock::time_point lastActivity{};
  Clock::time_point lastSeen{};
  Clock::time_point lastSent{};
  std::optional<Clock::time_point> loaderDeadline;
  std::optional<Clock::time_point> powerUpAt;
  std::optional<Clock::time_point> strayAt;
  std::optional<Clock::time_point> hangupUntil;
};

Simulator::Simulator(int masterFd, DeviceState state, SimulatorOptions options)
    : impl_(std::make_unique<Impl>(masterFd, std::move(state), std::move(options))) {}

Simulator::~Simulator() {
  Stop();
}

bool Simulator::Start(std::string* error) {
  if (impl_->thread.joinable()) {
    return true;
  }
  const int flags = fcntl(impl_->fd, F_GETFL);
  if (flags < 0 || fcntl(impl_->fd, F_SETFL, flags | O_NONBLOCK) < 0 ||
      pipe2(impl_->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    if (error != nullptr) {
      *error = std::string("cannot prepare the line: ") + std::strerror(errno);
    }
    return false;
  }
  impl_->thread = std::thread([this] { impl_->Run(); });
  return true;
}

void Simulator::Stop() {
  if (!impl_->thread.joinable()) {
    return;
  }
  impl_->stopping = true;
  const char poke = 's';
  (void)!write(impl_->wake[1], &poke, 1);
  impl_->thread.join();
}

void Simulator::PowerUp() {
  impl_->powerUpRequested = true;
  if (impl_->wake[1] >= 0) {
    const char poke = 'p';
    (void)!write(impl_->wake[1], &poke, 1);
  }
}

Mode Simulator::CurrentMode() const {
  return impl_->mode;
}

DeviceState Simulator::Snapshot() const {
  std::lock_guard lock(impl_->stateMutex);
  return impl_->state;
}

std::vector<SpeedRun> Simulator::ReceivedSpeeds() const {
  std::lock_guard lock(impl_->stateMutex);
  return impl_->speeds;
}

}  // namespace devsim
