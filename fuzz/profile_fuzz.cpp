// The package description: the profile reader under it, then the version table read from it.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "package/package_description.h"
#include "package/profile_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static veltr::fuzz::ScratchFile file("profile");
  const std::string& path = file.Write(data, size);
  veltr::CVeltrProfileFile profile;
  if (profile.Load(path)) {
    for (const auto& section : profile.SectionNames(512)) {
      static_cast<void>(profile.GetInt(section, "Version", 0));
      static_cast<void>(profile.GetString(section, "Length"));
      static_cast<void>(profile.GetStruct(section, "Settings", 16));
    }
    static_cast<void>(
        veltr::ParseProfileInteger(std::string(data, data + std::min<size_t>(size, 64))));
  }
  veltr::PackageVersionTable table;
  veltr::PackageDescriptionReport report;
  veltr::LoadPackageDescription(path, table, &report);
  for (int type = 0; type < veltr::kDeviceTypeCount; ++type) {
    static_cast<void>(table.VersionOf(static_cast<veltr::DeviceType>(type)));
    static_cast<void>(
        veltr::ProcessorFileName(static_cast<veltr::DeviceType>(type), {1, 4}, table));
  }
  return 0;
}
