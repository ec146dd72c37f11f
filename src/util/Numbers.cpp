#include "util/Numbers.h"

#include <array>
#include <cerrno>
#include <cfenv>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "util/Errors.h"

namespace quelmar {

int32_t RoundToInt32(Real x) {
  int32_t r;
  if (!RoundFitsInt32(x, r)) {
    throw RangeError("Integer overflow: a rounded value does not fit in 32 bits");
  }
  return r;
}

int32_t CheckedAdd(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw RangeError("Integer overflow");
  return r;
}
int32_t CheckedSub(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw RangeError("Integer overflow");
  return r;
}
int32_t CheckedMul(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw RangeError("Integer overflow");
  return r;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Positions are 1-based; `i` is 0-based while scanning.
int32_t Pos(size_t i) {
  return static_cast<int32_t>(i + 1);
}

// The C library's decimal separator in the current locale ("." in the C locale).
[[maybe_unused]] std::string_view LocaleDecimalPoint() {
  const char* point = std::localeconv()->decimal_point;
  return point && *point ? std::string_view(point) : std::string_view(".");
}

// Reads a text of the real rule in canonical form (digits on both sides of a period, no '+')
// into `value`, correctly rounded; true when it is beyond the range of an extended real.
bool FromCharsOutOfRange(const std::string& canonical, Real& value) {
#if defined(__MINGW32__)
  // MinGW's from_chars for long double rounds through double, which would give other numbers
  // than on Linux; its strtold is exact but reads the locale's decimal separator.
  std::string text = canonical;
  const std::string_view point = LocaleDecimalPoint();
  if (point != ".") {
    const size_t at = text.find('.');
    if (at != std::string::npos) text.replace(at, 1, point);
  }
  errno = 0;
  char* end = nullptr;
  value = std::strtold(text.c_str(), &end);
  // As on Linux: overflow, and underflow to zero or to a subnormal, are out of range.
  return errno == ERANGE || std::fpclassify(value) == FP_SUBNORMAL ||
         std::fpclassify(value) == FP_INFINITE;
#else
  const auto result = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  return result.ec == std::errc::result_out_of_range;
#endif
}

// MinGW's to_chars with a precision writes the locale's decimal separator: the period instead.
std::string WithPeriod(std::string text) {
#if defined(__MINGW32__)
  const std::string_view point = LocaleDecimalPoint();
  if (point != ".") {
    const size_t at = text.find(point);
    if (at != std::string::npos) text.replace(at, point.size(), ".");
  }
#endif
  return text;
}

}  // namespace

Int32Parse ParseInt32(std::string_view s) {
  Int32Parse out;
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  const size_t n = s.size();

  // Hexadecimal forms: "$", "x", "X", "0x", "0X" (never after a sign).
  size_t digitsStart = std::string_view::npos;
  if (i < n && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    digitsStart = i + 1;
  } else if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    digitsStart = i + 2;
  }
  if (digitsStart != std::string_view::npos) {
    uint32_t value = 0;
    size_t j = digitsStart;
    if (j >= n) {
      out.errorPosition = Pos(n);
      return out;
    }
    for (; j < n; ++j) {
      const int d = HexDigit(s[j]);
      if (d < 0 || value > 0x0FFFFFFFu) {
        out.errorPosition = Pos(j);
        return out;
      }
      value = value * 16u + static_cast<uint32_t>(d);
    }
    out.value = static_cast<int32_t>(value);
    return out;
  }

  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i >= n) {
    out.errorPosition = Pos(n);
    return out;
  }
  uint64_t value = 0;
  for (size_t j = i; j < n; ++j) {
    if (!IsDigit(s[j]) || value > 214748364u) {
      out.errorPosition = Pos(j);
      return out;
    }
    value = value * 10u + static_cast<uint64_t>(s[j] - '0');
  }
  const uint64_t limit = negative ? 2147483648u : 2147483647u;
  if (value > limit) {
    out.errorPosition = Pos(n);
    return out;
  }
  out.value =
      negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
  return out;
}

RealParse ParseReal(std::string_view s) {
  RealParse out;
  const size_t n = s.size();
  size_t i = 0;
  while (i < n && s[i] == ' ') ++i;
  const size_t start = i;
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  if (i >= n) {
    out.errorPosition = Pos(n);
    return out;
  }
  const size_t mantissaStart = i;
  while (i < n && IsDigit(s[i])) ++i;
  bool period = false;
  if (i < n && s[i] == '.') {
    period = true;
    ++i;
    while (i < n && IsDigit(s[i])) ++i;
  }
  if (i == mantissaStart && !period) {
    out.errorPosition = Pos(i);
    return out;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (i >= n || !IsDigit(s[i])) {
      out.errorPosition = Pos(i);
      return out;
    }
    while (i < n && IsDigit(s[i])) ++i;
  }
  if (i < n) {
    out.errorPosition = Pos(i);
    return out;
  }

  // The text fits the rule; from_chars wants digits on both sides of the period and no '+'.
  std::string canonical;
  canonical.reserve(n - start + 2);
  size_t k = start;
  if (s[k] == '+' || s[k] == '-') {
    if (s[k] == '-') canonical.push_back('-');
    ++k;
  }
  if (k < n && s[k] == '.') canonical.push_back('0');
  for (; k < n; ++k) {
    canonical.push_back(s[k]);
    if (s[k] == '.' && (k + 1 >= n || !IsDigit(s[k + 1]))) canonical.push_back('0');
  }
  Real value = 0;
  if (FromCharsOutOfRange(canonical, value)) {
    // Too large or too small for an extended real: infinity or zero with its sign.
    const bool neg = canonical[0] == '-';
    const size_t e = canonical.find_first_of("eE");
    const bool tiny = e != std::string::npos && canonical.find('-', e) != std::string::npos;
    value = tiny ? 0.0L : std::numeric_limits<Real>::infinity();
    if (neg) value = -value;
  }
  out.value = value;
  return out;
}

std::string FormatG3(Real x) {
  std::array<char, 64> buf{};
  const auto r =
      std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::general, 3);
  return WithPeriod(std::string(buf.data(), r.ptr));
}

std::string FormatFixed(Real x, int decimals) {
  std::array<char, 128> buf{};
  auto r =
      std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {
    std::string big(6000, '\0');
    r = std::to_chars(big.data(), big.data() + big.size(), x, std::chars_format::fixed, decimals);
    return WithPeriod(std::string(big.data(), r.ptr));
  }
  return WithPeriod(std::string(buf.data(), r.ptr));
}

std::string FormatInt(int64_t x) {
  return std::to_string(x);
}

std::string FormatCount(int64_t n, const char* one, const char* many) {
  return FormatInt(n) + " " + (n == 1 ? one : many);
}

void SetProcessNumberFormat() {
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace quelmar
