#include "engine/notice_queue.h"

#include <utility>

namespace veltr {

void CVeltrNoticeQueue::DisplayChanged(const DisplayChange& change) {
  Push({Notice::Kind::Display, change});
}

void CVeltrNoticeQueue::JobFinished() {
  Push({Notice::Kind::JobFinished, DisplayChange{}});
}

void CVeltrNoticeQueue::Push(Notice notice) {
  {
    std::lock_guard lock(mutex_);
    notices_.push_back(std::move(notice));
  }
  ready_.notify_one();
  if (wakeUp_) {
    wakeUp_();
  }
}

std::optional<Notice> CVeltrNoticeQueue::Take(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, timeout, [this] { return !notices_.empty(); })) {
    return std::nullopt;
  }
  Notice notice = std::move(notices_.front());
  notices_.pop_front();
  return notice;
}

std::optional<Notice> CVeltrNoticeQueue::TryTake() {
  return Take(std::chrono::milliseconds(0));
}

}  // namespace veltr
