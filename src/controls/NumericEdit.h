#pragma once
// TNumericEdit: a single-line entry box that holds one number (a 32-bit integer or an extended
// real) with optional limits. The validation itself lives in quelmar::NumericEntry; this widget
// feeds it every text change and shows the trimmed text it writes back.
#include <QLineEdit>
#include <cstdint>
#include <string>

#include "controls/NumericEntry.h"

class TNumericEdit : public QLineEdit {
  Q_OBJECT
 public:
  // Height 21, width 71, text "0", tExtended, no limits in force.
  explicit TNumericEdit(QWidget* parent = nullptr);

  // Where the field's messages go; must be set before a value is requested.
  void SetPort(quelmar::UserPort* port) { entry_.SetPort(port); }

  quelmar::TInputType InputType() const { return entry_.InputType(); }
  void SetInputType(quelmar::TInputType type) { entry_.SetInputType(type); }
  const std::string& InputFormatString() const { return entry_.InputFormatString(); }
  void SetInputFormatString(const std::string& s) { entry_.SetInputFormatString(s); }
  const std::string& InputMin() const { return entry_.InputMin(); }
  void SetInputMin(const std::string& s) { entry_.SetInputMin(s); }
  const std::string& InputMax() const { return entry_.InputMax(); }
  void SetInputMax(const std::string& s) { entry_.SetInputMax(s); }

  // The text as the entry logic sees it (the box's text).
  const std::string& EntryText() const { return entry_.Text(); }
  void SetEntryText(const std::string& text);

  void ValidateEntry() { entry_.ValidateEntry(); }
  // The validated value (messages and substitutes as the entry logic decides).
  int32_t GetIntegerValue() { return entry_.GetIntegerValue(); }
  quelmar::Real GetExtendedValue() { return entry_.GetExtendedValue(); }

  const quelmar::NumericEntry& Entry() const { return entry_; }

 private:
  quelmar::NumericEntry entry_;
};
