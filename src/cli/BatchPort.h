#pragma once
// The batch tool's user port: nothing is ever asked of a person. Message-area lines and message
// boxes are kept in order in a buffer (one port per input file), so that a file's output stays
// together when files are processed in parallel; the buffer is printed later, lines to stdout and
// boxes to stderr as "quelmar-cli: <text>".
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "util/UserPort.h"

namespace quelmar::cli {

// The prefix of everything the tool writes to stderr.
inline constexpr std::string_view kToolName = "quelmar-cli";

// The text on one line: each line break ("\r\n", "\r" or "\n") becomes one blank.
std::string OneLine(std::string_view text);

class BatchPort : public UserPort {
 public:
  enum class Kind {
    Line,         // a message-area line (stdout)
    Message,      // a message box or the tool's own note (stderr, already prefixed)
    Calibration,  // the place where a deferred calibration step's output belongs
  };
  struct Entry {
    Kind kind;
    std::string text;        // Line: the line; Message: the whole stderr line
    size_t calibration = 0;  // Calibration: index of the step
  };

  // With keepLines false, message-area lines are dropped (message boxes are still kept).
  explicit BatchPort(bool keepLines = true) : keepLines_(keepLines) {}

  void AppendLine(std::string_view line) override;
  void ShowMessage(std::string_view text) override;
  // No one can answer: always "No". For the calibration file this means "create a new one".
  bool AskYesNo(std::string_view text) override;
  void ShowSeriousError(std::string_view text) override;
  void ShowErrorReport(std::string_view text) override;
  // No one can pick a file: every dialog is cancelled.
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
  void SetBusyCursor(bool busy) override;

  void SetKeepLines(bool keep) { keepLines_ = keep; }
  // The tool's own note about this file, on stderr like a message box.
  void Note(std::string_view text) { ShowMessage(text); }
  // Marks where the output of calibration step `index` goes.
  void MarkCalibration(size_t index);

  const std::vector<Entry>& Entries() const { return entries_; }
  std::vector<Entry> TakeEntries() { return std::move(entries_); }
  // True when a message-area line beginning with `prefix` was appended from entry `from` on.
  bool HasLineStartingWith(size_t from, std::string_view prefix) const;

 private:
  std::vector<Entry> entries_;
  bool keepLines_;
};

}  // namespace quelmar::cli
