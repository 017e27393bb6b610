#include "transport/port_holders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace veltr {

namespace {

namespace fs = std::filesystem;

bool IsProcessId(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// The descriptors are compared by device number, not by link text: the same tty may be open
// under /dev/serial/by-id/..., a symlink of the test's own, or its /dev name.
bool HoldsDevice(const fs::path& process, dev_t device) {
  std::error_code ec;
  for (fs::directory_iterator it(process / "fd", ec), end; !ec && it != end; it.increment(ec)) {
    struct stat info {};
    if (::stat(it->path().c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device) {
      return true;
    }
  }
  return false;
}

std::string CommandName(const fs::path& process) {
  std::ifstream comm(process / "comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "a program" : name;
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& devicePath) {
  std::vector<PortHolder> holders;
  struct stat target {};
  if (::stat(devicePath.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) {
    return holders;
  }
  const std::string self = std::to_string(::getpid());
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!IsProcessId(name) || name == self || !HoldsDevice(it->path(), target.st_rdev)) {
      continue;
    }
    holders.push_back({static_cast<pid_t>(std::stol(name)), CommandName(it->path())});
  }
  std::sort(holders.begin(), holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

std::string InUseText(const std::string& devicePath) {
  std::string text = devicePath + " is in use by another program";
  const std::vector<PortHolder> holders = FindPortHolders(devicePath);
  for (size_t i = 0; i < holders.size(); ++i) {
    text += (i == 0 ? ": " : ", ") + holders[i].name + " (process " +
            std::to_string(holders[i].pid) + ")";
  }
  return text;
}

}  // namespace veltr
