#include "controls/NumericEntry.h"

#include <cmath>
#include <stdexcept>

#include "util/Errors.h"
#include "util/WinOps.h"

namespace quelmar {

namespace {

// Text of a limit taken to the nearest integer, for the integer range message. Limits that do
// not fit in 64 bits (or are infinite) keep their general form ("inf", "1e+20").
std::string RoundedLimitText(Real limit) {
  const Real r = Round(limit);
  if (std::isfinite(r) && std::fabs(r) < 1e18L) return FormatInt(static_cast<int64_t>(r));
  return FormatG3(r);
}

// A limit of an integer field taken to the nearest integer, as the substitute value.
int32_t RoundedLimit(Real limit) {
  const Real r = Round(limit);
  if (!(r >= static_cast<Real>(INT32_MIN) && r <= static_cast<Real>(INT32_MAX))) {
    throw RangeError("The limit " + FormatG3(limit) +
                     " of an integer entry field does not fit in a 32-bit integer");
  }
  return static_cast<int32_t>(r);
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

NumericEntry::NumericEntry() {
  SetProcessNumberFormat();
}

void NumericEntry::SetPort(UserPort* port) {
  port_ = port;
}

UserPort& NumericEntry::Port() const {
  if (port_ == nullptr) {
    throw std::logic_error("Numeric entry field has no user port for its messages");
  }
  return *port_;
}

const std::string& NumericEntry::Text() const {
  return text_;
}

void NumericEntry::SetText(const std::string& text) {
  text_ = text;
  validated_ = false;
}

TInputType NumericEntry::InputType() const {
  return static_cast<TInputType>(rawType_);
}

// Changing the kind does not clear Validated: the new kind is used at the next validation.
void NumericEntry::SetInputType(TInputType type) {
  rawType_ = static_cast<uint8_t>(type);
}

void NumericEntry::SetRawInputType(uint8_t raw) {
  rawType_ = raw;
}

const std::string& NumericEntry::InputFormatString() const {
  return formatString_;
}
void NumericEntry::SetInputFormatString(const std::string& s) {
  formatString_ = s;
}

const std::string& NumericEntry::InputMin() const {
  return minText_;
}
const std::string& NumericEntry::InputMax() const {
  return maxText_;
}

// A limit keeps its last valid text; an invalid one switches the range test off until both
// limits are valid again. Validated is left alone: new limits apply from the next validation.
void NumericEntry::SetInputMin(const std::string& s) {
  const RealParse parsed = ParseReal(s);
  minValue_ = parsed.value;
  minValid_ = parsed.ok();
  if (minValid_) {
    minText_ = s;
  } else {
    Port().ShowMessage("The MinString " + Quoted(s) + " is not a valid number");
  }
}

void NumericEntry::SetInputMax(const std::string& s) {
  const RealParse parsed = ParseReal(s);
  maxValue_ = parsed.value;
  maxValid_ = parsed.ok();
  if (maxValid_) {
    maxText_ = s;
  } else {
    Port().ShowMessage("The MaxString " + Quoted(s) + " is not a valid number");
  }
}

void NumericEntry::ValidateEntry() {
  // The box shows the trimmed text from now on. Its change notice clears Validated, which is
  // why Validated is set only at the very end.
  const std::string trimmed = TrimBlanks(text_);
  if (trimmed != text_) {
    text_ = trimmed;
    if (OnTextWrittenBack) OnTextWrittenBack(trimmed);
  }
  entryValid_ = true;
  switch (rawType_) {
    case static_cast<uint8_t>(TInputType::tInteger):
      ValidateInteger(trimmed);
      break;
    case static_cast<uint8_t>(TInputType::tExtended):
      ValidateExtended(trimmed);
      break;
    default:
      Port().ShowMessage("Attempting to validate unknown type");
      entryValid_ = false;
      break;
  }
  validated_ = true;
}

void NumericEntry::ValidateInteger(const std::string& trimmed) {
  const Int32Parse parsed = ParseInt32(trimmed);
  if (!parsed.ok()) {
    entryValid_ = false;
    intValue_ = 0;
    Port().ShowMessage(Quoted(trimmed) + " is not a valid integer; error at position " +
                       FormatInt(parsed.errorPosition));
    return;
  }
  intValue_ = parsed.value;
  if (!(minValid_ && maxValid_)) return;
  const Real value = intValue_;
  if (minValue_ > value || value > maxValue_) {
    entryValid_ = false;
    Port().ShowMessage("Entry must be between " + RoundedLimitText(minValue_) + " and " +
                       RoundedLimitText(maxValue_));
    // A limit that does not fit cannot be substituted: leave a plain 0 and the field
    // unvalidated, so every request reports the problem again instead of using a stale value.
    intValue_ = 0;
    intValue_ = RoundedLimit(value <= maxValue_ ? minValue_ : maxValue_);
  }
}

void NumericEntry::ValidateExtended(const std::string& trimmed) {
  // A comma counts as the decimal separator; it is swapped one for one, so error positions
  // still point into the text as typed.
  std::string working = trimmed;
  for (char& c : working) {
    if (c == ',') c = '.';
  }
  RealParse parsed = ParseReal(working);
  // A number too large for an extended real reads as infinity; it is no valid entry, and the
  // whole text is to blame (as for a decimal integer out of range).
  if (parsed.ok() && !std::isfinite(parsed.value)) {
    parsed.errorPosition = static_cast<int32_t>(trimmed.size()) + 1;
  }
  if (!parsed.ok()) {
    entryValid_ = false;
    extValue_ = 0;
    Port().ShowMessage(Quoted(trimmed) + " is not a valid Extended; error at position " +
                       FormatInt(parsed.errorPosition));
    return;
  }
  extValue_ = parsed.value;
  if (!(minValid_ && maxValid_)) return;
  if (extValue_ < minValue_ || extValue_ > maxValue_) {
    entryValid_ = false;
    Port().ShowMessage("Entry must be between " + FormatG3(minValue_) + " and " +
                       FormatG3(maxValue_));
    extValue_ = extValue_ <= maxValue_ ? minValue_ : maxValue_;
  }
}

int32_t NumericEntry::GetIntegerValue() {
  if (!validated_) ValidateEntry();
  const bool wrongKind = InputType() != TInputType::tInteger;
  if (wrongKind) Port().ShowMessage("Requesting integer value from non-integer control");
  if (!entryValid_) {
    Port().ShowMessage("Substituting " + Quoted(FormatInt(intValue_)) + " for " + Quoted(text_) +
                       " (invalid entry)");
  }
  if (wrongKind) Port().ShowMessage("Requesting integer value from non-integer control");
  return intValue_;
}

Real NumericEntry::GetExtendedValue() {
  if (!validated_) ValidateEntry();
  if (InputType() != TInputType::tExtended) {
    Port().ShowMessage("Requesting extended value from non-extended control");
  }
  if (!entryValid_) {
    Port().ShowMessage("Substituting " + Quoted(FormatG3(extValue_)) + " for " + Quoted(text_) +
                       " (invalid entry)");
  }
  return extValue_;
}

}  // namespace quelmar
