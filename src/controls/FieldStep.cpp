#include "controls/FieldStep.h"

#include <algorithm>
#include <cmath>

#include "util/WinOps.h"

namespace quelmar {

namespace {

std::optional<Real> ReadNumber(const std::string& text) {
  std::string t = TrimBlanks(text);
  std::replace(t.begin(), t.end(), ',', '.');
  if (t.empty()) return std::nullopt;
  const RealParse parsed = ParseReal(t);
  if (!parsed.ok() || !std::isfinite(parsed.value)) return std::nullopt;
  return parsed.value;
}

std::string Shortest(Real value) {
  std::string s = FormatFixed(value, 6);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

}  // namespace

std::optional<std::string> SteppedFieldText(const std::string& text, const std::string& step,
                                            const std::string& minText,
                                            const std::string& maxText) {
  const std::optional<Real> value = ReadNumber(text);
  const std::optional<Real> delta = ReadNumber(step);
  if (!value || !delta) return std::nullopt;
  Real next = *value + *delta;
  // Steps land on the step's grid apart from the rounding of binary fractions: six decimals.
  next = std::nearbyintl(next * 1000000.0L) / 1000000.0L;
  if (const std::optional<Real> low = ReadNumber(minText)) next = std::max(next, *low);
  if (const std::optional<Real> high = ReadNumber(maxText)) next = std::min(next, *high);
  if (next == *value) return std::nullopt;
  return Shortest(next);
}

}  // namespace quelmar
