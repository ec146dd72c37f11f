#pragma once
// The one way the core talks to the user. The window implements it with Qt, the tests with a
// scripted fake, the batch tool without any interaction.
#include <optional>
#include <string>
#include <string_view>

namespace quelmar {

struct FileDialogRequest {
  std::string title;
  // Filter in the "description|pattern|description|pattern" form, e.g. "*.IMG|*.IMG".
  std::string filter;
  std::string initialFolder;
  std::string fileName;  // preset name (may be a full path)
};

class UserPort {
 public:
  virtual ~UserPort() = default;

  // One line at the end of the message area (an empty text adds an empty line).
  virtual void AppendLine(std::string_view line) = 0;
  // Modal box with the text, caption "Quelmar" and an OK button.
  virtual void ShowMessage(std::string_view text) = 0;
  // Modal confirmation box (question icon) with Yes and No; true for Yes.
  virtual bool AskYesNo(std::string_view text) = 0;
  // System beep, then a modal error box with OK and Cancel; which button is pressed does not matter.
  virtual void ShowSeriousError(std::string_view text) = 0;
  // The top-level report of a run-time error that ended a command: one error box with the text.
  virtual void ShowErrorReport(std::string_view text) = 0;
  // Open-file dialog; never changes the process's current folder. Empty when cancelled.
  virtual std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) = 0;
  // Picture save dialog that asks before overwriting; only the proposed name is preset.
  virtual std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) = 0;
  // Busy (hourglass) cursor on or off; use BusyCursor rather than calling this directly.
  virtual void SetBusyCursor(bool busy) = 0;
};

// Shows the busy cursor for a scope and restores the default cursor on every way out.
class BusyCursor {
 public:
  explicit BusyCursor(UserPort& port) : port_(port) { port_.SetBusyCursor(true); }
  ~BusyCursor() { port_.SetBusyCursor(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  UserPort& port_;
};

}  // namespace quelmar
