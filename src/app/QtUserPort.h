#pragma once
// The user port of the window: message lines go to the message area, messages and questions to
// modal message boxes, dialogs to the toolkit's file dialogs.
#include <QPlainTextEdit>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>
#include <string_view>

#include "util/UserPort.h"

namespace quelmar {

class QtUserPort : public UserPort {
 public:
  // `dialogParent` owns the modal boxes; `messageArea` receives the message lines (either may
  // be null: lines are then dropped, boxes have no parent).
  QtUserPort(QWidget* dialogParent, QPlainTextEdit* messageArea);
  ~QtUserPort() override;

  void AppendLine(std::string_view line) override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  void ShowSeriousError(std::string_view text) override;
  void ShowErrorReport(std::string_view text) override;
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
  void SetBusyCursor(bool busy) override;

  bool BusyCursorShown() const { return busy_; }

 private:
  QPointer<QWidget> parent_;
  QPointer<QPlainTextEdit> memo_;
  bool busy_ = false;
};

// Texts of the core as the toolkit shows them: valid UTF-8 as such, any other byte string as
// Latin-1 (a label may hold such bytes), so that no byte is lost or garbled silently.
QString ToQString(std::string_view text);
// The same, with the core's line breaks ("\r\n" or a lone "\r") turned into "\n" for display.
QString DisplayText(std::string_view text);
// "description|pattern|description|pattern" as the toolkit's "description (pattern);;..."; a
// pattern list separated by ";" becomes a blank-separated list.
QString DialogFilter(std::string_view filter);
// Where a file dialog starts: the preset name (in the initial folder unless it carries a
// folder of its own), else the initial folder.
QString DialogStart(const FileDialogRequest& request);

}  // namespace quelmar
