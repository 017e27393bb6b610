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

}  // namespace

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
  pending_ = Pending{change.page, change.line, change.text};
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s", change.text.c_str());
    std::fflush(out_);
  }
}

void CliOutput::BlockLine(const DisplayChange& change) {
  const std::string& text = change.text;
  const uint32_t block = change.progress.block;
  const uint32_t blocks = change.progress.blocks;
  // A line whose text does not count the blocks (the upgrade code's) is printed to a file only
  // in its final form, as before it had progress.
  const bool newText = !pending_ || pending_->text != text;
  pending_ = Pending{change.page, change.line, text};
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
    std::fprintf(out_, "\r\033[K%s [%s] %3u%%", text.c_str(), bar.c_str(),
                 blocks == 0 ? 100u : static_cast<unsigned>(uint64_t{block} * 100 / blocks));
    std::fflush(out_);
  } else if (newText && block < blocks && (block == 1 || decile > lastDecile_)) {
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
