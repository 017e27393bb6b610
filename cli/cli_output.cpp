#include "cli/cli_output.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "protocol/device_types.h"
#include "transport/device_identity.h"

namespace veltr::cli {
namespace {

constexpr int kBarWidth = 30;

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return "information";
    case MessageIcon::Question:
      return "question";
    case MessageIcon::Exclamation:
      return "exclamation";
    case MessageIcon::Stop:
      return "stop";
    case MessageIcon::None:
      break;
  }
  return "none";
}

const char* KindName(DisplayChange::Kind kind) {
  switch (kind) {
    case DisplayChange::Kind::Line:
      return "line";
    case DisplayChange::Kind::PageCleared:
      return "page-cleared";
    case DisplayChange::Kind::PageShown:
      return "page-shown";
    case DisplayChange::Kind::Title:
      return "title";
  }
  return "line";
}

const char* StepName(UploadStep step) {
  switch (step) {
    case UploadStep::Logic:
      return "logic";
    case UploadStep::Processor:
      return "processor";
    case UploadStep::Bios:
      return "bios";
    case UploadStep::UpgradeCode:
      return "upgrade-code";
    case UploadStep::None:
      break;
  }
  return "none";
}

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  out += text;
}

// Length of the UTF-8 sequence at pos and its code point; 0 when the bytes there are not UTF-8.
size_t Utf8Sequence(const std::string& s, size_t pos, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  size_t length = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > s.size()) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(s[pos + i]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string TerminalSafe(const std::string& text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    const size_t length = Utf8Sequence(text, pos, cp);
    if (length == 0) {
      AppendEscape(out, "\\x%02x", static_cast<unsigned char>(text[pos]));
      ++pos;
      continue;
    }
    if ((cp < 0x20 && !(cp == '\n' && keepLineBreaks)) || cp == 0x7F) {
      AppendEscape(out, "\\x%02x", static_cast<unsigned>(cp));
    } else if (cp >= 0x80 && cp < 0xA0) {
      AppendEscape(out, "\\u%04x", static_cast<unsigned>(cp));
    } else {
      out.append(text, pos, length);
    }
    pos += length;
  }
  return out;
}

CliOutput::CliOutput(std::FILE* out, bool terminal, bool json)
    : out_(out), terminal_(terminal && !json), json_(json) {}

void CliOutput::Emit(const std::string& jsonLine) {
  Print(jsonLine + "\n");
}

void CliOutput::Display(const DisplayChange& change) {
  if (json_) {
    nlohmann::json event = {{"event", KindName(change.kind)}, {"page", change.page}};
    if (change.kind == DisplayChange::Kind::Line) {
      event["line"] = change.line;
    }
    if (change.kind == DisplayChange::Kind::Line || change.kind == DisplayChange::Kind::Title) {
      event["text"] = change.text;
    }
    if (change.progress.Any()) {
      event["step"] = StepName(change.progress.step);
      event["block"] = change.progress.block;
      event["blocks"] = change.progress.blocks;
      event["ended"] = change.progress.ended;
    }
    Emit(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  if (change.kind == DisplayChange::Kind::Line && !change.text.empty()) {
    Line(change);
  }
}

void CliOutput::Line(const DisplayChange& change) {
  if (pending_ && (pending_->page != change.page || pending_->line != change.line)) {
    Flush();
  }
  if (change.progress.Any()) {
    BlockLine(change);
    return;
  }
  // A line that is replaced rather than extended (the cold boot count-down) is kept in a log at
  // each state: what was waited for, and for how long.
  if (pending_ && !terminal_ && !pending_->block && change.text.rfind(pending_->text, 0) != 0) {
    Flush();
  }
  pending_ = Pending{change.page, change.line, change.text, false};
  if (terminal_) {
    Print("\r\033[K" + TerminalSafe(change.text));
  }
}

void CliOutput::BlockLine(const DisplayChange& change) {
  const std::string& text = change.text;
  const uint32_t block = change.progress.block;
  const uint32_t blocks = change.progress.blocks;
  // A line whose text does not count the blocks (the upgrade code's) is printed to a file only
  // in its final form, as before it had progress.
  const bool newText = !pending_ || pending_->text != text;
  pending_ = Pending{change.page, change.line, text, true};
  if (change.progress.ended) {
    Flush();
    lastDecile_ = 0;
    return;
  }
  const uint32_t decile = blocks == 0 ? 10 : block * 10 / blocks;
  if (terminal_) {
    const int filled =
        blocks == 0 ? kBarWidth : static_cast<int>(uint64_t{block} * kBarWidth / blocks);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3u%%",
                  blocks == 0 ? 100u : static_cast<unsigned>(uint64_t{block} * 100 / blocks));
    Print("\r\033[K" + TerminalSafe(text) + " [" + bar + "] " + percent);
  } else if (newText && block < blocks && (block == 1 || decile > lastDecile_)) {
    Print(TerminalSafe(text) + "\n");
  }
  lastDecile_ = block == 1 ? decile : std::max(decile, lastDecile_);
}

void CliOutput::Flush() {
  if (!pending_) {
    return;
  }
  Print((terminal_ ? "\r\033[K" : "") + TerminalSafe(pending_->text) + "\n");
  pending_.reset();
}

// Output that cannot be written (a terminal that was closed, a reader that went away) is dropped:
// the job behind it must run to its end all the same.
void CliOutput::Print(const std::string& text) {
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
  std::clearerr(out_);
}

void CliOutput::Message(const std::string& text, MessageIcon icon) {
  if (json_) {
    Emit(nlohmann::json({{"event", "message"}, {"icon", IconName(icon)}, {"text", text}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  Flush();
  Print(TerminalSafe(text, true) + "\n");
}

void CliOutput::Question(const std::string& text, const std::string& answer) {
  if (json_) {
    Emit(nlohmann::json({{"event", "question"}, {"text", text}, {"answer", answer}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  Flush();
  Print(TerminalSafe(text, true) + "\n-> " + TerminalSafe(answer) + "\n");
}

void CliOutput::Note(const std::string& text) {
  if (json_) {
    Emit(nlohmann::json({{"event", "note"}, {"text", text}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  Flush();
  Print(TerminalSafe(text, true) + "\n");
}

void CliOutput::Result(const std::string& command, int32_t code, const std::string& message) {
  if (json_) {
    Emit(nlohmann::json(
             {{"event", "result"}, {"command", command}, {"code", code}, {"message", message}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  Flush();
}

void CliOutput::FoundDeviceRow(size_t row, const FoundDevice& device, const std::string& text) {
  if (!json_) {
    Note(text);
    return;
  }
  nlohmann::json event = {{"event", "device"},
                          {"row", row},
                          {"status", DeviceStatusText(device.status)},
                          {"statusCode", device.status}};
  // Only a device that answered has a type, mode and serial number to tell.
  if (device.status == kDeviceOk) {
    event["type"] = GetShortName(device.type);
    event["serialNumber"] = device.serialNumber;
    event["mode"] = ModeText(device.mode);
  }
  if (!device.address.empty()) {
    event["address"] = device.address;
  }
  Emit(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace veltr::cli
