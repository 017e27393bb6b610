#pragma once

// The USB side of the whole-program tests: a umockdev testbed of HID devices (vendor 0925, product
// 0050) and veltr run under umockdev's preload library over it. Include from one source file per
// test program: it defines the leak checker's suppressions.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if VELTR_HAVE_UMOCKDEV
#include <umockdev.h>
#endif

// The testbed library keeps a few small GLib allocations for the life of the process; under the
// leak checker of the sanitizer builds they are its, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libglib-2.0.so\nleak:libumockdev.so\n";
}

namespace veltr::e2e {

inline const std::string kPreload = VELTR_UMOCKDEV_PRELOAD;

// Empty when the testbed can be used; else why not, for the skip message.
inline std::string UsbTestbedMissing() {
#if !VELTR_HAVE_UMOCKDEV
  return "umockdev is not installed (Debian: umockdev, libumockdev-dev)";
#else
  if (kPreload.empty() || access(kPreload.c_str(), R_OK) != 0) {
    return "umockdev's preload library " + kPreload + " is not installed";
  }
  return "";
#endif
}

// A vendor-defined interface of 64 bytes each way and no report ids, as the devices describe it.
constexpr const char* kReportDescriptor =
    "0600FF0901A101150026FF00750895400901810295400901910"
    "2C0";

#if VELTR_HAVE_UMOCKDEV
// The sysfs side of the devices: one USB device per port, its HID interface with the ids and
// the report descriptor, and the hidraw class device that names the node.
class UsbTestbed {
 public:
  UsbTestbed() : testbed_(umockdev_testbed_new()) {}
  ~UsbTestbed() { g_object_unref(testbed_); }
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  std::string Root() const { return umockdev_testbed_get_root_dir(testbed_); }

  // Adds hidraw<index> on USB port <index + 1>; returns where its node goes in the testbed.
  std::string AddDevice(int index) {
    const std::string port = "1-" + std::to_string(index + 1);
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    char hidName[32];
    std::snprintf(hidName, sizeof hidName, "0003:0925:0050.%04X", index + 1);
    const std::string hid = usb + "/" + port + ":1.0/" + hidName;
    const std::string name = "hidraw" + std::to_string(index);
    const std::string description =
        "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=0925\n" +
        "A: idProduct=0050\n\n" + "P: " + hid + "\nE: SUBSYSTEM=hid\n" +
        "E: HID_ID=0003:00000925:00000050\nH: report_descriptor=" + kReportDescriptor + "\n\n" +
        "P: " + hid + "/hidraw/" + name + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + name +
        "\nA: dev=243:" + std::to_string(index) + "\n\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
      ADD_FAILURE() << "testbed: " << (error != nullptr ? error->message : "?");
      g_clear_error(&error);
    }
    return Root() + "/dev/" + name;
  }

 private:
  UMockdevTestbed* testbed_;
};
#else
class UsbTestbed {
 public:
  std::string Root() const { return {}; }
  std::string AddDevice(int) { return {}; }
};
#endif

// The command line that runs program under the preload with the testbed's sysfs and nodes in
// place of the machine's. The sanitizer runtime must not insist on coming first: the preload does.
inline std::vector<std::string> UnderTestbed(const std::string& root, const std::string& program,
                                             const std::vector<std::string>& args) {
  std::string asan = "verify_asan_link_order=0";
  if (const char* given = std::getenv("ASAN_OPTIONS"); given != nullptr && *given != '\0') {
    asan = std::string(given) + ":" + asan;
  }
  std::vector<std::string> command = {"/usr/bin/env", "UMOCKDEV_DIR=" + root,
                                      "LD_PRELOAD=" + kPreload, "ASAN_OPTIONS=" + asan, program};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

}  // namespace veltr::e2e
