#pragma once
// Numeric texts: the integer and real text rules, StringToInteger, the number formats, and the
// numeric entry field's validation with arbitrary texts and limits.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "controls/NumericEntry.h"
#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/WinOps.h"

namespace quelmar::fuzz {

namespace numeric_detail {

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
inline int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether the integer text rule must accept `s`, and the value it must give, worked out without
// any limit on the number of digits (so overflow shows as "not accepted").
inline bool ExpectedInt32(std::string_view s, int64_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  s.remove_prefix(i);
  size_t digits = std::string_view::npos;
  if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
    digits = 1;
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    digits = 2;
  }
  if (digits != std::string_view::npos) {
    if (digits >= s.size()) return false;
    uint64_t v = 0;
    for (size_t j = digits; j < s.size(); ++j) {
      const int d = HexValue(s[j]);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  bool negative = false;
  size_t j = 0;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    j = 1;
  }
  if (j >= s.size()) return false;
  int64_t v = 0;
  for (; j < s.size(); ++j) {
    if (!IsDigit(s[j])) return false;
    v = v * 10 + (s[j] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return false;
  value = v;
  return true;
}

// Whether the real text rule must accept `s`.
inline bool ExpectedRealForm(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const size_t mantissa = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  bool period = false;
  if (i < s.size() && s[i] == '.') {
    period = true;
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  if (i == mantissa && !period) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i >= s.size() || !IsDigit(s[i])) return false;
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  return i == s.size();
}

// The value of a short plain decimal ("-12.375"), exactly as far as an extended real can hold
// it; false for texts outside that form.
inline bool PlainDecimal(std::string_view s, Real& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t mantissa = 0;
  int digits = 0, decimals = 0;
  bool period = false;
  for (; i < s.size(); ++i) {
    if (s[i] == '.' && !period) {
      period = true;
    } else if (IsDigit(s[i])) {
      if (++digits > 18) return false;
      mantissa = mantissa * 10 + (s[i] - '0');
      if (period) ++decimals;
    } else {
      return false;
    }
  }
  Real scale = 1;
  for (int k = 0; k < decimals; ++k) scale *= 10;
  value = static_cast<Real>(mantissa) / scale;
  if (negative) value = -value;
  return true;
}

inline void CheckIntegerRule(std::string_view text, SilentPort& port) {
  const Int32Parse parsed = ParseInt32(text);
  int64_t expected = 0;
  const bool accept = ExpectedInt32(text, expected);
  Check(parsed.ok() == accept, "ParseInt32 accepts exactly the integer text rule");
  if (accept) {
    Check(parsed.value == expected, "ParseInt32 gives the value of the text");
  } else {
    Check(parsed.errorPosition >= 1 && static_cast<size_t>(parsed.errorPosition) <= text.size() + 1,
          "ParseInt32 error position lies within the text or just past it");
  }

  // StringToInteger: the same rule after every blank is removed; 0 and one box on failure.
  std::string noBlanks(text);
  RemoveSpaces(noBlanks);
  const Int32Parse plain = ParseInt32(noBlanks);
  const int64_t boxesBefore = port.seriousErrors;
  const int32_t value = StringToInteger(text, port);
  Check(value == (plain.ok() ? plain.value : 0), "StringToInteger gives the rule's value or 0");
  Check(port.seriousErrors - boxesBefore == (plain.ok() ? 0 : 1),
        "StringToInteger shows one box exactly when the conversion fails");

  // A value written back in decimal reads as the same value.
  if (parsed.ok()) {
    const Int32Parse again = ParseInt32(FormatInt(parsed.value));
    Check(again.ok() && again.value == parsed.value, "FormatInt and ParseInt32 round-trip");
  }
}

inline void CheckRealRule(std::string_view text) {
  const RealParse parsed = ParseReal(text);
  Check(parsed.ok() == ExpectedRealForm(text), "ParseReal accepts exactly the real text rule");
  if (!parsed.ok()) {
    Check(parsed.errorPosition >= 1 && static_cast<size_t>(parsed.errorPosition) <= text.size() + 1,
          "ParseReal error position lies within the text or just past it");
    return;
  }
  Check(!std::isnan(parsed.value), "ParseReal never gives NaN");
  Real plain = 0;
  if (PlainDecimal(text, plain)) {
    const Real tolerance = std::fabs(plain) * 1e-17L;
    Check(std::fabs(parsed.value - plain) <= tolerance, "ParseReal reads a plain decimal exactly");
  }
  if (std::isfinite(parsed.value)) {
    // The three-digit form reads back within its rounding; the fixed forms never fail.
    const std::string g3 = FormatG3(parsed.value);
    const RealParse back = ParseReal(g3);
    Check(back.ok(), "FormatG3 writes a text that ParseReal reads");
    const Real a = std::fabs(parsed.value);
    if (a > 1e-4900L && a < 1e4900L) {
      Check(std::fabs(back.value - parsed.value) <= a * 5e-3L, "FormatG3 keeps three digits");
    }
    for (int decimals = 0; decimals <= 3; ++decimals) {
      Check(!FormatFixed(parsed.value, decimals).empty(), "FormatFixed writes something");
    }
  }
}

inline void CheckEntryField(InputBytes& in, std::string_view text, SilentPort& port) {
  NumericEntry entry;
  entry.SetPort(&port);
  const uint8_t kind = in.Byte();
  entry.SetRawInputType(kind % 4 == 3 ? kind : static_cast<uint8_t>(kind % 2));
  // Limits: one of a few typical ones, or texts taken from the input.
  static const char* const kLimits[] = {
      "",           "0",           "14",  "1",   "7",  "-1e4000", "1e4000", "2147483647",
      "2147483648", "-2147483649", "1,5", "abc", "-0", ".",       "2.15",   "1e-4000"};
  const size_t nLimits = sizeof(kLimits) / sizeof(kLimits[0]);
  const uint8_t limitChoice = in.Byte();
  const std::string minText = kLimits[(limitChoice & 0x0F) % nLimits];
  const std::string maxText = kLimits[(limitChoice >> 4) % nLimits];
  if (in.Flag()) entry.SetInputMin(minText);
  if (in.Flag()) entry.SetInputMax(maxText);
  entry.SetText(std::string(text));
  entry.OnTextWrittenBack = [&entry](const std::string& t) { entry.SetText(t); };

  const bool limitsInForce = entry.MinValid() && entry.MaxValid();
  for (int request = 0; request < 2; ++request) {
    try {
      if (in.Flag()) {
        const int32_t v = entry.GetIntegerValue();
        if (entry.InputType() == TInputType::tInteger && limitsInForce &&
            entry.MinValue() <= entry.MaxValue() && entry.EntryValid()) {
          Check(entry.MinValue() <= v && v <= entry.MaxValue(),
                "an accepted integer entry lies within its limits");
        }
      } else {
        const Real v = entry.GetExtendedValue();
        Check(!std::isnan(v), "a real entry never gives NaN");
        if (entry.InputType() == TInputType::tExtended) {
          Check(std::isfinite(v) ||
                    (limitsInForce && (v == entry.MinValue() || v == entry.MaxValue())),
                "a real entry is finite unless it is an infinite limit put in its place");
          std::string working = entry.Text();
          for (char& c : working) c = c == ',' ? '.' : c;
          const RealParse typed = ParseReal(working);
          const bool number = typed.ok() && std::isfinite(typed.value);
          Check(number || v == 0, "an entry that is no number gives 0");
          if (number && limitsInForce && entry.MinValue() <= entry.MaxValue()) {
            Check(entry.MinValue() <= v && v <= entry.MaxValue(),
                  "a real entry (or its substitute) lies within its limits");
          }
        }
      }
    } catch (const QuelmarError&) {
      // An integer field whose limit does not fit in 32 bits: reported as a run-time error.
    }
    Check(entry.Text() == TrimBlanks(entry.Text()), "validation leaves the trimmed text");
    if (in.Flag()) entry.SetText(std::string(in.Rest().substr(0, 24)));
  }
}

}  // namespace numeric_detail

// Byte 0 limits the text to 64 characters unless its high bit is set; bytes 1-8 choose the entry
// field's kind, limits and requests; the rest is the text.
inline void RunNumericInput(const uint8_t* data, size_t size) {
  InputBytes in(data, size);
  const uint8_t mode = in.Byte();
  const size_t choices = std::min<size_t>(in.Rest().size(), 8);
  InputBytes fieldChoices(reinterpret_cast<const uint8_t*>(in.Rest().data()), choices);
  const std::string_view rest = in.Rest().substr(choices);
  const std::string_view text = rest.substr(0, mode & 0x80 ? rest.size() : 64);
  SilentPort port;
  numeric_detail::CheckIntegerRule(text, port);
  numeric_detail::CheckRealRule(text);
  numeric_detail::CheckEntryField(fieldChoices, text, port);
}

}  // namespace quelmar::fuzz
