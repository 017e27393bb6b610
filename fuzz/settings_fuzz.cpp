// The desktop program's settings store as a damaged or hand-edited file may leave it: the input is
// the whole INI file. It is read the way the program starts (the four values over the defaults,
// the serial port paths, the package folder), every value must come out in the range the program
// relies on, and what the program would write at exit must read back the same at the next start.

#include <fcntl.h>
#include <sys/stat.h>

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "app/settings.h"
#include "base/port.h"
#include "engine/app_settings.h"
#include "fuzz/fuzz_input.h"
#include "protocol/device_types.h"
#include "transport/port_map.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void CheckInRange(const veltr::AppSettings& s) {
  Require(s.deviceType >= 0 && s.deviceType < veltr::kDeviceTypeCount);
  Require(veltr::IsSelectablePort(s.port));
  Require(s.autoselect == 0 || s.autoselect == 1);
  Require(s.selectDialog == 0 || s.selectDialog == 1);
}

bool SameValues(const veltr::AppSettings& a, const veltr::AppSettings& b) {
  return a.deviceType == b.deviceType && a.port == b.port && a.autoselect == b.autoselect &&
         a.selectDialog == b.selectDialog;
}

bool SamePaths(const veltr::CVeltrPortMap& a, const veltr::CVeltrPortMap& b) {
  for (int i = 0; i < veltr::CVeltrPortMap::kSerialPorts; ++i) {
    if (a.PathAt(i) != b.PathAt(i)) {
      return false;
    }
  }
  return true;
}

struct Loaded {
  veltr::AppSettings settings;
  veltr::CVeltrPortMap ports;
  QString packageFolder;
};

Loaded Load(const std::string& path) {
  Loaded loaded;
  veltr::CVeltrSettings store(QString::fromStdString(path));
  static_cast<void>(store.LoadSettings(loaded.settings));
  store.LoadPortMap(loaded.ports);
  loaded.packageFolder = store.LoadPackageFolder();
  return loaded;
}

}  // namespace

// The toolkit decodes a typed value ("@Variant(...)") with counts taken from the file, and a
// damaged one can ask for tens of gigabytes at once. The C library reserves such a block without
// touching it, or refuses it, and the toolkit carries on either way; the sanitizer's allocator
// instead maps and marks the whole block, which takes seconds and gigabytes of memory. Refuse such
// requests here as the C library would under a memory limit.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static veltr::fuzz::ScratchFile damaged("settings");
  static veltr::fuzz::ScratchFile next("settings-next");
  const std::string& damagedPath = damaged.Write(data, size);
  const std::string& nextPath = next.Write(nullptr, 0);
  // The toolkit keeps parsed files by name and reads one again only when its size or time stamp
  // changed: every input gets a time stamp of its own.
  static time_t stamp = 0;
  ++stamp;
  const timespec times[2] = {{stamp, 0}, {stamp, 0}};
  utimensat(AT_FDCWD, damagedPath.c_str(), times, 0);
  utimensat(AT_FDCWD, nextPath.c_str(), times, 0);
  const Loaded first = Load(damagedPath);
  CheckInRange(first.settings);
  for (int i = 0; i < veltr::CVeltrPortMap::kSerialPorts; ++i) {
    Require(!first.ports.PathAt(i).empty());
  }

  // Written at exit into a store of its own, read back at the next start.
  {
    veltr::CVeltrSettings store(QString::fromStdString(nextPath));
    if (!store.SaveSettings(first.settings) || !store.SavePortMap(first.ports) ||
        !store.SavePackageFolder(first.packageFolder)) {
      return 0;  // the temporary folder is full: nothing to compare
    }
  }
  // Read back from the text written, not from what the toolkit remembers of writing it.
  const timespec written[2] = {{stamp, 500000000}, {stamp, 500000000}};
  utimensat(AT_FDCWD, nextPath.c_str(), written, 0);
  veltr::AppSettings reread;
  veltr::CVeltrSettings store(QString::fromStdString(nextPath));
  Require(store.LoadSettings(reread));
  Require(SameValues(reread, first.settings));
  const Loaded second = Load(nextPath);
  Require(SamePaths(second.ports, first.ports));
  Require(second.packageFolder == first.packageFolder);
  return 0;
}
