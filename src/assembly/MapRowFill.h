#pragma once
// One row of a corrected band's map: where each output column of an output band row reads its
// source, worked out four columns at a time where the processor has wide vectors, exactly as one
// at a time.
#include <cstddef>
#include <cstdint>

namespace quelmar {

// The radial correction's geometry of one output band row.
struct MapRowGeometry {
  const double* Table = nullptr;  // the correction table (rho in whole pixels to its factor)
  size_t TableSize = 0;
  double B = 0;             // the output band row (0-based)
  double DeltaY = 0;        // its height above the optical centre line
  double OutputCentre = 0;  // the output column of the optical centre
  double SourceCentre = 0;  // and the source column
  bool Vertical = false;    // rows corrected too (else a row reads its own row)
  double Shift = 0;         // rows added to a vertically corrected source row
};

// For output columns a = 0 .. entries - 1: rho = the distance from the centre, f = the table's
// value there (linear between its entries), source column = SourceCentre + (a - OutputCentre) x
// (1 + f) and row = B - DeltaY x f + Shift (or B), both in 1/256 pixels rounded to the nearest
// (ties to even), as out[2a] and out[2a + 1]. Where rho lies beyond the table, or a position is
// 2^31 / 256 pixels or more away, out[2a] = INT32_MIN and out[2a + 1] = 0.
void FillMapRow(const MapRowGeometry& g, size_t entries, int32_t* out);

}  // namespace quelmar
