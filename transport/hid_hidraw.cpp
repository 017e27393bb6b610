#include "transport/hid_hidraw.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace veltr {

namespace {

// The package puts the rule in place itself; a build from source has to copy it.
constexpr const char* kUdevRuleHint =
    "the udev rule 70-veltrano-usb.rules gives the user at the seat access (the package installs "
    "it into /usr/lib/udev/rules.d; from a source tree, copy packaging/udev/70-veltrano-usb.rules "
    "into /etc/udev/rules.d and run \"udevadm control --reload\"), then unplug and plug the "
    "device in again";

std::string SystemError(const std::string& what, const std::string& node, int error) {
  std::string text = what + " " + node + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM) {
    text += "; " + std::string(kUdevRuleHint);
  }
  return text;
}

// The parent "hid" device tells the ids as "BUS:VENDOR:PRODUCT" in hex, e.g.
// "0003:00000925:00000050".
bool IsVeltrDevice(udev_device* hidraw) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
  if (hid == nullptr) {
    return false;
  }
  const char* id = udev_device_get_property_value(hid, "HID_ID");
  unsigned bus = 0;
  unsigned vendor = 0;
  unsigned product = 0;
  if (id == nullptr || std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) != 3) {
    return false;
  }
  return vendor == kVeltrUsbVendorId && product == kVeltrUsbProductId;
}

class CVeltrHidraw final : public IVeltrHidBackend {
 public:
  ~CVeltrHidraw() override {
    for (const auto& [fd, node] : open_) {
      ::close(fd);
    }
  }

  std::vector<std::string> Enumerate() override {
    std::vector<std::pair<std::string, std::string>> found;  // sysfs path, node
    udev* context = udev_new();
    if (context == nullptr) {
      lastError_ = "udev is not available";
      return {};
    }
    // A machine without HID support has no hidraw class: the scan just finds nothing.
    udev_enumerate* scan = udev_enumerate_new(context);
    if (scan != nullptr && udev_enumerate_add_match_subsystem(scan, "hidraw") >= 0 &&
        udev_enumerate_scan_devices(scan) >= 0) {
      udev_list_entry* entry = nullptr;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan)) {
        const char* syspath = udev_list_entry_get_name(entry);
        udev_device* device = udev_device_new_from_syspath(context, syspath);
        if (device == nullptr) {
          continue;
        }
        const char* node = udev_device_get_devnode(device);
        if (node != nullptr && IsVeltrDevice(device)) {
          found.emplace_back(syspath, node);
        }
        udev_device_unref(device);
      }
    }
    if (scan != nullptr) {
      udev_enumerate_unref(scan);
    }
    udev_unref(context);
    // sysfs path order: the order of the ports the devices hang on, stable across runs.
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto& [syspath, node] : found) {
      nodes.push_back(std::move(node));
    }
    return nodes;
  }

  int Open(const std::string& node) override {
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      lastError_ = SystemError("cannot open", node, errno);
      return -1;
    }
    open_[fd] = node;
    return fd;
  }

  bool ReportLengths(int handle, uint32_t& input, uint32_t& output) override {
    std::vector<uint8_t> descriptor;
    if (!SysfsDescriptor(NodeOf(handle), descriptor) && !IoctlDescriptor(handle, descriptor)) {
      return false;
    }
    const HidReportSizes sizes =
        ParseReportDescriptor(descriptor.data(), static_cast<uint32_t>(descriptor.size()));
    if (sizes.input < 2 || sizes.output < 2) {
      lastError_ = NodeOf(handle) + " describes no input or no output report";
      return false;
    }
    numbered_[handle] = sizes.numbered;
    input = sizes.input;
    output = sizes.output;
    return true;
  }

  bool WriteReport(int handle, const uint8_t* report, uint32_t length) override {
    // The kernel takes the report id first and drops it again for a device without ids.
    for (;;) {
      const ssize_t written = ::write(handle, report, length);
      if (written == static_cast<ssize_t>(length)) {
        return true;
      }
      if (written < 0 && errno == EINTR) {
        continue;
      }
      lastError_ = written < 0 ? SystemError("cannot write to", NodeOf(handle), errno)
                               : "short write to " + NodeOf(handle);
      return false;
    }
  }

  bool ReadReport(int handle, uint8_t* report, uint32_t length, uint32_t timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool numbered = numbered_[handle];
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left < 0) {
        lastError_ = "no answer from " + NodeOf(handle);
        return false;
      }
      pollfd wait{handle, POLLIN, 0};
      const int ready = ::poll(&wait, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) {
        continue;
      }
      if (ready < 0) {
        lastError_ = SystemError("cannot wait for", NodeOf(handle), errno);
        return false;
      }
      if (ready == 0) {
        lastError_ = "no answer from " + NodeOf(handle);
        return false;
      }
      if ((wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        lastError_ = NodeOf(handle) + " went away";
        return false;
      }
      // Without report ids the kernel hands over the data alone: the id byte goes back in
      // front so that the report looks as it was sent.
      uint8_t* into = numbered ? report : report + 1;
      const uint32_t want = numbered ? length : length - 1;
      const ssize_t got = ::read(handle, into, want);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        continue;
      }
      if (got < 0) {
        lastError_ = SystemError("cannot read from", NodeOf(handle), errno);
        return false;
      }
      if (static_cast<uint32_t>(got) != want) {
        lastError_ = "short report from " + NodeOf(handle);
        return false;
      }
      if (!numbered) {
        report[0] = 0;
      }
      return true;
    }
  }

  void DiscardInput(int handle) override {
    // The kernel queues a bounded number of reports per open node; the cap only guards
    // against a device that never stops sending.
    std::array<uint8_t, 4096> scratch;
    for (int i = 0; i < 1024; ++i) {
      pollfd ready{handle, POLLIN, 0};
      if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLIN) == 0) {
        return;
      }
      const ssize_t got = ::read(handle, scratch.data(), scratch.size());
      if (got == 0 || (got < 0 && errno != EINTR)) {
        return;
      }
    }
  }

  bool Close(int handle) override {
    open_.erase(handle);
    numbered_.erase(handle);
    return ::close(handle) == 0;
  }

  std::string LastError() const override { return lastError_; }

 private:
  // The kernel shows the descriptor of every HID device in sysfs, beside the hidraw class
  // device: the same bytes the HIDIOCGRDESC ioctl returns, without needing the node to take
  // ioctls.
  bool SysfsDescriptor(const std::string& node, std::vector<uint8_t>& descriptor) {
    const std::string name = node.substr(node.find_last_of('/') + 1);
    udev* context = udev_new();
    if (context == nullptr) {
      return false;
    }
    std::string path;
    if (udev_device* hidraw =
            udev_device_new_from_subsystem_sysname(context, "hidraw", name.c_str())) {
      udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
      if (hid != nullptr) {
        path = std::string(udev_device_get_syspath(hid)) + "/report_descriptor";
      }
      udev_device_unref(hidraw);
    }
    udev_unref(context);
    if (path.empty()) {
      return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    descriptor.resize(HID_MAX_DESCRIPTOR_SIZE);
    size_t filled = 0;
    while (filled < descriptor.size()) {
      const ssize_t got = ::read(fd, descriptor.data() + filled, descriptor.size() - filled);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      filled += static_cast<size_t>(got);
    }
    ::close(fd);
    descriptor.resize(filled);
    return filled > 0;
  }

  bool IoctlDescriptor(int handle, std::vector<uint8_t>& descriptor) {
    int size = 0;
    if (::ioctl(handle, HIDIOCGRDESCSIZE, &size) < 0) {
      lastError_ = SystemError("cannot read the report descriptor of", NodeOf(handle), errno);
      return false;
    }
    hidraw_report_descriptor raw{};
    raw.size = static_cast<uint32_t>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
    if (::ioctl(handle, HIDIOCGRDESC, &raw) < 0) {
      lastError_ = SystemError("cannot read the report descriptor of", NodeOf(handle), errno);
      return false;
    }
    descriptor.assign(raw.value, raw.value + raw.size);
    return true;
  }

  std::string NodeOf(int handle) const {
    const auto it = open_.find(handle);
    return it == open_.end() ? "the HID device" : it->second;
  }

  std::map<int, std::string> open_;
  std::map<int, bool> numbered_;
  std::string lastError_;
};

}  // namespace

HidReportSizes ParseReportDescriptor(const uint8_t* descriptor, uint32_t size) {
  struct Globals {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint32_t reportId = 0;
  };
  Globals globals;
  std::vector<Globals> stack;
  std::map<uint32_t, uint32_t> inputBits;  // by report id
  std::map<uint32_t, uint32_t> outputBits;
  bool numbered = false;
  uint32_t at = 0;
  while (at < size) {
    const uint8_t prefix = descriptor[at];
    if (prefix == 0xFE) {  // long item: data size in the next byte, tag after it
      if (at + 1 >= size) {
        break;
      }
      at += 3 + descriptor[at + 1];
      continue;
    }
    const uint32_t dataSize = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
    if (at + 1 + dataSize > size) {
      break;
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < dataSize; ++i) {
      value |= static_cast<uint32_t>(descriptor[at + 1 + i]) << (8 * i);
    }
    switch (prefix & 0xFC) {
      case 0x80:  // Input
        inputBits[globals.reportId] += globals.reportSize * globals.reportCount;
        break;
      case 0x90:  // Output
        outputBits[globals.reportId] += globals.reportSize * globals.reportCount;
        break;
      case 0x74:  // Report Size
        globals.reportSize = value;
        break;
      case 0x94:  // Report Count
        globals.reportCount = value;
        break;
      case 0x84:  // Report ID
        globals.reportId = value;
        numbered = true;
        break;
      case 0xA4:  // Push
        stack.push_back(globals);
        break;
      case 0xB4:  // Pop
        if (!stack.empty()) {
          globals = stack.back();
          stack.pop_back();
        }
        break;
      default:
        break;
    }
    at += 1 + dataSize;
  }
  const auto longest = [](const std::map<uint32_t, uint32_t>& bits) {
    uint32_t bytes = 0;
    for (const auto& [id, count] : bits) {
      bytes = std::max(bytes, (count + 7) / 8);
    }
    return bytes == 0 ? 0 : bytes + 1;
  };
  HidReportSizes sizes;
  sizes.input = longest(inputBits);
  sizes.output = longest(outputBits);
  sizes.numbered = numbered;
  return sizes;
}

std::unique_ptr<IVeltrHidBackend> MakeHidrawBackend() {
  return std::make_unique<CVeltrHidraw>();
}

}  // namespace veltr
