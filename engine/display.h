#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace veltr {

class UpgradeEngine;

// Which upload a block line counts.
enum class UploadStep { None, Logic, Processor, Bios, UpgradeCode };

// What a progress bar needs beside the text of a block line: block n of m of one upload. The
// line keeps it until it is set again; the text appended to it at the end (" Done", " Failed:
// ...") marks the step ended.
struct UploadProgress {
  UploadStep step = UploadStep::None;
  uint32_t block = 0;
  uint32_t blocks = 0;
  bool ended = false;

  bool Any() const { return step != UploadStep::None; }
};

// One change of the display model, as a listener receives it.
struct DisplayChange {
  enum class Kind { Line, PageCleared, PageShown, Title };
  Kind kind = Kind::Line;
  uint32_t page = 0;
  uint32_t line = 0;
  std::string text;         // the whole new line (Line) or the title (Title)
  UploadProgress progress;  // Line only: the line's progress, if it counts blocks
};

// Receives the engine's notices on the thread that caused them (the worker during a job). A front
// end forwards them to its own thread in the order they came; the job-finished notice of a job
// always comes after every display change the job made.
class IVeltrNotices {
 public:
  virtual ~IVeltrNotices() = default;
  virtual void DisplayChanged(const DisplayChange& change) = 0;
  virtual void JobFinished() = 0;
};

// The text-page model the engine reports into: two pages of 15 lines and a title. Texts are UTF-8.
// The worker replaces lines while a front end reads them on another thread, so every line
// change and every read holds the model's lock: a reader never sees a line half replaced.
// Its changes go out through the notice channel of the engine it is given to (SetDisplay), the
// same channel as the job-finished notice, so a front end cannot split the two.
class IVeltrDisplay {
 public:
  static constexpr uint32_t kPageCount = 2;
  static constexpr uint32_t kLineCount = 15;
  using Page = std::array<std::string, kLineCount>;

  IVeltrDisplay() = default;
  virtual ~IVeltrDisplay() = default;
  IVeltrDisplay(const IVeltrDisplay&) = delete;
  IVeltrDisplay& operator=(const IVeltrDisplay&) = delete;

  virtual bool SetLine(uint32_t page, uint32_t line, const std::string& text);
  virtual bool AppendLine(uint32_t page, uint32_t line, const std::string& text);
  virtual bool ClearPage(uint32_t page);
  virtual void SetTitle(const std::string& text);
  virtual bool ShowPage(uint32_t page);

  // SetLine for a block line: the text and the upload's block n of m.
  bool SetProgressLine(uint32_t page, uint32_t line, const std::string& text,
                       const UploadProgress& progress);
  // New progress for a line whose text stays as it is.
  bool SetLineProgress(uint32_t page, uint32_t line, const UploadProgress& progress);

  std::string GetLine(uint32_t page, uint32_t line) const;
  Page GetPage(uint32_t page) const;  // a copy, taken under the lock
  uint32_t GetShownPage() const;
  std::string GetTitle() const;
  UploadProgress GetProgress(uint32_t page, uint32_t line) const;

 private:
  friend class UpgradeEngine;
  // Only the engine wires the display, to its own notice channel; null drops the notices.
  void SetNotices(IVeltrNotices* notices) { notices_ = notices; }
  void Notify(const DisplayChange& change);

  mutable std::mutex mutex_;
  uint32_t shownPage_ = 0;
  std::array<Page, kPageCount> pages_{};
  std::array<std::array<UploadProgress, kLineCount>, kPageCount> progress_{};
  std::string title_;
  IVeltrNotices* notices_ = nullptr;
};

}  // namespace veltr
