#include "cli/cli_output.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

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

}  // namespace

bool ParseBlockLine(const std::string& text, uint32_t& block, uint32_t& blocks, bool& finished) {
  static const std::string kHead = "   Uploading ";
  static const std::string kTail = " ...";
  if (text.rfind(kHead, 0) != 0) {
    return false;
  }
  unsigned a = 0;
  unsigned b = 0;
  int consumed = 0;
  if (std::sscanf(text.c_str() + kHead.size(), "%u block of %u ...%n", &a, &b, &consumed) != 2 ||
      consumed == 0) {
    return false;
  }
  block = a;
  blocks = b;
  finished = kHead.size() + static_cast<size_t>(consumed) < text.size();
  return true;
}

CliOutput::CliOutput(std::FILE* out, bool terminal, bool json)
    : out_(out), terminal_(terminal && !json), json_(json) {}

void CliOutput::Emit(const std::string& jsonLine) {
  std::fprintf(out_, "%s\n", jsonLine.c_str());
  std::fflush(out_);
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
    Emit(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  if (change.kind == DisplayChange::Kind::Line && !change.text.empty()) {
    Line(change.page, change.line, change.text);
  }
}

void CliOutput::Line(uint32_t page, uint32_t line, const std::string& text) {
  uint32_t block = 0;
  uint32_t blocks = 0;
  bool finished = false;
  if (pending_ && (pending_->page != page || pending_->line != line)) {
    Flush();
  }
  if (ParseBlockLine(text, block, blocks, finished)) {
    BlockLine(page, line, text, block, blocks, finished);
    return;
  }
  pending_ = Pending{page, line, text};
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s", text.c_str());
    std::fflush(out_);
  }
}

void CliOutput::BlockLine(uint32_t page, uint32_t line, const std::string& text, uint32_t block,
                          uint32_t blocks, bool finished) {
  pending_ = Pending{page, line, text};
  if (finished) {
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
    std::fprintf(out_, "\r\033[K%s [%s] %3u%%", text.c_str(), bar.c_str(),
                 blocks == 0 ? 100u : static_cast<unsigned>(uint64_t{block} * 100 / blocks));
    std::fflush(out_);
  } else if (block < blocks && (block == 1 || decile > lastDecile_)) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
  }
  lastDecile_ = block == 1 ? decile : std::max(decile, lastDecile_);
}

void CliOutput::Flush() {
  if (!pending_) {
    return;
  }
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s\n", pending_->text.c_str());
  } else {
    std::fprintf(out_, "%s\n", pending_->text.c_str());
  }
  std::fflush(out_);
  pending_.reset();
}

void CliOutput::Message(const std::string& text, MessageIcon icon) {
  if (json_) {
    Emit(nlohmann::json({{"event", "message"}, {"icon", IconName(icon)}, {"text", text}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  Flush();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void CliOutput::Question(const std::string& text, const std::string& answer) {
  if (json_) {
    Emit(nlohmann::json({{"event", "question"}, {"text", text}, {"answer", answer}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  Flush();
  std::fprintf(out_, "%s\n-> %s\n", text.c_str(), answer.c_str());
  std::fflush(out_);
}

void CliOutput::Note(const std::string& text) {
  if (json_) {
    Emit(nlohmann::json({{"event", "note"}, {"text", text}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return;
  }
  Flush();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
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

}  // namespace veltr::cli
