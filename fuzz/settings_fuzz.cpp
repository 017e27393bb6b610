// The desktop program's settings store as a damaged or hand-edited file may leave it: the input is
// the whole INI file. It is read the way the program starts (the four values over the defaults,
// the serial port paths, the package folder), every value must come out in the range the program
// relies on, and what the program would write at exit must read back the same at the next start.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A fresh file name for every input: the toolkit keeps parsed files by name and would hand out
  // the last input's values for a file of the same size written within the same millisecond.
  veltr::fuzz::ScratchFile damaged("settings");
  const Loaded first = Load(damaged.Write(data, size));
  CheckInRange(first.settings);
  for (int i = 0; i < veltr::CVeltrPortMap::kSerialPorts; ++i) {
    Require(!first.ports.PathAt(i).empty());
  }

  // Written at exit into a store of its own, read back at the next start.
  veltr::fuzz::ScratchFile next("settings-next");
  const std::string& nextPath = next.Write(nullptr, 0);
  {
    veltr::CVeltrSettings store(QString::fromStdString(nextPath));
    if (!store.SaveSettings(first.settings) || !store.SavePortMap(first.ports) ||
        !store.SavePackageFolder(first.packageFolder)) {
      return 0;  // the temporary folder is full: nothing to compare
    }
  }
  veltr::AppSettings reread;
  veltr::CVeltrSettings store(QString::fromStdString(nextPath));
  Require(store.LoadSettings(reread));
  Require(SameValues(reread, first.settings));
  const Loaded second = Load(nextPath);
  Require(SamePaths(second.ports, first.ports));
  Require(second.packageFolder == first.packageFolder);
  return 0;
}
