#pragma once
// The validation logic of a numeric entry box, without any toolkit in it. The widget owns one
// of these, feeds every text change into SetText and asks it for the value. Validation is lazy:
// it runs when a value is requested (or ValidateEntry is called) and the text changed since the
// last run.
#include <cstdint>
#include <functional>
#include <string>

#include "util/Numbers.h"
#include "util/UserPort.h"

namespace quelmar {

enum class TInputType : uint8_t { tInteger = 0, tExtended = 1 };

class NumericEntry {
 public:
  NumericEntry();  // text "0", tExtended, nothing validated, no limits in force;
                   // also calls SetProcessNumberFormat() (period, no grouping)
  // Where the messages go (required before validation; a message with no port set throws
  // std::logic_error).
  void SetPort(UserPort* port);
  const std::string& Text() const;
  // Every change of the box's text, typed or set by the program, ends here: clears Validated.
  void SetText(const std::string& text);
  // Called when validation writes the trimmed text back into the box (the widget sets its
  // text, which comes back through SetText). Not called when trimming changes nothing.
  std::function<void(const std::string&)> OnTextWrittenBack;
  TInputType InputType() const;
  void SetInputType(TInputType type);
  const std::string& InputFormatString() const;
  void SetInputFormatString(const std::string& s);
  const std::string& InputMin() const;
  void SetInputMin(const std::string& s);
  const std::string& InputMax() const;
  void SetInputMax(const std::string& s);
  bool MinValid() const { return minValid_; }
  bool MaxValid() const { return maxValid_; }
  bool EntryValid() const { return entryValid_; }
  bool Validated() const { return validated_; }
  int32_t IntValue() const { return intValue_; }
  Real ExtValue() const { return extValue_; }
  Real MinValue() const { return minValue_; }
  Real MaxValue() const { return maxValue_; }
  void ValidateEntry();
  int32_t GetIntegerValue();
  Real GetExtendedValue();
  // Only for tests and for an out-of-range stored type: sets the raw type byte.
  void SetRawInputType(uint8_t raw);

 private:
  UserPort& Port() const;
  void ValidateInteger(const std::string& trimmed);
  void ValidateExtended(const std::string& trimmed);
  std::string LimitText(Real limit) const;

  UserPort* port_ = nullptr;
  std::string text_ = "0";
  uint8_t rawType_ = static_cast<uint8_t>(TInputType::tExtended);
  std::string formatString_;
  std::string minText_;
  std::string maxText_;
  bool minValid_ = false;
  bool maxValid_ = false;
  bool entryValid_ = false;
  bool validated_ = false;
  int32_t intValue_ = 0;
  Real extValue_ = 0;
  Real minValue_ = 0;
  Real maxValue_ = 0;
};

}  // namespace quelmar
