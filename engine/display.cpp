#include "engine/display.h"

namespace veltr {

bool IVeltrDisplay::SetLine(uint32_t page, uint32_t line, const std::string& text) {
  return SetProgressLine(page, line, text, {});
}

bool IVeltrDisplay::SetProgressLine(uint32_t page, uint32_t line, const std::string& text,
                                    const UploadProgress& progress) {
  if (page >= kPageCount || line >= kLineCount) {
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    pages_[page][line] = text;
    progress_[page][line] = progress;
  }
  Notify({DisplayChange::Kind::Line, page, line, text, progress});
  return true;
}

bool IVeltrDisplay::SetLineProgress(uint32_t page, uint32_t line, const UploadProgress& progress) {
  if (page >= kPageCount || line >= kLineCount) {
    return false;
  }
  std::string whole;
  {
    std::lock_guard lock(mutex_);
    progress_[page][line] = progress;
    whole = pages_[page][line];
  }
  Notify({DisplayChange::Kind::Line, page, line, whole, progress});
  return true;
}

bool IVeltrDisplay::AppendLine(uint32_t page, uint32_t line, const std::string& text) {
  if (page >= kPageCount || line >= kLineCount) {
    return false;
  }
  std::string whole;
  UploadProgress progress;
  {
    std::lock_guard lock(mutex_);
    pages_[page][line] += text;
    whole = pages_[page][line];
    // What is appended to a block line is its result: the step has ended.
    progress_[page][line].ended = progress_[page][line].Any();
    progress = progress_[page][line];
  }
  Notify({DisplayChange::Kind::Line, page, line, whole, progress});
  return true;
}

bool IVeltrDisplay::ClearPage(uint32_t page) {
  if (page >= kPageCount) {
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    for (auto& line : pages_[page]) {
      line.clear();
    }
    progress_[page].fill({});
  }
  Notify({DisplayChange::Kind::PageCleared, page, 0, {}, {}});
  return true;
}

void IVeltrDisplay::SetTitle(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    title_ = text;
  }
  Notify({DisplayChange::Kind::Title, 0, 0, text, {}});
}

bool IVeltrDisplay::ShowPage(uint32_t page) {
  if (page >= kPageCount) {
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    shownPage_ = page;
  }
  Notify({DisplayChange::Kind::PageShown, page, 0, {}, {}});
  return true;
}

std::string IVeltrDisplay::GetLine(uint32_t page, uint32_t line) const {
  if (page >= kPageCount || line >= kLineCount) {
    return {};
  }
  std::lock_guard lock(mutex_);
  return pages_[page][line];
}

IVeltrDisplay::Page IVeltrDisplay::GetPage(uint32_t page) const {
  if (page >= kPageCount) {
    return {};
  }
  std::lock_guard lock(mutex_);
  return pages_[page];
}

uint32_t IVeltrDisplay::GetShownPage() const {
  std::lock_guard lock(mutex_);
  return shownPage_;
}

std::string IVeltrDisplay::GetTitle() const {
  std::lock_guard lock(mutex_);
  return title_;
}

UploadProgress IVeltrDisplay::GetProgress(uint32_t page, uint32_t line) const {
  if (page >= kPageCount || line >= kLineCount) {
    return {};
  }
  std::lock_guard lock(mutex_);
  return progress_[page][line];
}

void IVeltrDisplay::Notify(const DisplayChange& change) {
  if (notices_ != nullptr) {
    notices_->DisplayChanged(change);
  }
}

}  // namespace veltr
