#include "support/ScriptedPort.h"

#include <gtest/gtest.h>

namespace quelmar::testing {

void ScriptedPort::AppendLine(std::string_view line) {
  calls_.push_back({Kind::Line, std::string(line), {}, false});
  if (lineSink) lineSink(std::string(line));
}

void ScriptedPort::ShowMessage(std::string_view text) {
  calls_.push_back({Kind::Message, std::string(text), {}, false});
}

ScriptedPort::Answer ScriptedPort::Next(Kind kind, std::string_view what) {
  if (answers_.empty() || answers_.front().kind != kind) {
    ADD_FAILURE() << "Unexpected request from the program: " << what;
    return {kind, false, std::nullopt};
  }
  Answer a = answers_.front();
  answers_.pop_front();
  return a;
}

bool ScriptedPort::AskYesNo(std::string_view text) {
  calls_.push_back({Kind::Question, std::string(text), {}, false});
  return Next(Kind::Question, text).yes;
}

void ScriptedPort::ShowSeriousError(std::string_view text) {
  calls_.push_back({Kind::SeriousError, std::string(text), {}, false});
}

void ScriptedPort::ShowErrorReport(std::string_view text) {
  calls_.push_back({Kind::ErrorReport, std::string(text), {}, false});
}

std::optional<std::string> ScriptedPort::ChooseOpenFile(const FileDialogRequest& request) {
  calls_.push_back({Kind::OpenDialog, request.title, request, false});
  return Next(Kind::OpenDialog, "open dialog \"" + request.title + "\"").choice;
}

std::optional<std::string> ScriptedPort::ChooseSaveFile(const FileDialogRequest& request) {
  calls_.push_back({Kind::SaveDialog, request.title, request, false});
  return Next(Kind::SaveDialog, "save dialog for \"" + request.fileName + "\"").choice;
}

void ScriptedPort::SetBusyCursor(bool busy) {
  busy_ = busy;
  calls_.push_back({Kind::Busy, {}, {}, busy});
}

std::vector<std::string> ScriptedPort::Texts(Kind kind) const {
  std::vector<std::string> out;
  for (const Call& c : calls_)
    if (c.kind == kind) out.push_back(c.text);
  return out;
}

}  // namespace quelmar::testing
