#include "netns/netns_lab.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace veltr::netns {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrefix = "veltr-lab-";
constexpr const char* kHostVeth = "vlabh";
constexpr const char* kDeviceVeth = "vlabd";

std::string Guard() {
  return std::string(VELTR_LAB_DIR) + "/in_lab.sh";
}

// device:inode of the network namespace this process runs in, as stat -L prints it.
std::string OwnNamespace() {
  struct stat info {};
  if (stat("/proc/self/ns/net", &info) != 0) {
    return "unknown";
  }
  return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(info.st_ino));
}

// Runs a command to its end; true on exit status 0. Its output goes to the test's stderr.
bool Command(const std::vector<std::string>& args, bool quiet = false) {
  std::vector<char*> argv;
  for (const auto& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (quiet) {
      freopen("/dev/null", "w", stderr);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The namespaces of every lab alive in this process, for the signal handler. Fixed storage: the
// handler must not allocate.
constexpr int kMaxLabs = 8;
char g_names[kMaxLabs * 2][64];
std::atomic<bool> g_used[kMaxLabs * 2];
char g_ip[256];
std::once_flag g_handlers;

void DeleteAllFromHandler() {
  for (int i = 0; i < kMaxLabs * 2; ++i) {
    if (!g_used[i].exchange(false)) {
      continue;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      char netns[] = "netns";
      char del[] = "del";
      char* argv[] = {g_ip, netns, del, g_names[i], nullptr};
      execv(g_ip, argv);
      _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

void OnSignal(int signal) {
  DeleteAllFromHandler();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void Register(const std::string& name) {
  for (int i = 0; i < kMaxLabs * 2; ++i) {
    if (!g_used[i].load()) {
      std::snprintf(g_names[i], sizeof g_names[i], "%s", name.c_str());
      g_used[i] = true;
      return;
    }
  }
}

void Unregister(const std::string& name) {
  for (int i = 0; i < kMaxLabs * 2; ++i) {
    if (g_used[i].load() && name == g_names[i]) {
      g_used[i] = false;
    }
  }
}

void InstallHandlers() {
  std::call_once(g_handlers, [] {
    std::snprintf(g_ip, sizeof g_ip, "%s", IpTool().c_str());
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGABRT}) {
      struct sigaction action {};
      action.sa_handler = OnSignal;
      sigemptyset(&action.sa_mask);
      sigaction(signal, &action, nullptr);
    }
  });
}

void RemoveHostsFolder(const std::string& name) {
  std::error_code ignored;
  fs::remove_all(fs::path("/etc/netns") / name, ignored);
}

// Namespaces of earlier runs whose process is gone: a crash or a kill -9 left them behind.
void SweepLeftovers() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/run/netns", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrefix, 0) != 0) {
      continue;
    }
    const long pid = std::strtol(name.c_str() + std::strlen(kPrefix), nullptr, 10);
    if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
      continue;  // a lab of a running test
    }
    Command({IpTool(), "netns", "del", name}, true);
    RemoveHostsFolder(name);
  }
}

}  // namespace

std::string IpTool() {
  for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (access(path, X_OK) == 0) {
      return path;
    }
  }
  return {};
}

NetnsLab::NetnsLab() {
  static std::atomic<int> counter{0};
  const std::string base =
      kPrefix + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
  host_ = base + "-h";
  devices_ = base + "-d";
}

NetnsLab::~NetnsLab() {
  Remove();
}

bool NetnsLab::Make(std::string* why) {
  const std::string ip = IpTool();
  if (geteuid() != 0) {
    *why = "the network lab needs root to make its namespaces";
    return false;
  }
  if (ip.empty()) {
    *why = "the network lab needs the ip tool (iproute2)";
    return false;
  }
  InstallHandlers();
  SweepLeftovers();
  if (!Command({ip, "netns", "add", host_})) {
    *why = "cannot make the network namespace " + host_;
    return false;
  }
  Register(host_);
  made_ = true;
  if (!Command({ip, "netns", "add", devices_})) {
    *why = "cannot make the network namespace " + devices_;
    return false;
  }
  Register(devices_);
  // Both ends are made inside the lab's namespaces: the machine's own never holds them.
  const std::vector<std::vector<std::string>> steps = {
      {ip, "link", "add", kHostVeth, "netns", host_, "type", "veth", "peer", "name", kDeviceVeth,
       "netns", devices_},
      {ip, "-n", host_, "link", "set", "lo", "up"},
      {ip, "-n", host_, "address", "add", std::string(kHostAddress) + "/24", "dev", kHostVeth},
      {ip, "-n", host_, "link", "set", kHostVeth, "up"},
      {ip, "-n", host_, "route", "add", "default", "dev", kHostVeth},
      {ip, "-n", devices_, "link", "set", "lo", "up"},
      {ip, "-n", devices_, "link", "set", kDeviceVeth, "up"},
      {ip, "-n", devices_, "route", "add", "default", "dev", kDeviceVeth},
  };
  for (const auto& step : steps) {
    if (!Command(step)) {
      *why = "cannot set up the lab: " + step[1] + " " + step[2] + " " + step[3] + " ...";
      return false;
    }
  }
  return true;
}

bool NetnsLab::AddDeviceAddress(const std::string& cidr) {
  return made_ && Command({IpTool(), "-n", devices_, "address", "add", cidr, "dev", kDeviceVeth});
}

bool NetnsLab::AddHostName(const std::string& address, const std::string& name) {
  const fs::path folder = fs::path("/etc/netns") / host_;
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::ofstream hosts(folder / "hosts", std::ios::app);
  hosts << "127.0.0.1 localhost\n" << address << " " << name << "\n";
  return static_cast<bool>(hosts);
}

std::vector<std::string> NetnsLab::InLab(const std::string& ns, const std::string& program,
                                         const std::vector<std::string>& args) const {
  std::vector<std::string> line = {"netns", "exec", ns, Guard(), ns, OwnNamespace(), program};
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

std::vector<std::string> NetnsLab::HostCommand(const std::string& program,
                                               const std::vector<std::string>& args) const {
  std::vector<std::string> line = InLab(host_, program, args);
  line.insert(line.begin(), IpTool());
  return line;
}

e2e::RunResult NetnsLab::RunOnHost(const std::string& program, const std::vector<std::string>& args,
                                   int timeoutSeconds) {
  if (!made_) {
    return {};
  }
  return e2e::RunProgram(IpTool(), InLab(host_, program, args), timeoutSeconds);
}

bool NetnsLab::StartOnDevices(e2e::SimulatorProcess& process, const std::string& program,
                              const std::vector<std::string>& args, const std::string& errorFile) {
  return made_ && process.Start(IpTool(), InLab(devices_, program, args), errorFile);
}

void NetnsLab::Remove() {
  if (!made_) {
    return;
  }
  for (const std::string& name : {host_, devices_}) {
    Command({IpTool(), "netns", "del", name}, true);
    Unregister(name);
    RemoveHostsFolder(name);
  }
  made_ = false;
}

}  // namespace veltr::netns
