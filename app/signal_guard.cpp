#include "app/signal_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace veltr {
namespace {

// The handler may only write: the number goes through a socket pair to the GUI thread.
int g_signalWriteEnd = -1;
constexpr int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  (void)!write(g_signalWriteEnd, &number, 1);
  errno = saved;
}

int g_readEnd = -1;

}  // namespace

CVeltrSignalGuard::CVeltrSignalGuard(QObject* parent) : QObject(parent) {
  if (g_signalWriteEnd >= 0) {
    return;  // another guard has them
  }
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
    return;
  }
  g_signalWriteEnd = pair[0];
  g_readEnd = pair[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : kGuardedSignals) {
    sigaction(signal, &action, nullptr);
  }
  notifier_ = std::make_unique<QSocketNotifier>(g_readEnd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &CVeltrSignalGuard::OnReadable);
}

CVeltrSignalGuard::~CVeltrSignalGuard() {
  if (notifier_ == nullptr) {
    return;
  }
  notifier_.reset();
  for (int signal : kGuardedSignals) {
    ::signal(signal, SIG_DFL);
  }
  close(g_signalWriteEnd);
  close(g_readEnd);
  g_signalWriteEnd = -1;
  g_readEnd = -1;
}

void CVeltrSignalGuard::OnReadable() {
  unsigned char number = 0;
  while (read(g_readEnd, &number, 1) == 1) {
    emit QuitRequested(number);
  }
}

}  // namespace veltr
