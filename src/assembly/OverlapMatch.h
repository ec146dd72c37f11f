#pragma once
// The shift between two thin strips that overlap, refined from a start within about a pixel of
// it, for the travel finder's hundreds of framelet pairs: the same measure as RefineShift
// (Gauss-Newton steps on the mean square difference, both strips sampled half-way on mirrored
// grids) on every column of the strips, with each strip's gradients computed once, and the sums
// kept in several lanes so the processor's vectors do the work.
#include <cstdint>
#include <vector>

#include "assembly/SubpixelMatch.h"

namespace quelmar {

// A strip ready to be matched: its grey levels and their gradients.
struct MatchStrip {
  GreyImage Image;
  Gradients Slopes;
  std::vector<int32_t> RowData;  // samples with data in each row
};

MatchStrip PrepareStrip(GreyImage image);

// The same for a strip read afresh for every pair of a long product: `strip.Image` becomes
// `raw` softened along its rows (each pixel blended 1/4, 1/2, 1/4 with its left and right
// neighbours where the blend has data), and `strip.Slopes` its gradients, as PrepareStrip gives
// them, in the storage the strip already holds (no allocation once it is large enough).
void PrepareSoftenedStrip(const GreyImage& raw, MatchStrip& strip);

// `raw` softened along its rows as PrepareSoftenedStrip softens it, into `out`'s storage.
void SoftenRows(const GreyImage& raw, GreyImage& out);

// Each sample of `raw` less the mean of its left and right neighbours (no data where either has
// none), into `out`'s storage: the fine detail of the ground, without its broad patches of
// colour, in which two bands' strips differ.
void SharpenRows(const GreyImage& raw, GreyImage& out);

// As RefineShift(a, b, dx, dy, search) with search.ColumnStep 1, the same verdicts and figures,
// except that a column without data on both sides (the strips' first and last, those beside a
// column of no data) is left out: its sideways slope would be one-sided. The sums add up in
// another order, and each bilinear blend is worked out down the columns first, so the last digits
// may differ. Where the whole-pixel grid and the one offset half a pixel both ways each sample a
// couple of rows with data in most columns, those two are the only grids sampled: they mirror
// the blends' phases in both directions, and the shift found is the same to about a thousandth
// of a pixel, from half the samples (the figures then come from those).
// With MatchRows::Whole, the grids lie on each strip's whole rows down the columns (for overlaps
// of a row or two, where the half-way grids lean toward more overlap). With
// MatchRows::HalfWayOffCorner, at a shift within a fifth of a row of a whole number of rows the
// two grids half a row off both strips' whole rows are the ones sampled (for a band's own
// strips).
ShiftEstimate RefineOverlap(const MatchStrip& a, const MatchStrip& b, double dx, double dy,
                            const ShiftSearch& search, MatchRows rows = MatchRows::HalfWay);

// The match's working rows, kept by a caller that matches many pairs on one thread (a long
// product's pairs then need no allocation). One to a thread. (Kept by the caller rather than
// as thread-local storage: the Windows build's runtime may free thread-local objects with a
// destructor before it runs the destructor, at the end of every thread.)
struct MatchScratch {
  std::vector<MatchRow> Rows;
  std::vector<float> Down;
  std::vector<uint8_t> Done;
};
ShiftEstimate RefineOverlap(const MatchStrip& a, const MatchStrip& b, double dx, double dy,
                            const ShiftSearch& search, MatchRows rows, MatchScratch& scratch);

// Whether the match uses the processor's wider vectors where it has them (the default). Turned
// off, it takes the path processors without them take, with the same results: the tests check
// both. Not for use while a match runs.
void UseWideVectors(bool use);

}  // namespace quelmar
