#include "package/package_description.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "package/profile_file.h"

namespace veltr {
namespace {

constexpr const char* kVersionKey = "Version";
constexpr const char* kGeneralSection = "General";
constexpr const char* kChecksumKey = "Checksum";
constexpr size_t kChecksumBytes = 16;
constexpr size_t kSectionListChars = 512;
// The LNK40E processor image length is kept in the check value as a word subtracted from this.
constexpr uint32_t kLnk40eLengthBase = 62580;

constexpr const char* kMissingPart = "(null)";

constexpr uint64_t kProcessorPageSize = 256;

// A folder that happens to carry the description's name is no description.
bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// "pkg" and "pkg/" both give "pkg/VeltrUpgrade.ini".
std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string PartOrNull(const std::optional<std::string>& part) {
  return part ? *part : std::string(kMissingPart);
}

// The version in a file name is the low 16 bits of the package version, unsigned.
std::string VersionPart(DeviceType type, const PackageVersionTable& table) {
  return std::to_string(static_cast<uint16_t>(table.VersionOf(type)));
}

std::string ImageFileName(const char* prefix, const char* suffix, DeviceType type,
                          HardwareVersion hw, const PackageVersionTable& table) {
  return prefix + PartOrNull(GetFileCode(type)) + PartOrNull(GetRevisionDigit(type, hw)) +
         VersionPart(type, table) + suffix;
}

std::optional<uint32_t> Lnk40eLengthFromCheckValue(const std::vector<uint8_t>& b) {
  const size_t k = b[2];
  // The word must lie inside the 16 bytes; a value pointing beyond them sets nothing.
  if (k + 1 >= b.size()) {
    return std::nullopt;
  }
  const uint32_t word = static_cast<uint32_t>(b[k] * 256 + b[k + 1]);
  return (kLnk40eLengthBase - word) * 2u;
}

// A version as the profile functions read it (leading decimal digits, a value without any is 0),
// but none when the number does not fit the version word: below 0 or above 65535. The digits are
// taken without wrapping, so that 4294967507 is not taken for 211.
std::optional<int32_t> VersionValue(const std::string& text) {
  const ProfileInteger number = ParseProfileInteger(text);
  if (number.magnitude > 65535 || (number.negative && number.magnitude != 0)) {
    return std::nullopt;
  }
  return static_cast<int32_t>(number.magnitude);
}

}  // namespace

PackageVersionTable::PackageVersionTable() {
  for (DeviceType type = 0; type < kDeviceTypeCount; ++type) {
    version[static_cast<size_t>(type)] = DefaultPackageVersion(type);
  }
}

int32_t PackageVersionTable::VersionOf(DeviceType type) const {
  return IsKnownDeviceType(type) ? version[static_cast<size_t>(type)] : 0;
}

bool PackageVersionTable::Covers(DeviceType type) const {
  return IsKnownDeviceType(type) && present[static_cast<size_t>(type)] != 0;
}

std::string ProgramFolder() {
  std::vector<char> path(512);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) {
      return std::string();
    }
    if (static_cast<size_t>(length) < path.size()) {
      const std::string program(path.data(), static_cast<size_t>(length));
      const size_t slash = program.rfind('/');
      if (slash == std::string::npos) {
        return ".";
      }
      return slash == 0 ? "/" : program.substr(0, slash);
    }
    path.resize(path.size() + 512);
  }
}

std::string DefaultPackageIniPath() {
  const std::string folder = ProgramFolder();
  // No program path: no description, the built-in versions stay.
  return folder.empty() ? std::string() : JoinPath(folder, kPackageIniName);
}

std::vector<std::string> PackageDescriptionCandidates(const std::string& programDir,
                                                      const std::string& packageDir,
                                                      const std::string& workDir) {
  std::vector<std::string> candidates;
  for (const std::string* folder : {&programDir, &packageDir, &workDir}) {
    if (folder->empty()) {
      continue;
    }
    const std::string path = JoinPath(*folder, kPackageIniName);
    if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) {
      candidates.push_back(path);
    }
  }
  return candidates;
}

std::string FindPackageDescription(const std::string& programDir, const std::string& packageDir,
                                   const std::string& workDir) {
  for (const std::string& path : PackageDescriptionCandidates(programDir, packageDir, workDir)) {
    if (FileExists(path)) {
      return path;
    }
  }
  return std::string();
}

bool LoadPackageDescription(const std::string& iniPath, PackageVersionTable& table,
                            PackageDescriptionReport* report) {
  PackageDescriptionReport local;
  PackageDescriptionReport& found = report != nullptr ? *report : local;
  found = PackageDescriptionReport{};
  if (!FileExists(iniPath)) {
    return false;
  }
  found.found = true;
  CVeltrProfileFile profile;
  if (!profile.Load(iniPath)) {
    return false;
  }
  found.readable = true;

  for (DeviceType type = 0; type < kDeviceTypeCount; ++type) {
    const char* section = GetShortName(type);
    const std::optional<std::string> text = profile.GetString(section, kVersionKey);
    if (!text) {
      continue;  // a missing key keeps the version the table had
    }
    if (const auto version = VersionValue(*text)) {
      table.version[static_cast<size_t>(type)] = *version;
    } else {
      found.damaged.push_back(std::string("[") + section + "] " + kVersionKey + "=" + *text +
                              ": not a version from 0 to 65535");
    }
  }

  // Unlike the lookups above, coverage compares the section names with case.
  const std::vector<std::string> listed = profile.SectionNames(kSectionListChars);
  const std::set<std::string> sections(listed.begin(), listed.end());
  for (DeviceType type = 0; type < kDeviceTypeCount; ++type) {
    table.present[static_cast<size_t>(type)] = sections.count(GetShortName(type)) != 0 ? 1 : 0;
  }

  if (const auto checkValue = profile.GetStruct(kGeneralSection, kChecksumKey, kChecksumBytes)) {
    if (const auto length = Lnk40eLengthFromCheckValue(*checkValue)) {
      table.lnk40eProcessorLength = *length;
    }
  }
  return true;
}

std::string LogicFileName(DeviceType type, HardwareVersion hw, const PackageVersionTable& table) {
  return ImageFileName("p", ".sop", type, hw, table);
}

std::string ProcessorFileName(DeviceType type, HardwareVersion hw,
                              const PackageVersionTable& table) {
  return ImageFileName("u", ".bin", type, hw, table);
}

std::string BiosFileName(DeviceType type, HardwareVersion hw, const PackageVersionTable& table) {
  return ImageFileName("ub", ".bin", type, hw, table);
}

std::string UpgradeCodeFileName(DeviceType type, PortId port) {
  if (port == kPortUsb) {
    return "u" + PartOrNull(GetFileCode(type)) + "usu1101.bin";
  }
  if (port == kPortEthernet) {
    return "u" + PartOrNull(GetFileCode(type)) + "etu1101.bin";
  }
  return std::string();
}

bool IsLogicImageValid(DeviceType type, HardwareVersion hw, uint64_t length) {
  return length == GetLogicImageSize(type, hw);
}

bool IsBiosImageValid(DeviceType type, uint64_t length, uint64_t byteSum) {
  return length == GetBiosImageLength(type) && byteSum == GetBiosImageSum(type);
}

uint64_t MaxProcessorImageLength(DeviceType type) {
  return uint64_t{GetProcessorPageCount(type)} * kProcessorPageSize;
}

bool FitsProcessorFlash(DeviceType type, uint64_t length) {
  return length != 0 && length <= MaxProcessorImageLength(type);
}

bool IsProcessorImageValid(DeviceType type, uint64_t length, const PackageVersionTable& table) {
  if (!HasPackageProcessorLength(type)) {
    return true;
  }
  return length == table.lnk40eProcessorLength;
}

}  // namespace veltr
