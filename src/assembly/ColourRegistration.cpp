#include "assembly/ColourRegistration.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include "assembly/SubpixelMatch.h"
#include "util/ProcessorFeatures.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

ChannelTransform PredictedTransform(const BandPlacement& reference, const BandPlacement& band,
                                    int32_t height) {
  ChannelTransform t;
  const Real k = reference.Scale / band.Scale;
  t.XStep = k;
  t.YStep = k;
  t.X0 = band.CentreX - k * reference.CentreX;
  t.Y0 = band.CentreY - k * reference.CentreY;
  t.MiddleRow = static_cast<Real>(height - 1) / 2;
  return t;
}

namespace {
// Where the band reads row `row` of the reference grid: its stack row, and its first column.
Real ChannelRowAt(const ChannelTransform& t, int32_t row) {
  const auto r = static_cast<Real>(row);
  return t.YStep * r + t.Y0 + t.Dy + t.DyPerRow * (r - t.MiddleRow);
}
Real ChannelColumnAt(const ChannelTransform& t, int32_t row) {
  return t.X0 + t.Dx + t.DxPerRow * (static_cast<Real>(row) - t.MiddleRow);
}
}  // namespace

void SampleChannelRow(const BandSampler& band, const ChannelTransform& t, int32_t width,
                      int32_t row, int16_t* out) {
  band.SampleRow(ChannelRowAt(t, row), ChannelColumnAt(t, row), t.XStep, width, out);
}

void SampleChannelRow(const BandSampler& band, const ChannelTransform& t, int32_t width,
                      int32_t row, int16_t* out, BandSampler::RowCache& cache) {
  band.SampleRow(ChannelRowAt(t, row), ChannelColumnAt(t, row), t.XStep, width, out, cache);
}

std::vector<int16_t> SampleChannel(const BandSampler& band, const ChannelTransform& t,
                                   int32_t width, int32_t firstRow, int32_t count,
                                   BandSampler::RowCache& cache) {
  std::vector<int16_t> plane(static_cast<size_t>(width) * static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    SampleChannelRow(band, t, width, firstRow + i, plane.data() + static_cast<size_t>(i) * width,
                     cache);
  }
  return plane;
}

namespace {

constexpr int32_t kWindowRows = 64;  // rows of one measuring window
constexpr int32_t kMaxWindows = 6;   // windows along the strip, evenly spread
// Columns of a window: the middle of the picture, where every band (an ultraviolet one too)
// has data and the correction is at its best.
constexpr int32_t kWindowColumns = 448;

// One pass of measuring over the windows: how far from the present offset it searches, on
// windows reduced by how much, and on how many of them.
struct WindowPass {
  int32_t Reach;    // whole pixels (of the reduced windows) searched either way
  int32_t Scale;    // 1, or 2 for windows of the means of 2 x 2 pixels
  int32_t Windows;  // that many spread along the strip, the first and the last among them; 0: all
  bool OnCells;     // the band read as the picture's rows are (see SampleReferenceWindows)
};
// First a wide search from the geometry's offset on windows of half the size, three of them
// (WideShift: it only needs to land within a fraction of a pixel, with a drift along the strip
// near enough for the next pass to take out what is left), then twice on all the full windows
// read from what the pass before found, the fraction left (SmallShift): the last is the residual
// (and is taken out too). Where, in every window, the full windows the wide search read give a
// shift (the whole shift nearest its own, then the fraction SmallShift finds there) within kNear
// of the wide search's, that shift stands for the first pass's, and the second pass is the last
// where what it finds is within kSettled: about what one window's measure scatters by, so that a
// third pass would only fold in that scatter (an ultraviolet band, read between its coarse
// samples, leaves more and is looked at once more).
// The wide search reads the band as the picture's rows are (the rows it reads on cells are then
// the picture's own, kept for it). The passes that measure the fraction read each row blended
// from the cells either side of it, so that it lies where the transform puts it: a row on its
// nearest cell lies up to a sixteenth of a row off, alike for many framelets in a row, and
// measured there the bands would line up a little worse.
constexpr WindowPass kPasses[] = {{3, 2, 3, true}, {1, 1, 0, false}, {1, 1, 0, false}};
constexpr double kNear = 0.5;
constexpr Real kSettled = 0.1L;

// Where the measuring windows lie on the reference grid: `Rows` rows from row First(w) for w in
// 0..Count - 1, evenly spread along the strip, and `Columns` columns from `Column`.
struct WindowLayout {
  int32_t Rows, Count, Columns, Column, Height;
  WindowLayout(int32_t width, int32_t height)
      : Rows(std::min(height, kWindowRows)),
        Count(std::clamp(height / std::max(Rows, 1), 1, kMaxWindows)),
        Columns(std::min(width, kWindowColumns)),
        Column((width - Columns) / 2),
        Height(height) {}
  int32_t First(int32_t w) const {
    return Count == 1 ? (Height - Rows) / 2
                      : static_cast<int32_t>(int64_t{Height - Rows} * w / (Count - 1));
  }
};

// The sums of SmallShift's least squares.
struct ShiftSums {
  double xx = 0, xy = 0, yy = 0, xd = 0, yd = 0;
  int32_t n = 0;
};

[[gnu::always_inline]] inline ShiftSums SumsOfShift(const GreyImage& a, const GreyImage& b) {
  // Row by row in floats (rows are short), with pixels without data (or with a neighbour
  // without) weighing nothing: the compiler's vector loops take it.
  ShiftSums s;
  for (int32_t y = 1; y + 1 < a.Height; ++y) {
    const float *av = a.Row(y), *au = a.Row(y - 1), *ad = a.Row(y + 1);
    const float *bv = b.Row(y), *bu = b.Row(y - 1), *bd = b.Row(y + 1);
    float rxx = 0, rxy = 0, ryy = 0, rxd = 0, ryd = 0;
    int32_t rn = 0;
    for (int32_t x = 1; x + 1 < a.Width; ++x) {
      float gx = 0.25f * ((av[x + 1] - av[x - 1]) + (bv[x + 1] - bv[x - 1]));
      float gy = 0.25f * ((ad[x] - au[x]) + (bd[x] - bu[x]));
      float d = bv[x] - av[x];
      const bool valid = (gx == gx) & (gy == gy) & (d == d);
      gx = valid ? gx : 0.0f;
      gy = valid ? gy : 0.0f;
      d = valid ? d : 0.0f;
      rxx += gx * gx;
      rxy += gx * gy;
      ryy += gy * gy;
      rxd += gx * d;
      ryd += gy * d;
      rn += valid ? 1 : 0;
    }
    s.xx += rxx;
    s.xy += rxy;
    s.yy += ryy;
    s.xd += rxd;
    s.yd += ryd;
    s.n += rn;
  }
  return s;
}

// The same on wide vectors where the processor has them (the sums then add up in another
// order).
#if QUELMAR_X86_VECTORS
__attribute__((target("avx2"))) ShiftSums SumsOfShiftWide(const GreyImage& a, const GreyImage& b) {
  return SumsOfShift(a, b);
}
const bool kWideVectors = ProcessorHasWideVectors();
#endif
ShiftSums SumsOfShiftPlain(const GreyImage& a, const GreyImage& b) {
  return SumsOfShift(a, b);
}

// What is left of a shift of a fraction of a pixel between a and b (b(x, y) = a(x + Dx, y + Dy))
// once the band has been read where the wide search put it: in one least-squares step on the
// difference of the two windows, against the mean of their gradients (central differences, so
// the windows' edge pixels take no part). With the mean of both gradients the step is exact to
// the second order of the shift, with no image read between its pixels (so no blend pulls it
// toward whole pixels).
ShiftEstimate SmallShift(const GreyImage& a, const GreyImage& b, int32_t minOverlap) {
#if QUELMAR_X86_VECTORS
  const ShiftSums sums = kWideVectors ? SumsOfShiftWide(a, b) : SumsOfShiftPlain(a, b);
#else
  const ShiftSums sums = SumsOfShiftPlain(a, b);
#endif
  const double sxx = sums.xx, sxy = sums.xy, syy = sums.yy, sxd = sums.xd, syd = sums.yd;
  const int32_t n = sums.n;
  ShiftEstimate e;
  e.Overlap = n;
  if (n < minOverlap) return e;
  // Flat windows, or texture in one direction only, cannot tell the shift.
  const double det = sxx * syy - sxy * sxy;
  const double trace = sxx + syy;
  if (!(det > 1e-6 * trace * trace) || !(trace > 1e-3 * n)) {
    e.Verdict = MatchVerdict::NoTexture;
    return e;
  }
  e.Dx = (syy * sxd - sxy * syd) / det;
  e.Dy = (sxx * syd - sxy * sxd) / det;
  e.Verdict =
      std::fabs(e.Dx) <= 1 && std::fabs(e.Dy) <= 1 ? MatchVerdict::Found : MatchVerdict::NoMatch;
  return e;
}

// The image of the means of its 2 x 2 pixels (no data where any of the four has none).
GreyImage Halved(const GreyImage& image) {
  GreyImage half(image.Width / 2, image.Height / 2);
  for (int32_t y = 0; y < half.Height; ++y) {
    const float* r0 = image.Row(2 * y);
    const float* r1 = image.Row(2 * y + 1);
    float* out = half.Row(y);
    for (int32_t x = 0; x < half.Width; ++x) {
      out[x] = (r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1]) * 0.25f;
    }
  }
  return half;
}

constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

// Samples (values x 16) as grey levels, no data as NaN.
void GreyOfRow(const int16_t* in, int32_t count, float* out) {
  for (int32_t x = 0; x < count; ++x) {
    out[x] = in[x] >= 0 ? static_cast<float>(in[x]) * 0.0625f : kNoValue;
  }
}

// Rows first..first + count - 1, columns column..column + columns - 1 of a plane (values x 16,
// `width` columns) as grey levels.
GreyImage GreyOf(const std::vector<int16_t>& plane, int32_t width, int32_t first, int32_t count,
                 int32_t column, int32_t columns) {
  GreyImage image(columns, count);
  for (int32_t y = 0; y < count; ++y) {
    GreyOfRow(plane.data() + static_cast<size_t>(first + y) * static_cast<size_t>(width) + column,
              columns, image.Row(y));
  }
  return image;
}

// Brings b to a's mean and spread over the pixels both hold, so that bands of different
// brightness and contrast are compared by their pattern alone.
[[gnu::always_inline]] inline void MatchLevelsOf(const GreyImage& a, GreyImage& b) {
  double sa = 0, sa2 = 0, sb = 0, sb2 = 0;
  int64_t n = 0;
  for (int32_t y = 0; y < a.Height; ++y) {
    const float *ra = a.Row(y), *rb = b.Row(y);
    float ta = 0, ta2 = 0, tb = 0, tb2 = 0;
    int32_t rn = 0;
    for (int32_t x = 0; x < a.Width; ++x) {
      const bool valid = (ra[x] == ra[x]) & (rb[x] == rb[x]);
      const float va = valid ? ra[x] : 0.0f, vb = valid ? rb[x] : 0.0f;
      ta += va;
      ta2 += va * va;
      tb += vb;
      tb2 += vb * vb;
      rn += valid ? 1 : 0;
    }
    sa += ta;
    sa2 += ta2;
    sb += tb;
    sb2 += tb2;
    n += rn;
  }
  if (n < 16) return;
  const double ma = sa / n, mb = sb / n;
  const double da = std::sqrt(std::max(sa2 / n - ma * ma, 0.0));
  const double db = std::sqrt(std::max(sb2 / n - mb * mb, 0.0));
  if (db < 1e-6) return;
  const double k = da / db;
  // NaN stays NaN.
  const auto scale = static_cast<float>(k), shift = static_cast<float>(ma - mb * k);
  for (float& v : b.Values) v = v * scale + shift;
}

#if QUELMAR_X86_VECTORS
__attribute__((target("avx2"))) void MatchLevelsWide(const GreyImage& a, GreyImage& b) {
  MatchLevelsOf(a, b);
}
#endif
void MatchLevelsPlain(const GreyImage& a, GreyImage& b) {
  MatchLevelsOf(a, b);
}

void MatchLevels(const GreyImage& a, GreyImage& b) {
#if QUELMAR_X86_VECTORS
  if (kWideVectors) return MatchLevelsWide(a, b);
#endif
  MatchLevelsPlain(a, b);
}

// The pixel pairs of b(x, y) and a(x + dx, y + dy) that both have data, every second column and
// row: the sum of their squared differences and how many there are.
[[gnu::always_inline]] inline std::pair<double, int64_t> SquaresAt(const GreyImage& a,
                                                                   const GreyImage& b, int32_t dx,
                                                                   int32_t dy) {
  const int32_t y0 = std::max(0, -dy), y1 = std::min(b.Height, a.Height - dy);
  const int32_t x0 = std::max(0, -dx), x1 = std::min(b.Width, a.Width - dx);
  double sum = 0;
  int64_t count = 0;
  for (int32_t y = y0; y < y1; y += 2) {
    const float* ra = a.Row(y + dy) + dx;
    const float* rb = b.Row(y);
    float rowSum = 0;
    int32_t rowCount = 0;
    for (int32_t x = x0; x < x1; x += 2) {
      const float d = ra[x] - rb[x];
      const bool valid = d == d;
      rowSum += valid ? d * d : 0.0f;
      rowCount += valid ? 1 : 0;
    }
    sum += rowSum;
    count += rowCount;
  }
  return {sum, count};
}

// The wide search: b(x, y) = a(x + Dx, y + Dy) for the whole shift up to `reach` either way that
// leaves the smallest mean square difference, then what is left in one least-squares step on the
// overlap at that shift (SmallShift). As a match judges it: too few pixel pairs, most of the
// overlap at 255, too flat, or disagreeing about as much as unrelated windows do, and the
// windows cannot tell.
ShiftEstimate ShiftNear(const GreyImage& a, const GreyImage& b, int32_t bestX, int32_t bestY,
                        double best, int32_t minOverlap);

// The whole shift up to `reach` either way with the smallest mean square difference over at
// least `need` pixel pairs: (dx, dy, that mean); the mean infinite where none has enough.
struct WholeShift {
  int32_t X = 0, Y = 0;
  double Mean = std::numeric_limits<double>::infinity();
};

[[gnu::always_inline]] inline WholeShift BestWholeShiftOf(const GreyImage& a, const GreyImage& b,
                                                          int32_t reach, int64_t need) {
  WholeShift best;
  for (int32_t dy = -reach; dy <= reach; ++dy) {
    for (int32_t dx = -reach; dx <= reach; ++dx) {
      const auto [sum, count] = SquaresAt(a, b, dx, dy);
      if (count < need) continue;
      if (sum / static_cast<double>(count) < best.Mean)
        best = {dx, dy, sum / static_cast<double>(count)};
    }
  }
  return best;
}

#if QUELMAR_X86_VECTORS
__attribute__((target("avx2"))) WholeShift BestWholeShiftWide(const GreyImage& a,
                                                              const GreyImage& b, int32_t reach,
                                                              int64_t need) {
  return BestWholeShiftOf(a, b, reach, need);
}
#endif
WholeShift BestWholeShiftPlain(const GreyImage& a, const GreyImage& b, int32_t reach,
                               int64_t need) {
  return BestWholeShiftOf(a, b, reach, need);
}

ShiftEstimate WideShift(const GreyImage& a, const GreyImage& b, int32_t reach, int32_t minOverlap) {
  const int64_t need = std::max(1, minOverlap / 4);
#if QUELMAR_X86_VECTORS
  const WholeShift whole =
      kWideVectors ? BestWholeShiftWide(a, b, reach, need) : BestWholeShiftPlain(a, b, reach, need);
#else
  const WholeShift whole = BestWholeShiftPlain(a, b, reach, need);
#endif
  const int32_t bestX = whole.X, bestY = whole.Y;
  const double best = whole.Mean;
  if (!std::isfinite(best)) return ShiftEstimate{};
  return ShiftNear(a, b, bestX, bestY, best, minOverlap);
}

// The shift of b against a as the whole shift (bestX, bestY) and the fraction SmallShift finds
// on the overlap there, judged as a match judges it. `best`: the mean square difference at the
// whole shift (NaN: worked out here).
ShiftEstimate ShiftNear(const GreyImage& a, const GreyImage& b, int32_t bestX, int32_t bestY,
                        double best, int32_t minOverlap) {
  ShiftEstimate e;
  // The overlap at the whole shift, and its figures.
  const int32_t x0 = std::max(0, -bestX), x1 = std::min(b.Width, a.Width - bestX);
  const int32_t y0 = std::max(0, -bestY), y1 = std::min(b.Height, a.Height - bestY);
  GreyImage ca(x1 - x0, y1 - y0), cb(x1 - x0, y1 - y0);
  double sum = 0, squares = 0;
  int64_t count = 0, saturated = 0;
  for (int32_t y = y0; y < y1; ++y) {
    const float* ra = a.Row(y + bestY) + bestX;
    const float* rb = b.Row(y);
    float* oa = ca.Row(y - y0);
    float* ob = cb.Row(y - y0);
    float rowSum = 0, rowSquares = 0;
    int32_t rowCount = 0, rowSaturated = 0;
    for (int32_t x = x0; x < x1; ++x) {
      oa[x - x0] = ra[x];
      ob[x - x0] = rb[x];
      const bool valid = (ra[x] == ra[x]) & (rb[x] == rb[x]);
      const float va = valid ? ra[x] : 0.0f, vb = valid ? rb[x] : 0.0f;
      rowSum += va + vb;
      rowSquares += va * va + vb * vb;
      rowCount += valid ? 1 : 0;
      rowSaturated += (va >= 254.5f ? 1 : 0) + (vb >= 254.5f ? 1 : 0);
    }
    sum += rowSum;
    squares += rowSquares;
    count += rowCount;
    saturated += rowSaturated;
  }
  if (count < minOverlap) return e;
  const auto n = static_cast<double>(count);
  if (std::isnan(best)) {
    double d2 = 0;
    for (int32_t y = 0; y < ca.Height; ++y) {
      for (int32_t x = 0; x < ca.Width; ++x) {
        const float d = ca.Row(y)[x] - cb.Row(y)[x];
        d2 += d == d ? d * d : 0.0f;
      }
    }
    best = d2 / n;
  }
  const double mean = sum / (2 * n);
  const double contrast = std::sqrt(std::max(0.0, squares / (2 * n) - mean * mean));
  e = SmallShift(ca, cb, minOverlap);
  e.Dx += bestX;
  e.Dy += bestY;
  e.Contrast = contrast;
  e.Residual = std::sqrt(best);
  if (static_cast<double>(saturated) > n) {
    e.Verdict = MatchVerdict::Saturated;
  } else if (contrast < 0.75) {
    e.Verdict = MatchVerdict::NoTexture;
  } else if (e.Found() && e.Residual > 0.7 * contrast * std::sqrt(2.0)) {
    e.Verdict = MatchVerdict::NoMatch;
  }
  return e;
}

struct WindowShift {
  Real Row;  // the window's middle row, from the transform's middle row
  Real Dx, Dy;
};

// Least squares line v = a + b x through the points; b is 0 with fewer than two distinct xs.
std::pair<Real, Real> FitLine(const std::vector<Real>& x, const std::vector<Real>& v) {
  const auto n = static_cast<Real>(x.size());
  Real sx = 0, sv = 0, sxx = 0, sxv = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sx += x[i];
    sv += v[i];
    sxx += x[i] * x[i];
    sxv += x[i] * v[i];
  }
  const Real d = n * sxx - sx * sx;
  if (x.size() < 2 || !(std::fabs(d) > 1e-9L)) return {sv / n, 0};
  const Real b = (n * sxv - sx * sv) / d;
  return {(sv - b * sx) / n, b};
}

Real Median(std::vector<Real> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// The shifts of the band against the reference in windows along the strip: b(x, y) =
// reference(x + Dx, y + Dy) for the band sampled with the transform. `cache`: where the band's
// window rows read (the windows' rows along the strip read alike, as the picture's rows do).
// `near`: set false where a window of the wide pass gives no shift on its full windows within
// kNear of the wide search's.
std::vector<WindowShift> MeasureWindows(const BandSampler& band,
                                        const ReferenceWindows& referenceWindows, int32_t width,
                                        int32_t height, const ChannelTransform& transform,
                                        const WindowPass& pass, BandSampler::RowCache& cache,
                                        std::string& why, bool& near) {
  const WindowLayout layout(width, height);
  const int32_t minOverlap = 256 / (pass.Scale * pass.Scale);
  ChannelTransform part = transform;
  part.X0 += transform.XStep * static_cast<Real>(layout.Column);
  std::vector<WindowShift> found;
  const int32_t looked = pass.Windows >= 2 ? std::min(pass.Windows, layout.Count) : layout.Count;
  for (int32_t k = 0; k < looked; ++k) {
    const int32_t w = looked == layout.Count
                          ? k
                          : static_cast<int32_t>(int64_t{k} * (layout.Count - 1) / (looked - 1));
    if (static_cast<size_t>(w) >= referenceWindows.Images.size()) break;
    const int32_t first = layout.First(w), rows = layout.Rows, columns = layout.Columns;
    GreyImage b = GreyOf(SampleChannel(band, part, columns, first, rows, cache), columns, 0, rows,
                         0, columns);
    const GreyImage& full = referenceWindows.Images[static_cast<size_t>(w)];
    GreyImage reduced;
    if (pass.Scale == 2) reduced = Halved(full);
    const GreyImage& a = pass.Scale == 2 ? reduced : full;
    ShiftEstimate e;
    if (pass.Scale == 1) {
      MatchLevels(a, b);
      e = SmallShift(a, b, minOverlap);
    } else {
      GreyImage halved = Halved(b);
      MatchLevels(a, halved);
      e = WideShift(a, halved, pass.Reach, minOverlap);
      e.Dx *= pass.Scale;
      e.Dy *= pass.Scale;
      if (e.Found()) {
        MatchLevels(full, b);
        const ShiftEstimate fine = ShiftNear(full, b, static_cast<int32_t>(std::lround(e.Dx)),
                                             static_cast<int32_t>(std::lround(e.Dy)),
                                             std::numeric_limits<double>::quiet_NaN(),
                                             minOverlap * pass.Scale * pass.Scale);
        if (fine.Found() && std::fabs(fine.Dx - e.Dx) <= kNear &&
            std::fabs(fine.Dy - e.Dy) <= kNear) {
          e.Dx = fine.Dx;
          e.Dy = fine.Dy;
        } else {
          near = false;
        }
      } else {
        near = false;
      }
    }
    if (!e.Found()) {
      why = MatchVerdictText(e.Verdict);
      continue;
    }
    const Real middle = static_cast<Real>(first) + static_cast<Real>(rows - 1) / 2;
    found.push_back(
        {middle - transform.MiddleRow, static_cast<Real>(e.Dx), static_cast<Real>(e.Dy)});
  }
  return found;
}

// Folds the windows' shifts into the transform as an offset and, where the windows show it, a
// drift along the strip; gives the median size of the shifts folded in.
Real Fold(const std::vector<WindowShift>& shifts, int32_t height, ChannelTransform& t,
          ChannelRegistration& record) {
  std::vector<Real> rows, dxs, dys, sizes;
  for (const WindowShift& s : shifts) {
    rows.push_back(s.Row);
    dxs.push_back(s.Dx);
    dys.push_back(s.Dy);
    sizes.push_back(std::hypot(s.Dx, s.Dy));
  }
  // A line through the windows, refitted without the ones far off it (a crater's shadow that
  // differs between the bands, a window of one colour).
  auto robust = [&](const std::vector<Real>& v) {
    auto [a, b] = FitLine(rows, v);
    std::vector<Real> off;
    for (size_t i = 0; i < v.size(); ++i) off.push_back(std::fabs(v[i] - a - b * rows[i]));
    const Real limit = std::max<Real>(0.1L, 3 * Median(off));
    std::vector<Real> keptRows, keptValues;
    for (size_t i = 0; i < v.size(); ++i) {
      if (off[i] <= limit) {
        keptRows.push_back(rows[i]);
        keptValues.push_back(v[i]);
      }
    }
    std::tie(a, b) = FitLine(keptRows, keptValues);
    // A drift is kept only where it moves the band by a twentieth of a pixel over the strip.
    if (std::fabs(b) * height < 0.05L || keptRows.size() < 3) {
      return std::pair<Real, Real>{Median(keptValues), 0};
    }
    return std::pair<Real, Real>{a, b};
  };
  const auto [ax, bx] = robust(dxs);
  const auto [ay, by] = robust(dys);
  // The band at reference (X, Y) must show what the reference shows there: it is read at the
  // position of reference (X - Dx, Y - Dy).
  t.Dx -= t.XStep * ax;
  t.Dy -= t.YStep * ay;
  t.DxPerRow -= t.XStep * bx;
  t.DyPerRow -= t.YStep * by;
  record.Dx -= ax;
  record.Dy -= ay;
  record.DxPer1000 -= bx * 1000;
  record.DyPer1000 -= by * 1000;
  return Median(sizes);
}

}  // namespace

ReferenceWindows ReferenceWindowsOf(int32_t width, int32_t height) {
  const WindowLayout layout(width, height);
  ReferenceWindows windows;
  windows.Images.assign(static_cast<size_t>(layout.Count), GreyImage(layout.Columns, layout.Rows));
  windows.Width = width;
  windows.Height = height;
  return windows;
}

void ReadReferenceWindows(const BandSampler& reference, const ChannelTransform& referenceTransform,
                          int32_t part, int32_t parts, ReferenceWindows& windows) {
  // The windows along the strip read their rows at the same places within their framelets: the
  // rows at one place are read by one thread, which alone works out what they read.
  const WindowLayout layout(windows.Width, windows.Height);
  ChannelTransform t = referenceTransform;
  t.X0 += referenceTransform.XStep * static_cast<Real>(layout.Column);
  // Read as the picture's rows are (on cells where they are): the reference's rows read here
  // are the picture's own, kept for it.
  BandSampler::RowCache cache;
  cache.ReadOnCells();
  std::vector<int16_t> row(static_cast<size_t>(layout.Columns));
  for (size_t w = 0; w < windows.Images.size(); ++w) {
    GreyImage& image = windows.Images[w];
    for (int32_t i = 0; i < layout.Rows; ++i) {
      const int32_t y = layout.First(static_cast<int32_t>(w)) + i;
      if (reference.ShareOf(ChannelRowAt(t, y), parts) != part) continue;
      SampleChannelRow(reference, t, layout.Columns, y, row.data(), cache);
      GreyOfRow(row.data(), layout.Columns, image.Row(i));
    }
  }
}

void RegisterChannel(const BandSampler& band, const ReferenceWindows& referenceWindows,
                     int32_t width, int32_t height, ChannelTransform& transform,
                     ChannelRegistration& record) {
  std::string why = "no windows to compare";
  BandSampler::RowCache cells, fine;
  cells.ReadOnCells();
  // (An ultraviolet band's cells are as fine as its maps: it is read through them, as sharp as
  // it reads.)
  if (!band.Ultraviolet()) fine.ReadBetweenCells();
  bool near = true;
  for (size_t pass = 0; pass < std::size(kPasses); ++pass) {
    const std::vector<WindowShift> shifts =
        MeasureWindows(band, referenceWindows, width, height, transform, kPasses[pass],
                       kPasses[pass].OnCells ? cells : fine, why, near);
    if (shifts.empty()) {
      if (pass == 0) {
        record.Measured = false;
        record.Note = "not measured: " + why;
        return;
      }
      break;
    }
    record.Measured = true;
    record.Windows = static_cast<int32_t>(shifts.size());
    record.Residual = Fold(shifts, height, transform, record);
    // A fraction left as small as the measure is fine is the last; a larger one (an ultraviolet
    // band, read between its coarse samples) is looked at once more.
    if (near && pass >= 1 && record.Residual <= kSettled) break;
  }
}

}  // namespace quelmar
