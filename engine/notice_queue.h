#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "engine/display.h"

namespace veltr {

// One notice as a front end's own thread takes it: a display change or the end of a job.
struct Notice {
  enum class Kind { Display, JobFinished };
  Kind kind = Kind::Display;
  DisplayChange change;
};

// Hands the engine's notices from the worker to a waiting thread, first in, first out: the
// command line's and the tests' stand-in for the desktop program's queued signals.
class CVeltrNoticeQueue final : public IVeltrNotices {
 public:
  void DisplayChanged(const DisplayChange& change) override;
  void JobFinished() override;

  // Waits until a notice is there or the time is up.
  std::optional<Notice> Take(std::chrono::milliseconds timeout);
  std::optional<Notice> TryTake();

 private:
  void Push(Notice notice);

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Notice> notices_;
};

}  // namespace veltr
