#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

#include "engine/display.h"

namespace veltr {

// One notice as a front end's own thread takes it: a display change or the end of a job.
struct Notice {
  enum class Kind { Display, JobFinished };
  Kind kind = Kind::Display;
  DisplayChange change;
};

// The engine's one channel to its front end: display changes and job-finished notices, first in,
// first out, from the worker to the front end's own thread. Because both kinds go through this one
// queue, a job's finished notice can never overtake its last line. The command line waits in
// Take; a desktop program sets a wake-up that posts one call to its own thread, which then takes
// every notice there is.
class CVeltrNoticeQueue final : public IVeltrNotices {
 public:
  void DisplayChanged(const DisplayChange& change) override;
  void JobFinished() override;

  // Called on the sending thread after every notice, outside the queue's lock. Set before any
  // job runs.
  void SetWakeUp(std::function<void()> wakeUp) { wakeUp_ = std::move(wakeUp); }

  // Waits until a notice is there or the time is up.
  std::optional<Notice> Take(std::chrono::milliseconds timeout);
  std::optional<Notice> TryTake();

 private:
  void Push(Notice notice);

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Notice> notices_;
  std::function<void()> wakeUp_;
};

}  // namespace veltr
