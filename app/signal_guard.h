#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace veltr {

// SIGINT, SIGTERM and SIGHUP (a terminal that closes, a session that ends without asking) reach the
// GUI thread as a signal of this object instead of ending the program at once: an upload cut short
// leaves a device that does not start. One guard per process.
class CVeltrSignalGuard : public QObject {
  Q_OBJECT

 public:
  explicit CVeltrSignalGuard(QObject* parent = nullptr);
  ~CVeltrSignalGuard() override;

  bool Installed() const { return notifier_ != nullptr; }

 signals:
  void QuitRequested(int signal);

 private:
  void OnReadable();

  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace veltr
