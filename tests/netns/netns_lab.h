#pragma once

// The network lab: two network namespaces of its own joined by one veth pair, so that every
// datagram of a test, broadcasts included, stays between them and never reaches the machine's
// network. The host side holds 10.77.1.1/24 and a default route out of its veth (a broadcast needs
// a way out); the device side holds whatever addresses the devices take, all on its one veth.
// Programs run through `ip netns exec` and in_lab.sh, which refuses to start them anywhere but in
// the lab's namespace. Everything is deleted again when the lab ends, when the test process is
// ended by a signal, and (for a crashed earlier run) when the next lab starts.

#include <string>
#include <vector>

#include "e2e/process.h"

namespace veltr::netns {

class NetnsLab {
 public:
  static constexpr const char* kHostAddress = "10.77.1.1";

  NetnsLab();
  ~NetnsLab();
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;

  // False, with the reason, when this machine or user cannot make namespaces; tests then skip.
  bool Make(std::string* why);

  // Puts address/prefix (e.g. "10.77.1.2/24") on the device side's veth.
  bool AddDeviceAddress(const std::string& cidr);
  // A line "address name" in the hosts file the host namespace sees as /etc/hosts.
  bool AddHostName(const std::string& address, const std::string& name);

  // Runs a program in the host namespace to its end.
  e2e::RunResult RunOnHost(const std::string& program, const std::vector<std::string>& args,
                           int timeoutSeconds = 120);
  // Starts a program in the device namespace in the background (the simulator).
  bool StartOnDevices(e2e::SimulatorProcess& process, const std::string& program,
                      const std::vector<std::string>& args, const std::string& errorFile = "");
  // The command line that runs a program in the host namespace, for a caller with its own runner.
  std::vector<std::string> HostCommand(const std::string& program,
                                       const std::vector<std::string>& args) const;

  const std::string& HostNamespace() const { return host_; }
  const std::string& DeviceNamespace() const { return devices_; }

 private:
  std::vector<std::string> InLab(const std::string& ns, const std::string& program,
                                 const std::vector<std::string>& args) const;
  void Remove();

  std::string host_;
  std::string devices_;
  bool made_ = false;
};

// Path of the ip tool, empty when it is not installed.
std::string IpTool();

}  // namespace veltr::netns
