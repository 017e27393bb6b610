#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace veltr {

// One change of the display model, as a listener receives it.
struct DisplayChange {
  enum class Kind { Line, PageCleared, PageShown, Title };
  Kind kind = Kind::Line;
  uint32_t page = 0;
  uint32_t line = 0;
  std::string text;  // the whole new line (Line) or the title (Title)
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

  std::string GetLine(uint32_t page, uint32_t line) const;
  Page GetPage(uint32_t page) const;  // a copy, taken under the lock
  uint32_t GetShownPage() const;
  std::string GetTitle() const;

  // Set before any job runs; null drops the notices.
  void SetNotices(IVeltrNotices* notices) { notices_ = notices; }

 private:
  void Notify(const DisplayChange& change);

  mutable std::mutex mutex_;
  uint32_t shownPage_ = 0;
  std::array<Page, kPageCount> pages_{};
  std::string title_;
  IVeltrNotices* notices_ = nullptr;
};

}  // namespace veltr
