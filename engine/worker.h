#pragma once

#include <functional>
#include <thread>

namespace veltr {

// The one worker thread of a job. A thread cannot be killed safely, so whoever ends a job waits
// for it: Wait() joins, and the destructor waits too.
class CVeltrWorker {
 public:
  CVeltrWorker() = default;
  ~CVeltrWorker();
  CVeltrWorker(const CVeltrWorker&) = delete;
  CVeltrWorker& operator=(const CVeltrWorker&) = delete;

  // Runs routine on a new thread. False when a thread still has to be waited for, or when no
  // thread could be created.
  bool Start(std::function<void()> routine);
  // Waits for the thread to end; returns at once when there is none.
  void Wait();
  bool HasThread() const { return thread_.joinable(); }

 private:
  std::thread thread_;
};

}  // namespace veltr
