#pragma once

// A scripted port that answers like a device in program mode: page frames with their sums,
// upgrade-code parts and the jump with their acknowledgements, EEPROM bytes with their echoes,
// the program-mode entry with its identity, the exit and the warm boot with the carriage return
// of a serial device. Engine tests use it as one of the engine's ports.

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/port_set.h"
#include "support/scripted_port.h"

namespace veltr::test {

struct PageWritten {
  uint8_t code;      // 0x10 logic PROM, 0x20 processor
  uint32_t address;  // as the frame carries it, decoded by its code
  Bytes data;        // the 256 data bytes
};

class FakeDevicePort : public ScriptedPort {
 public:
  explicit FakeDevicePort(std::string name = "RS232", PortId portId = kPortSerialObject)
      : ScriptedPort(std::move(name), portId) {
    SetResponder([this](ScriptedPort&, const Bytes& written) { Answer(written); });
  }

  // The device's program-mode answer: four unused bytes, hardware and uploader versions, the
  // 8-byte type identifier ("   KL1 A").
  void SetIdentity(const std::string& identifier, uint16_t hardware, uint16_t uploader) {
    identity_ = {0xAA,
                 0xBB,
                 0xCC,
                 0xDD,
                 static_cast<uint8_t>(hardware >> 8),
                 static_cast<uint8_t>(hardware),
                 static_cast<uint8_t>(uploader >> 8),
                 static_cast<uint8_t>(uploader)};
    identity_.resize(16);
    std::memcpy(identity_.data() + 8, identifier.data(), 8);
  }

  // The n-th page frame (from 1) is answered with a wrong sum.
  void CorruptPage(uint32_t n) { corrupt_.insert(n); }
  // From the n-th page frame on, nothing is answered.
  void SilentFromPage(uint32_t n) { silentFrom_ = n; }

  // A device running its firmware ignores the exit and answers only the warm boot.
  bool answersExit = true;
  bool answersWarmBoot = true;
  bool answersEepromRead = true;
  int entryRequests = 0;  // access sequences received
  int warmBoots = 0;
  // Called with the number of each page frame (from 1) before it is answered; may block to hold
  // the job there.
  std::function<void(uint32_t frame)> onPage;

  std::vector<PageWritten> pages;
  std::vector<Bytes> upgradeCodeParts;
  int jumps = 0;
  int exits = 0;
  uint32_t erasedBytes = 0;
  Bytes eepromWrite;  // the data bytes of the last EEPROM write
  Bytes infoArea = Bytes(128, 0xFF);

 private:
  void Answer(const Bytes& w) {
    if (w.size() == 261 && (w[0] == 0x10 || w[0] == 0x20)) {
      AnswerPage(w);
    } else if (w.size() == 137 && w[0] == 0x88) {
      upgradeCodeParts.push_back(w);
      QueueAnswer({0x04, 0x56, 0xFF, 0xFF, 0x58});
    } else if (w.size() == 9 && w[0] == 0x08) {
      ++jumps;
      QueueAnswer({0x04, 0x57, 0xFF, 0xFF, 0x59});
    } else if (w == Bytes{0x80, 0x55, 0x1A, 0x1B}) {
      ++exits;
      if (answersExit) {
        QueueAnswer({0x0D});
      }
    } else if (w == Bytes{0x04, 0x55, 0x1A, 0x1B, 0x8E}) {
      ++warmBoots;
      if (answersWarmBoot) {
        QueueAnswer({0x0D});
      }
    } else if (w.size() == 16 && w[0] == 0xA5 && w[1] == 0x3C) {
      ++entryRequests;
      QueueAnswer(identity_);
    } else if (w.size() == 1) {
      AnswerByte(w[0]);
    }
  }

  void AnswerPage(const Bytes& w) {
    ++frames_;
    if (onPage) {
      onPage(frames_);
    }
    if (silentFrom_ && frames_ >= *silentFrom_) {
      return;
    }
    uint16_t sum = 0;
    for (size_t i = 3; i < 259; ++i) {
      sum = static_cast<uint16_t>(sum + w[i]);
    }
    const uint32_t address = w[0] == 0x10 ? (w[1] << 8 | w[2]) : (w[2] << 8 | w[1]);
    pages.push_back({w[0], address, Bytes(w.begin() + 3, w.begin() + 259)});
    const uint8_t high = static_cast<uint8_t>(sum >> 8);
    const uint8_t low = static_cast<uint8_t>(sum & 0xFF);
    QueueAnswer({0x55, high, static_cast<uint8_t>(corrupt_.count(frames_) ? low ^ 1 : low), 0xFF});
  }

  void AnswerByte(uint8_t byte) {
    if (echo_ == Echo::None) {
      if (byte == 0x40) {
        if (answersEepromRead) {
          QueueAnswer(infoArea);
        }
      } else if (byte == 0x42) {
        echo_ = Echo::Write;
        eepromWrite.clear();
      } else if (byte == 0x43) {
        echo_ = Echo::Erase;
        erasedBytes = 0;
      }
      return;
    }
    QueueAnswer({byte});
    if (echo_ == Echo::Write) {
      eepromWrite.push_back(byte);
      if (eepromWrite.size() == 64) {
        echo_ = Echo::None;
      }
    } else {
      ++erasedBytes;
    }
  }

  enum class Echo { None, Write, Erase };
  Bytes identity_ = Bytes(16, 0x00);
  Echo echo_ = Echo::None;
  uint32_t frames_ = 0;
  std::set<uint32_t> corrupt_;
  std::optional<uint32_t> silentFrom_;
};

// The three ports of an engine as fake devices. A fixture derives from this before the engine's
// fixture, so that the ports exist when the engine is built; the engine keeps them, and the
// references stay good as long as the engine lives.
class FakeDevicePorts {
 protected:
  FakeDevicePorts()
      : serialOwned_(std::make_unique<FakeDevicePort>("RS232", kPortSerialObject)),
        usbOwned_(std::make_unique<FakeDevicePort>("USB", kPortUsb)),
        ethernetOwned_(std::make_unique<FakeDevicePort>("Ethernet", kPortEthernet)),
        serial_(*serialOwned_),
        usb_(*usbOwned_),
        ethernet_(*ethernetOwned_) {
    serial_.SetMode(kModeUpgradeCode);  // as the serial port always says
  }

  // Once only: hands the ports over to the engine.
  CVeltrPortSet TakePorts() {
    return CVeltrPortSet(std::move(serialOwned_), std::move(usbOwned_), std::move(ethernetOwned_));
  }

 private:
  std::unique_ptr<FakeDevicePort> serialOwned_;
  std::unique_ptr<FakeDevicePort> usbOwned_;
  std::unique_ptr<FakeDevicePort> ethernetOwned_;

 protected:
  FakeDevicePort& serial_;
  FakeDevicePort& usb_;
  FakeDevicePort& ethernet_;
};

}  // namespace veltr::test
