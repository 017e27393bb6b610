// What the updater needs from its window: thirteen status lines, a caption, the menus and buttons
// switched on and off, the run-time's message box and text input box, and a chance for the window
// to handle its events while the updater waits on the line.
#pragma once

#include <optional>
#include <string>

namespace su {

enum class BoxButtons { kOk, kOkCancel, kYesNoCancel };
enum class BoxIcon { kNone, kQuestion, kCritical };
enum class BoxAnswer { kOk, kCancel, kYes, kNo };

// Texts use a carriage return between lines, as the run-time's message box does.
struct MessageBox {
  std::string title;
  std::string text;
  BoxButtons buttons = BoxButtons::kOk;
  BoxIcon icon = BoxIcon::kNone;
  int defaultButton = 1;  // 1 = the first button
};

// Texts are 8-bit texts in the ANSI code page (Latin-1 here).
class IUpdaterView {
 public:
  virtual ~IUpdaterView() = default;
  virtual void ShowLine(int line, const std::string& text) = 0;  // 1 to 13
  virtual void ShowCaption(const std::string& caption) = 0;
  virtual void EnableControls(bool enabled) = 0;
  virtual BoxAnswer Ask(const MessageBox& box) = 0;
  // The text the user entered; nothing on Cancel.
  virtual std::optional<std::string> Input(const std::string& title, const std::string& prompt,
                                           const std::string& preset) = 0;
  // Runs the window's pending events and returns; never blocks.
  virtual void ProcessEvents() = 0;
  // The program ends once the current handler has returned.
  virtual void Quit() = 0;
};

}  // namespace su
