#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace veltr {

// A process that has a device node open.
struct PortHolder {
  pid_t pid = 0;
  std::string name;  // the process's command name ("minicom"), as the kernel keeps it
};

// The other processes that have the character device at devicePath open, found through their
// descriptors in /proc, sorted by process id. Only the processes this one may look into are
// seen: an unprivileged user sees their own. Empty when the path is no character device.
std::vector<PortHolder> FindPortHolders(const std::string& devicePath);

// "/dev/ttyUSB0 is in use by another program", naming the holders when the system tells them:
// "/dev/ttyUSB0 is in use by another program: minicom (process 4711)".
std::string InUseText(const std::string& devicePath);

}  // namespace veltr
