#pragma once
// Lines of the cumulative index in the archive's layout, for the search tests.
#include <string>

#include "util/Numbers.h"

namespace quelmar::testing {

struct LineSpec {
  std::string id = "M126534360CE";
  std::string file = "DATA/EDR/2010066/WAC/M126534360CE.IMG";
  std::string start = "2010-03-07T10:00:00.000";
  double corners[4][2] = {{20, 30}, {20, 40}, {10, 40}, {10, 30}};  // UL, UR, LR, LL: lat, lon
  double sun[2] = {0, 95};
  double craft[2] = {15, 35};
  double altitude = 50;
};

inline std::string Num(double v, int decimals, size_t width) {
  std::string s = FormatFixed(static_cast<Real>(v), decimals);
  return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

// A line in the archive's layout: quoted texts first, the fields at their positions.
inline std::string IndexLine(const LineSpec& s) {
  std::string line(900, ' ');
  const auto put = [&](size_t position, const std::string& text) {
    line.replace(position - 1, text.size(), text);
  };
  put(1, "\"WAC_0001    \",\"" + s.file + "\",\"sim\",\"" + s.id + "   \",");
  put(310, "\"" + s.start + "\"");
  put(749, Num(s.sun[0], 2, 6));
  put(756, Num(s.sun[1], 2, 6));
  put(763, Num(s.craft[0], 2, 6));
  put(770, Num(s.craft[1], 2, 6));
  static constexpr size_t kCorner[4] = {852, 810, 824, 838};
  for (int i = 0; i < 4; ++i) {
    put(kCorner[i], Num(s.corners[i][0], 2, 6));
    put(kCorner[i] + 7, Num(s.corners[i][1], 2, 6));
  }
  put(866, Num(s.altitude, 3, 7));
  return line;
}

}  // namespace quelmar::testing
