#pragma once
// A user port for tests: records every call in order and answers questions and dialogs from a
// script. Anything asked that the script did not expect fails the test.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "util/UserPort.h"

namespace quelmar::testing {

class ScriptedPort : public UserPort {
 public:
  enum class Kind { Line, Message, Question, SeriousError, ErrorReport, OpenDialog, SaveDialog, Busy };
  struct Call {
    Kind kind;
    std::string text;           // line, message, question, error text, or dialog title
    FileDialogRequest request;  // dialogs only
    bool busy = false;          // Busy only
  };

  // Script: answers are consumed in order by the kind that asks.
  void ExpectQuestion(bool yes) { answers_.push_back({Kind::Question, yes, {}}); }
  void ExpectOpenDialog(std::optional<std::string> choice) {
    answers_.push_back({Kind::OpenDialog, false, std::move(choice)});
  }
  void ExpectSaveDialog(std::optional<std::string> choice) {
    answers_.push_back({Kind::SaveDialog, false, std::move(choice)});
  }
  bool ScriptDone() const { return answers_.empty(); }

  // Every message-area line also goes here, if set (the window's tests mirror them into Memo1).
  std::function<void(const std::string&)> lineSink;

  void AppendLine(std::string_view line) override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  void ShowSeriousError(std::string_view text) override;
  void ShowErrorReport(std::string_view text) override;
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
  void SetBusyCursor(bool busy) override;

  const std::vector<Call>& Calls() const { return calls_; }
  // Texts of the calls of one kind, in order.
  std::vector<std::string> Texts(Kind kind) const;
  std::vector<std::string> Lines() const { return Texts(Kind::Line); }
  std::vector<std::string> Messages() const { return Texts(Kind::Message); }
  std::vector<std::string> ErrorReports() const { return Texts(Kind::ErrorReport); }
  std::vector<std::string> SeriousErrors() const { return Texts(Kind::SeriousError); }
  // True when the busy cursor is off now (every busy scope was closed).
  bool CursorRestored() const { return !busy_; }
  void Clear() { calls_.clear(); }

 private:
  struct Answer {
    Kind kind;
    bool yes;
    std::optional<std::string> choice;
  };
  Answer Next(Kind kind, std::string_view what);

  std::vector<Call> calls_;
  std::deque<Answer> answers_;
  bool busy_ = false;
};

}  // namespace quelmar::testing
