#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/port.h"
#include "protocol/device_types.h"

namespace veltr {

inline constexpr const char* kPackageIniName = "VeltrUpgrade.ini";
inline constexpr const char* kBuildTextName = "Build.txt";
inline constexpr uint32_t kDefaultLnk40eLength = 6070;

// The firmware package version per device type and whether the package covers it.
struct PackageVersionTable {
  PackageVersionTable();  // the built-in versions, nothing covered, LNK40E length 6070

  std::array<int32_t, kDeviceTypeCount> version{};
  std::array<int32_t, kDeviceTypeCount> present{};
  uint32_t lnk40eProcessorLength = kDefaultLnk40eLength;

  // 0 for a type outside 0 to 32.
  int32_t VersionOf(DeviceType type) const;
  bool Covers(DeviceType type) const;
};

// The description beside the running program: <folder of /proc/self/exe>/VeltrUpgrade.ini.
std::string DefaultPackageIniPath();
// The folder of the running program (of /proc/self/exe); empty when the system does not say.
std::string ProgramFolder();

// The places a description is looked for, in order: beside the program (where it always was),
// then the package folder named on the command line, then the working folder. A folder that is
// empty or already listed is left out.
std::vector<std::string> PackageDescriptionCandidates(const std::string& programDir,
                                                      const std::string& packageDir,
                                                      const std::string& workDir);
// The first candidate where a plain file lies, or empty when there is none. A file that is there
// but cannot be read still counts, so that the user hears of it instead of getting another one.
std::string FindPackageDescription(const std::string& programDir, const std::string& packageDir,
                                   const std::string& workDir);

// What reading a description found besides the values.
struct PackageDescriptionReport {
  bool found = false;     // a file is at the path
  bool readable = false;  // and it could be read
  // Values that cannot be what the package means, e.g. "[KL1A] Version=-1: not a version from 0
  // to 65535". The table keeps what it had for them.
  std::vector<std::string> damaged;
};

// Reads VeltrUpgrade.ini into the table. False (and nothing changed) when no file is at the path
// or it cannot be read. A version must be a number from 0 to 65535 (the 16-bit word devices and
// file names carry); any other value is left out and, with a report, listed as damaged.
bool LoadPackageDescription(const std::string& iniPath, PackageVersionTable& table,
                            PackageDescriptionReport* report = nullptr);

// Image file names (relative: the caller puts them in the working folder). A part that does not
// exist for the type or hardware is written "(null)", so that the name matches no file.
std::string LogicFileName(DeviceType type, HardwareVersion hw, const PackageVersionTable& table);
std::string ProcessorFileName(DeviceType type, HardwareVersion hw,
                              const PackageVersionTable& table);
std::string BiosFileName(DeviceType type, HardwareVersion hw, const PackageVersionTable& table);
// USB or Ethernet; any other port has no upgrade code file (empty name).
std::string UpgradeCodeFileName(DeviceType type, PortId port);

// What an image must be to pass; false means "damaged file".
bool IsLogicImageValid(DeviceType type, HardwareVersion hw, uint64_t length);
bool IsBiosImageValid(DeviceType type, uint64_t length, uint64_t byteSum);
bool IsProcessorImageValid(DeviceType type, uint64_t length, const PackageVersionTable& table);
// The most a processor or BIOS image may hold: the pages of the type's processor flash.
uint64_t MaxProcessorImageLength(DeviceType type);
// A processor or BIOS image that can go into the device: it fills the first page, which the upload
// writes last and the device starts from, and it fits the flash. False means "damaged file".
bool FitsProcessorFlash(DeviceType type, uint64_t length);

}  // namespace veltr
