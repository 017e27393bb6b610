#pragma once

#include <cstdint>
#include <string>

#include "engine/display.h"

namespace veltr {

// The lines of one display page as a procedure writes them; without a display every call is
// skipped.
class CVeltrPageLines {
 public:
  CVeltrPageLines(IVeltrDisplay* display, uint32_t page) : display_(display), page_(page) {}

  void Set(uint32_t line, const std::string& text) {
    if (display_ != nullptr) {
      display_->SetLine(page_, line, text);
    }
  }
  // A block line: its text and block n of m of the upload it counts.
  void SetProgress(uint32_t line, const std::string& text, const UploadProgress& progress) {
    if (display_ != nullptr) {
      display_->SetProgressLine(page_, line, text, progress);
    }
  }
  // Block n of m for a line whose text does not count them.
  void Progress(uint32_t line, const UploadProgress& progress) {
    if (display_ != nullptr) {
      display_->SetLineProgress(page_, line, progress);
    }
  }
  void Append(uint32_t line, const std::string& text) {
    if (display_ != nullptr) {
      display_->AppendLine(page_, line, text);
    }
  }
  void Clear() {
    if (display_ != nullptr) {
      display_->ClearPage(page_);
    }
  }

 private:
  IVeltrDisplay* display_;
  uint32_t page_;
};

}  // namespace veltr
