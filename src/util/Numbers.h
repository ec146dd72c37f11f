#pragma once
// Numbers as this program reads and writes them: extended reals, ties-to-even rounding, 32-bit
// integers with checked arithmetic, and text forms that never depend on the machine's locale.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace quelmar {

using Real = long double;  // 80-bit extended on x86-64

// Nearest integer, halves to the even neighbour (Round(2.5) = 2, Round(3.5) = 4).
// rintl rounds in the current rounding mode, which this program never changes from the default
// (to nearest, ties to even); unlike nearbyintl it compiles to one instruction.
inline Real Round(Real x) {
  return std::rintl(x);
}
// Round, as a 64-bit integer, in one step: the processor's own conversion, which rounds the same
// way (a conversion through Round and a cast would switch the x87 rounding mode twice). Gives
// kRoundFailed for a value that is not a number or lies outside the 64-bit range.
inline constexpr int64_t kRoundFailed = INT64_MIN;
inline int64_t RoundToInt64(Real x) {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
  if (sizeof(Real) > sizeof(double)) {
    int64_t r;
    asm("fistpll %0" : "=m"(r) : "t"(x) : "st");
    return r;
  }
#endif
  const Real r = Round(x);
  if (!(r >= static_cast<Real>(INT64_MIN) && r < -static_cast<Real>(INT64_MIN)))
    return kRoundFailed;
  return static_cast<int64_t>(r);
}
// Round, then as a signed 32-bit integer; RangeError when it does not fit (or is not a number).
int32_t RoundToInt32(Real x);
// The same test without the message: true and `out` set when Round(x) fits in 32 bits.
inline bool RoundFitsInt32(Real x, int32_t& out) {
  const int64_t r = RoundToInt64(x);
  if (r < INT32_MIN || r > INT32_MAX) return false;
  out = static_cast<int32_t>(r);
  return true;
}

// Checked 32-bit arithmetic: RangeError on overflow.
int32_t CheckedAdd(int32_t a, int32_t b);
int32_t CheckedSub(int32_t a, int32_t b);
int32_t CheckedMul(int32_t a, int32_t b);

// Outcome of a text rule: the value, or the 1-based position of the first character that does
// not fit (0 when the text was accepted).
struct Int32Parse {
  int32_t value = 0;
  int32_t errorPosition = 0;
  bool ok() const { return errorPosition == 0; }
};
struct RealParse {
  Real value = 0;
  int32_t errorPosition = 0;
  bool ok() const { return errorPosition == 0; }
};

// Integer text rule: leading blanks skipped; optional sign and decimal digits in the signed
// 32-bit range, or "$", "x", "X", "0x", "0X" and at most 32 bits of hexadecimal digits.
Int32Parse ParseInt32(std::string_view text);
// Real text rule: leading blanks skipped; optional sign, digits, optional "." and digits,
// optional exponent. Only the period is a decimal separator.
RealParse ParseReal(std::string_view text);

// Text forms with the period as decimal separator and no grouping, whatever the locale.
std::string FormatG3(Real x);                   // like "%0.3g"
std::string FormatFixed(Real x, int decimals);  // like "%0.2f", "%0.3f"
std::string FormatInt(int64_t x);               // like "%d"
// n and its noun: "1 framelet pair", "815 framelet pairs".
std::string FormatCount(int64_t n, const char* one, const char* many);

// Makes the process's C number format use the period (the window calls this once, at start-up,
// after the toolkit has set the user's locale).
void SetProcessNumberFormat();

}  // namespace quelmar
