// A corrected band's map row, four columns at a time where the processor can (and columns either
// side of a centre on a column in pairs), holds exactly what the rule gives one column at a time:
// with and without the vertical correction, a shift, rows above and below the centre line, a
// width that is no multiple of four, columns beyond the table's reach, and positions too far away
// to keep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "assembly/MapRowFill.h"

namespace quelmar {
namespace {

std::vector<int32_t> ByRule(const MapRowGeometry& g, size_t entries) {
  std::vector<int32_t> out;
  for (size_t a = 0; a < entries; ++a) {
    const double dx = static_cast<double>(a) - g.OutputCentre;
    const double rho = std::sqrt(dx * dx + g.DeltaY * g.DeltaY);
    if (!(rho <= static_cast<double>(g.TableSize - 1))) {
      out.insert(out.end(), {INT32_MIN, 0});
      continue;
    }
    const auto i = static_cast<size_t>(rho);
    const double f = i + 1 < g.TableSize ? g.Table[i] + (g.Table[i + 1] - g.Table[i]) *
                                                            (rho - static_cast<double>(i))
                                         : g.Table[i];
    const double col = (g.SourceCentre + dx * (1 + f)) * 256;
    const double row = (g.Vertical ? g.B - g.DeltaY * f + g.Shift : g.B) * 256;
    if (!(std::fabs(col) < 2147483647.0) || !(std::fabs(row) < 2147483647.0)) {
      out.insert(out.end(), {INT32_MIN, 0});
      continue;
    }
    out.push_back(static_cast<int32_t>(std::lrint(col)));
    out.push_back(static_cast<int32_t>(std::lrint(row)));
  }
  return out;
}

TEST(MapRowFill, RowsHoldWhatTheRuleGivesColumnByColumn) {
  // A barrel correction growing with the distance, reaching 400 pixels from the centre.
  std::vector<double> table;
  for (int32_t r = 0; r <= 400; ++r) table.push_back(1.7e-7 * r * r + (r % 3) * 1e-9);
  // Centres between columns, and on a column (the columns either side then come in pairs): in
  // the middle, at either end, beyond the row, and near enough to one end that only a few pair.
  for (const double centre : {352.37, 352.0, 0.0, 704.0, 1025.0, 1100.0, 6.0}) {
    for (const bool vertical : {false, true}) {
      for (const double b : {-1.25, 0.0, 3.03125, 13.96875}) {
        for (const size_t entries : {size_t{0}, size_t{3}, size_t{705}, size_t{1026}}) {
          MapRowGeometry g;
          g.Table = table.data();
          g.TableSize = table.size();
          g.B = b;
          g.DeltaY = 7.0 + 12.5 - (b + 1);
          g.OutputCentre = centre;  // columns 400 or more from it lie beyond the table's reach
          g.SourceCentre = centre == 352.0 ? 350.0 : 350.11;
          g.Vertical = vertical;
          g.Shift = vertical ? -2 : 0;
          std::vector<int32_t> got(2 * entries, 7);
          FillMapRow(g, entries, got.data());
          ASSERT_EQ(got, ByRule(g, entries)) << "centre " << centre << " vertical " << vertical
                                             << " row " << b << " entries " << entries;
        }
      }
    }
  }
  // Positions 2^31 / 256 pixels away are not kept, the table's last entry among them.
  std::vector<double> wild = {0, 1e7, 1e7, 3e9};
  MapRowGeometry g;
  g.Table = wild.data();
  g.TableSize = wild.size();
  g.OutputCentre = 1;
  g.Vertical = true;
  g.B = 1;
  std::vector<int32_t> got(2 * 9, 7);
  FillMapRow(g, 9, got.data());
  EXPECT_EQ(got, ByRule(g, 9));
  EXPECT_EQ(got[2], 0);  // the centre itself is kept
}

}  // namespace
}  // namespace quelmar
