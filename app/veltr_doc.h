#pragma once

#include <QObject>
#include <QString>

#include <atomic>

#include "engine/display.h"

namespace veltr {

class UpgradeEngine;

// The document of the main window: the one display the engine reports into. The engine's notices
// (display changes and job-finished, one first-in-first-out channel filled by the worker) reach
// this object's thread as one queued call per batch and go out from here as signals, in the
// order the worker sent them. The lines themselves stay in the display model; a view reads the
// shown page when it paints.
class CVeltrDoc : public QObject, public IVeltrDisplay {
  Q_OBJECT

 public:
  explicit CVeltrDoc(QObject* parent = nullptr);
  ~CVeltrDoc() override;

  // Becomes the engine's display and the taker of its notices; Detach before either goes.
  void Attach(UpgradeEngine& engine);
  void Detach();

  // Takes every notice there is now, on this object's thread. The queued wake-up calls it; a test
  // may call it to settle the window at once.
  void TakeNotices();

 signals:
  // A line, a cleared page or the shown page changed; views repaint.
  void DisplayUpdated();
  // A block line changed: block n of m of the named step, or the step ended.
  void ProgressChanged(const veltr::UploadProgress& progress);
  void TitleChanged(const QString& title);
  // Behind the job's last display change: the job end handler runs now.
  void JobFinished();

 private:
  void PostWakeUp();

  UpgradeEngine* engine_ = nullptr;
  // One queued call at a time is enough: the call takes everything that is there.
  std::atomic<bool> wakeUpPending_{false};
};

}  // namespace veltr
