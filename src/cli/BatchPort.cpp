#include "cli/BatchPort.h"

namespace quelmar::cli {

std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.push_back(' ');
    } else if (c == '\n') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void BatchPort::AppendLine(std::string_view line) {
  if (keepLines_) entries_.push_back({Kind::Line, std::string(line)});
}

void BatchPort::ShowMessage(std::string_view text) {
  entries_.push_back({Kind::Message, std::string(kToolName) + ": " + OneLine(text)});
}

bool BatchPort::AskYesNo(std::string_view) {
  return false;
}

void BatchPort::ShowSeriousError(std::string_view text) {
  ShowMessage(text);
}

void BatchPort::ShowErrorReport(std::string_view text) {
  ShowMessage(text);
}

std::optional<std::string> BatchPort::ChooseOpenFile(const FileDialogRequest&) {
  return std::nullopt;
}

std::optional<std::string> BatchPort::ChooseSaveFile(const FileDialogRequest&) {
  return std::nullopt;
}

void BatchPort::SetBusyCursor(bool) {}

void BatchPort::MarkCalibration(size_t index) {
  entries_.push_back({Kind::Calibration, std::string(), index});
}

bool BatchPort::HasLineStartingWith(size_t from, std::string_view prefix) const {
  for (size_t i = from; i < entries_.size(); ++i) {
    if (entries_[i].kind == Kind::Line && entries_[i].text.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace quelmar::cli
