#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/display.h"
#include "engine/jobs.h"

namespace veltr::cli {

// Prints what the engine reports: the display lines as they change, the messages of the job end,
// and the final result. On a terminal a line is shown at once and redrawn in place while it grows
// (the search lines, the cold boot count-down), and the lines that count the blocks of an upload
// get a progress bar; into a file or pipe every line is printed in its final form, with block
// progress every tenth, and a line that is replaced by another text (not extended) is printed
// before each replacement. Display texts are printed with their control characters made visible
// (TerminalSafe). With json, every event is one JSON object on a line of its own.
class CliOutput {
 public:
  CliOutput(std::FILE* out, bool terminal, bool json);

  void Display(const DisplayChange& change);
  void Message(const std::string& text, MessageIcon icon);
  void Question(const std::string& text, const std::string& answer);
  void Note(const std::string& text);  // the front end's own words, not the system's
  void Result(const std::string& command, int32_t code, const std::string& message);
  // One device of a listing: row is its place in the list, from 1; text its line on a terminal.
  void FoundDeviceRow(size_t row, const FoundDevice& device, const std::string& text);
  // Ends a line still being drawn, so that the next output starts on a line of its own.
  void Flush();

  bool Terminal() const { return terminal_; }
  bool Json() const { return json_; }

 private:
  struct Pending {
    uint32_t page;
    uint32_t line;
    std::string text;
    bool block;  // an "Uploading n block of m" line
  };
  void Line(const DisplayChange& change);
  void BlockLine(const DisplayChange& change);
  void Emit(const std::string& jsonLine);
  void Print(const std::string& text);

  std::FILE* out_;
  bool terminal_;
  bool json_;
  std::optional<Pending> pending_;
  uint32_t lastDecile_ = 0;
};

// text with every control character written visibly (ESC as \x1b, a C1 control as \u009b, a
// byte that is not UTF-8 as \xff), so that a device or package text cannot move the cursor, change
// colours or retitle the terminal it is shown on. Line breaks stay when keepLineBreaks is set: the
// system's own messages have several lines.
std::string TerminalSafe(const std::string& text, bool keepLineBreaks = false);

}  // namespace veltr::cli
