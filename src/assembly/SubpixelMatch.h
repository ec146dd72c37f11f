#pragma once
// Sub-pixel sampling and matching of grey images: the one place where the travel finder and the
// colour composites sample a band between its pixels and measure how far one picture of the
// ground lies from another.
//
// Conventions used throughout:
// - Pixel (x, y) is column x, row y, both from 0; the pixel's value stands for the point (x, y).
// - Bilinear sampling at a fractional position blends the four pixels around it; a position is
//   inside an image of W x H pixels when 0 <= x <= W - 1 and 0 <= y <= H - 1.
// - A shift (Dx, Dy) between two images a and b means b(x, y) = a(x + Dx, y + Dy): the scene that
//   b shows at (x, y) is found in a at (x + Dx, y + Dy). Placing b Dy rows below and Dx columns
//   to the right of a therefore lays the two scenes on each other.
// - Values are floats; no data is NaN and never takes part in a comparison.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quelmar {

// A view of 8-bit samples: `height` rows of `width` samples, row y starting at data + y * stride
// (the stride may be negative, to read rows bottom-up).
struct ByteStrip {
  const uint8_t* data = nullptr;
  ptrdiff_t stride = 0;
  int32_t width = 0;
  int32_t height = 0;
  const uint8_t* Row(int32_t y) const { return data + stride * static_cast<ptrdiff_t>(y); }
};

// Bilinear grey level of a byte strip at (x, y); NaN outside the strip.
float SampleBilinear(const ByteStrip& strip, double x, double y);

// A grey image of floats, row-major; NaN marks a pixel without data.
struct GreyImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<float> Values;

  GreyImage() = default;
  GreyImage(int32_t width, int32_t height);  // all NaN; RangeError for a negative size
  float At(int32_t x, int32_t y) const {
    return Values[static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)];
  }
  float& At(int32_t x, int32_t y) {
    return Values[static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)];
  }
  const float* Row(int32_t y) const {
    return Values.data() + static_cast<size_t>(y) * static_cast<size_t>(Width);
  }
  float* Row(int32_t y) {
    return Values.data() + static_cast<size_t>(y) * static_cast<size_t>(Width);
  }
};

// The samples of a byte strip as a grey image (every pixel has data).
GreyImage GreyFromBytes(const ByteStrip& strip);

// Bilinear grey level of an image at (x, y); NaN outside it or where a pixel blended in (with a
// weight above 0) has no data.
float SampleBilinear(const GreyImage& image, double x, double y);

// What a match found.
enum class MatchVerdict {
  Found,      // the shift and figures below hold
  NoOverlap,  // no shift in the search window leaves enough pixels with data in both images
  NoTexture,  // the overlap is flat (or has texture in one direction only): any shift fits
  Saturated,  // most of the overlap is at the largest grey level (255)
  NoMatch,    // the best shift still leaves the images disagreeing about as much as unrelated ones
};

// The verdict in words ("no texture in the overlap", ...).
std::string MatchVerdictText(MatchVerdict verdict);

struct ShiftEstimate {
  MatchVerdict Verdict = MatchVerdict::NoOverlap;
  double Dx = 0;  // b(x, y) = a(x + Dx, y + Dy)
  double Dy = 0;
  double Residual = 0;  // root mean square grey difference over the overlap at (Dx, Dy)
  double Contrast = 0;  // standard deviation of the grey levels over the overlap
  int32_t Overlap = 0;  // pixel pairs compared at (Dx, Dy)
  int32_t Iterations = 0;
  bool Found() const { return Verdict == MatchVerdict::Found; }
};

// The window of whole-pixel shifts tried first, and how the match is judged.
struct ShiftSearch {
  int32_t MinDx = -2, MaxDx = 2;
  int32_t MinDy = -2, MaxDy = 2;
  int32_t MinOverlap = 16;  // fewer pixel pairs than this: the shift is not tried
  int32_t Step = 1;         // the whole-pixel search compares every Step-th column and row
  int32_t ColumnStep = 1;   // the refinement uses every ColumnStep-th column
  int32_t MaxIterations = 8;
  double Tolerance = 1e-3;        // refinement stops once a step moves less than this (pixels)
  double MinContrast = 0.75;      // grey levels; flatter overlaps are NoTexture
  double MaxSaturated = 0.5;      // a larger share of 255 samples is Saturated
  double MaxResidualShare = 0.7;  // Residual / (Contrast * sqrt 2) above this is NoMatch
};

// Horizontal and vertical central differences of an image (one-sided at its edges; NaN where a
// neighbour has no data). Exposed for callers that match one image against many.
struct Gradients {
  GreyImage X;
  GreyImage Y;
};
Gradients GradientsOf(const GreyImage& image);

// The sums of one pass of a refinement over its pixel pairs.
struct MatchSums {
  double hxx = 0, hxy = 0, hyy = 0;  // J^T J
  double bx = 0, by = 0;             // J^T r
  double rr = 0;                     // r^2
  double s = 0, ss = 0;              // grey levels of both images, for the contrast
  int64_t n = 0;
  int64_t saturated = 0;
};

// The verdict and figures of a refinement whose last pass gave `sums` at the estimate's shift,
// started from (startX, startY); fewer than `need` pixel pairs: no overlap.
void JudgeShift(ShiftEstimate& e, const MatchSums& sums, int64_t need, const ShiftSearch& search,
                double startX, double startY);

// Gauss-Newton steps from (dx, dy) on the sums pass(dx, dy) gives, until a step moves less than
// the search's tolerance, and their verdict (JudgeShift).
template <typename Pass>
ShiftEstimate SolveShift(Pass&& pass, double dx, double dy, const ShiftSearch& search,
                         int64_t need) {
  ShiftEstimate e;
  e.Dx = dx;
  e.Dy = dy;
  MatchSums s;
  for (int32_t it = 0; it < std::max(1, search.MaxIterations); ++it) {
    s = pass(e.Dx, e.Dy);
    e.Iterations = it + 1;
    if (s.n < need) break;
    const double det = s.hxx * s.hyy - s.hxy * s.hxy;
    if (!(det > 0)) break;
    const double stepX = -(s.hyy * s.bx - s.hxy * s.by) / det;
    const double stepY = -(s.hxx * s.by - s.hxy * s.bx) / det;
    e.Dx += std::clamp(stepX, -1.0, 1.0);
    e.Dy += std::clamp(stepY, -1.0, 1.0);
    // The figures of the last pass stand for the final shift: it moved less than the tolerance.
    if (std::hypot(stepX, stepY) < search.Tolerance) break;
  }
  JudgeShift(e, s, need, search, dx, dy);
  return e;
}

// The shift between a and b: every whole-pixel shift in the window is scored by the mean square
// difference over the overlap, and the best one refined to a fraction of a pixel (see
// RefineShift). The verdict says when the images cannot tell.
ShiftEstimate EstimateShift(const GreyImage& a, const GreyImage& b, const ShiftSearch& search);
// Its first part: the best whole-pixel shift in the window, moved to the vertex of a parabola
// through its neighbours' scores, in (dx, dy); false where no shift leaves enough pixels.
bool WholePixelStart(const GreyImage& a, const GreyImage& b, const ShiftSearch& search, double& dx,
                     double& dy);

// Refines a shift from a start within about a pixel of it, by Gauss-Newton steps on the mean
// square difference. Both images are sampled half-way (a at +shift/2, b at -shift/2 from a
// common grid, using both grids whose sampling phases mirror each other), so the two are blended
// alike and the bilinear blend does not pull the result toward whole pixels; every row pair that
// the overlap holds is used, which matters for strips only a few rows high.
ShiftEstimate RefineShift(const GreyImage& a, const GreyImage& b, double dx, double dy,
                          const ShiftSearch& search);
// The same with the images' gradients already at hand (GradientsOf), for an image matched
// against several others.
ShiftEstimate RefineShift(const GreyImage& a, const Gradients& ga, const GreyImage& b,
                          const Gradients& gb, double dx, double dy, const ShiftSearch& search);

// A position along one axis as a pixel and the weight of the next one: pos = index + t with
// 0 <= t <= 1 and index + 1 still inside (the last pixel itself is index size - 2, t = 1).
struct Tap {
  int32_t index = 0;
  float t = 0;
  bool inside = false;
};
// (Inline: a match works out a few for every row it reads.)
inline Tap TapAt(double pos, int32_t size) {
  Tap tap;
  if (!(pos >= 0.0) || pos > static_cast<double>(size - 1) || size < 2) return tap;
  // pos is not negative: its integer part is its floor.
  const int32_t i = std::min(static_cast<int32_t>(pos), size - 2);
  tap.index = i;
  tap.t = static_cast<float>(pos - i);
  tap.inside = true;
  return tap;
}

// Where one row of a match's sampling grid reads both images: a at columns x + shiftA with
// weight xA.t of the next, rows yA.index and nextA with weight yA.t; b likewise; for x from
// xFirst to xEnd. A row blended with no weight is not read (it may have no data): next = index.
struct MatchRow {
  Tap xA, xB, yA, yB;
  int32_t nextA = 0, nextB = 0;
  int32_t xFirst = 0, xEnd = 0, shiftA = 0, shiftB = 0;
  // 0 to 3: + 1 for the half-pixel offset along the rows, + 2 for the second grid down the
  // columns (half a row further, or on b's whole rows: see MatchRows).
  int32_t grid = 0;
};

// Where the grids of a match lie down the columns.
enum class MatchRows {
  // a at grid + dy / 2, b at grid - dy / 2, the grid on whole rows or half-way between: both
  // images blended alike on every grid.
  HalfWay,
  // On a's whole rows (b at grid - dy, grids 0 and 1) or on b's (a at grid + dy, grids 2 and 3):
  // on each grid one image is blended between rows and moves with the shift. A row or two of
  // overlap still holds rows of both kinds, where the half-way grids may leave one none. Each
  // step then follows the slope of the blend itself (the difference of the two rows it blends),
  // so that the steps settle where the mean square difference is least.
  Whole,
  // As HalfWay, but where one of the two grids down the columns lies within a tenth of a row of
  // both images' whole rows (a shift within a fifth of a row of a whole number of rows), the
  // mean square difference has a corner there, and that grid's steps settle off it: the other
  // two grids, half a row off it, are sampled instead.
  HalfWayOffCorner,
};

// Calls row(MatchRow) for every row of the sampling of a match at shift (dx, dy) between an
// image a of widthA x heightA and b of widthB x heightB: along the rows a at grid + dx / 2, b at
// grid - dx / 2, down the columns as `rows` says, over the four grids (whole and half-pixel
// offsets in each direction) whose sampling phases mirror each other, so that the two blends
// smooth alike.
template <typename RowFn>
void ForEachMatchRow(int32_t widthA, int32_t heightA, int32_t widthB, int32_t heightB, double dx,
                     double dy, RowFn&& row, MatchRows rows = MatchRows::HalfWay) {
  for (int phase = 0; phase < 4; ++phase) {
    const int px = phase & 1, py = phase >> 1;
    MatchRow m;
    m.grid = phase;
    // Columns: a at x + sx, b at x + sx - dx; rows likewise.
    const double ax0 = dx / 2.0 + px / 2.0, bx0 = ax0 - dx;
    m.xFirst = static_cast<int32_t>(std::ceil(std::max(-ax0, -bx0)));
    const int32_t xLast = static_cast<int32_t>(std::floor(
        std::min(static_cast<double>(widthA - 1) - ax0, static_cast<double>(widthB - 1) - bx0)));
    if (xLast < m.xFirst) continue;
    m.xA = TapAt(m.xFirst + ax0, widthA);
    m.xB = TapAt(m.xFirst + bx0, widthB);
    if (!m.xA.inside || !m.xB.inside) continue;
    m.shiftA = m.xA.index - m.xFirst;
    m.shiftB = m.xB.index - m.xFirst;
    // Keep x + shift + 1 within each image: the last column may have index + 1 past it.
    m.xEnd = std::min({xLast, widthA - 2 - m.shiftA, widthB - 2 - m.shiftB});
    const double ay0 = rows != MatchRows::Whole ? dy / 2.0 + py / 2.0 : (py == 0 ? 0.0 : dy);
    const double by0 = ay0 - dy;
    const int32_t kFirst = static_cast<int32_t>(std::ceil(std::max(-ay0, -by0)));
    const int32_t kLast = static_cast<int32_t>(std::floor(
        std::min(static_cast<double>(heightA - 1) - ay0, static_cast<double>(heightB - 1) - by0)));
    for (int32_t k = kFirst; k <= kLast; ++k) {
      m.yA = TapAt(k + ay0, heightA);
      m.yB = TapAt(k + by0, heightB);
      if (!m.yA.inside || !m.yB.inside) continue;
      m.nextA = m.yA.t > 0 ? m.yA.index + 1 : m.yA.index;
      m.nextB = m.yB.t > 0 ? m.yB.index + 1 : m.yB.index;
      row(static_cast<const MatchRow&>(m));
    }
  }
}

}  // namespace quelmar
