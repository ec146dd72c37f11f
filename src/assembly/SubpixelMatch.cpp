#include "assembly/SubpixelMatch.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "util/Errors.h"
#include "util/ProcessorFeatures.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

inline float Blend(const float* r0, const float* r1, int32_t i, float tx, float ty) {
  const float top = r0[i] + (r0[i + 1] - r0[i]) * tx;
  const float bottom = r1[i] + (r1[i + 1] - r1[i]) * tx;
  return top + (bottom - top) * ty;
}

using Sums = MatchSums;

// One pass at shift (dx, dy): a sampled at grid + shift / 2, b at grid - shift / 2, over the
// four grids (whole and half-pixel offsets in each direction) whose sampling phases mirror each
// other: the two blends then smooth alike, and what the half-pixel grids err one way the whole
// ones err mostly the other.
Sums Accumulate(const GreyImage& a, const Gradients& ga, const GreyImage& b, const Gradients& gb,
                double dx, double dy, int32_t columnStep) {
  Sums sums;
  ForEachMatchRow(a.Width, a.Height, b.Width, b.Height, dx, dy, [&](const MatchRow& m) {
    const Tap &txA = m.xA, &txB = m.xB, &tyA = m.yA, &tyB = m.yB;
    const int32_t xFirst = m.xFirst, xEnd = m.xEnd, shiftA = m.shiftA, shiftB = m.shiftB;
    const float* a0 = a.Row(tyA.index);
    const float* a1 = a.Row(m.nextA);
    const float* ax0r = ga.X.Row(tyA.index);
    const float* ax1r = ga.X.Row(m.nextA);
    const float* ay0r = ga.Y.Row(tyA.index);
    const float* ay1r = ga.Y.Row(m.nextA);
    const float* b0 = b.Row(tyB.index);
    const float* b1 = b.Row(m.nextB);
    const float* bx0r = gb.X.Row(tyB.index);
    const float* bx1r = gb.X.Row(m.nextB);
    const float* by0r = gb.Y.Row(tyB.index);
    const float* by1r = gb.Y.Row(m.nextB);
    // One row's sums in single precision (a row holds at most a few thousand pairs), added
    // to the pass's in double.
    struct {
      float hxx = 0, hxy = 0, hyy = 0, bx = 0, by = 0, rr = 0, s = 0, ss = 0, saturated = 0, n = 0;
    } row;
    for (int32_t x = xFirst; x <= xEnd; x += columnStep) {
      const int32_t ia = x + shiftA, ib = x + shiftB;
      const float va = Blend(a0, a1, ia, txA.t, tyA.t);
      const float vb = Blend(b0, b1, ib, txB.t, tyB.t);
      const float gx =
          0.5f * (Blend(ax0r, ax1r, ia, txA.t, tyA.t) + Blend(bx0r, bx1r, ib, txB.t, tyB.t));
      const float gy =
          0.5f * (Blend(ay0r, ay1r, ia, txA.t, tyA.t) + Blend(by0r, by1r, ib, txB.t, tyB.t));
      // Pairs without data count nothing: selects rather than a branch, so that the loop runs
      // on the processor's vectors.
      const float diff = va - vb;
      const bool valid = diff == diff && gx == gx && gy == gy;
      const float r = valid ? diff : 0.0f, jx = valid ? gx : 0.0f, jy = valid ? gy : 0.0f;
      const float pa = valid ? va : 0.0f, pb = valid ? vb : 0.0f;
      row.hxx += jx * jx;
      row.hxy += jx * jy;
      row.hyy += jy * jy;
      row.bx += jx * r;
      row.by += jy * r;
      row.rr += r * r;
      row.s += pa + pb;
      row.ss += pa * pa + pb * pb;
      row.saturated += static_cast<float>((pa >= 254.5f) + (pb >= 254.5f));
      row.n += valid ? 1.0f : 0.0f;
    }
    sums.hxx += row.hxx;
    sums.hxy += row.hxy;
    sums.hyy += row.hyy;
    sums.bx += row.bx;
    sums.by += row.by;
    sums.rr += row.rr;
    sums.s += row.s;
    sums.ss += row.ss;
    sums.saturated += static_cast<int64_t>(row.saturated);
    sums.n += static_cast<int64_t>(row.n);
  });
  return sums;
}

#if QUELMAR_X86_VECTORS
const bool kWideVectors = ProcessorHasWideVectors();

// The squares of every other difference of one row from x on, up to x1 (not included), four
// pairs per step from eight columns of each image, in four running double sums; x moves past
// the columns done.
__attribute__((target("avx2"))) void EveryOtherSquaresWide(const float* ra, const float* rb,
                                                           int32_t& x, int32_t x1, double& sum,
                                                           int32_t& count) {
  const __m256i even = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  __m256d sums = _mm256_setzero_pd();
  int32_t n = 0;
  for (; x + 8 <= x1; x += 8) {
    const __m256 d = _mm256_sub_ps(_mm256_loadu_ps(ra + x), _mm256_loadu_ps(rb + x));
    const __m128 picked = _mm256_castps256_ps128(_mm256_permutevar8x32_ps(d, even));
    const __m256d wide = _mm256_cvtps_pd(picked);
    const __m256d data = _mm256_cmp_pd(wide, wide, _CMP_ORD_Q);
    sums = _mm256_add_pd(sums, _mm256_and_pd(_mm256_mul_pd(wide, wide), data));
    n += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(data)));
  }
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, sums);
  sum += (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  count += n;
}
#endif

// Mean square difference at a whole-pixel shift over every step-th pixel; count of pairs used.
// (Every other pixel, the usual sampling, runs on the processor's vectors where it has them:
// the same pairs, added in another order.)
double MeanSquareAt(const GreyImage& a, const GreyImage& b, int32_t dx, int32_t dy, int32_t step,
                    int32_t& count) {
  const int32_t y0 = std::max(0, -dy), y1 = std::min(b.Height, a.Height - dy);
  const int32_t x0 = std::max(0, -dx), x1 = std::min(b.Width, a.Width - dx);
  double sum = 0;
  count = 0;
  // No columns (or rows) in common: nothing to compare, and no row to point into (an image
  // without columns holds no storage).
  if (x1 <= x0 || y1 <= y0) return 0.0;
  for (int32_t y = y0; y < y1; y += step) {
    const float* ra = a.Row(y + dy) + dx;
    const float* rb = b.Row(y);
    int32_t x = x0;
#if QUELMAR_X86_VECTORS
    if (step == 2 && kWideVectors) EveryOtherSquaresWide(ra, rb, x, x1, sum, count);
#endif
    for (; x < x1; x += step) {
      const float d = ra[x] - rb[x];
      if (std::isnan(d)) continue;
      sum += static_cast<double>(d) * d;
      ++count;
    }
  }
  return count > 0 ? sum / count : 0.0;
}

// The vertex of the parabola through (-1, m), (0, c), (1, p), kept within half a pixel.
double ParabolaVertex(double m, double c, double p) {
  const double curvature = m - 2.0 * c + p;
  if (!(curvature > 0)) return 0.0;
  return std::clamp(0.5 * (m - p) / curvature, -0.5, 0.5);
}

}  // namespace

float SampleBilinear(const ByteStrip& strip, double x, double y) {
  const Tap tx = TapAt(x, strip.width), ty = TapAt(y, strip.height);
  if (!tx.inside || !ty.inside) {
    // A strip one pixel wide or high is sampled along its one line only.
    const bool xOk = strip.width == 1 ? x == 0.0 : tx.inside;
    const bool yOk = strip.height == 1 ? y == 0.0 : ty.inside;
    if (!xOk || !yOk || strip.width < 1 || strip.height < 1) return kNaN;
    const int32_t i = strip.width == 1 ? 0 : tx.index, j = strip.height == 1 ? 0 : ty.index;
    const float fx = strip.width == 1 ? 0.0f : tx.t, fy = strip.height == 1 ? 0.0f : ty.t;
    const uint8_t* r0 = strip.Row(j);
    const uint8_t* r1 = strip.height == 1 ? r0 : strip.Row(j + 1);
    const int32_t i1 = strip.width == 1 ? i : i + 1;
    const float top = r0[i] + (r0[i1] - r0[i]) * fx;
    const float bottom = r1[i] + (r1[i1] - r1[i]) * fx;
    return top + (bottom - top) * fy;
  }
  const uint8_t* r0 = strip.Row(ty.index);
  const uint8_t* r1 = strip.Row(ty.index + 1);
  const int32_t i = tx.index;
  const float top = r0[i] + (static_cast<float>(r0[i + 1]) - r0[i]) * tx.t;
  const float bottom = r1[i] + (static_cast<float>(r1[i + 1]) - r1[i]) * tx.t;
  return top + (bottom - top) * ty.t;
}

GreyImage::GreyImage(int32_t width, int32_t height) : Width(width), Height(height) {
  if (width < 0 || height < 0) throw RangeError("A grey image cannot have a negative size");
  Values.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kNaN);
}

GreyImage GreyFromBytes(const ByteStrip& strip) {
  GreyImage image(strip.width, strip.height);
  for (int32_t y = 0; y < strip.height; ++y) {
    const uint8_t* in = strip.Row(y);
    float* out = image.Row(y);
    for (int32_t x = 0; x < strip.width; ++x) out[x] = in[x];
  }
  return image;
}

float SampleBilinear(const GreyImage& image, double x, double y) {
  if (image.Width < 1 || image.Height < 1) return kNaN;
  const auto tapOf = [](double pos, int32_t size) {
    if (size == 1) return Tap{0, 0.0f, pos == 0.0};
    return TapAt(pos, size);
  };
  const Tap tx = tapOf(x, image.Width), ty = tapOf(y, image.Height);
  if (!tx.inside || !ty.inside) return kNaN;
  const int32_t i1 = image.Width == 1 ? tx.index : tx.index + 1;
  const int32_t j1 = image.Height == 1 ? ty.index : ty.index + 1;
  // A pixel without data spoils the blend only when it carries weight.
  const auto v = [&](int32_t i, int32_t j, float w) {
    return w > 0.0f ? image.At(i, j) * w : 0.0f;
  };
  return v(tx.index, ty.index, (1 - tx.t) * (1 - ty.t)) + v(i1, ty.index, tx.t * (1 - ty.t)) +
         v(tx.index, j1, (1 - tx.t) * ty.t) + v(i1, j1, tx.t * ty.t);
}

std::string MatchVerdictText(MatchVerdict verdict) {
  switch (verdict) {
    case MatchVerdict::Found:
      return "found";
    case MatchVerdict::NoOverlap:
      return "no overlap";
    case MatchVerdict::NoTexture:
      return "no texture in the overlap";
    case MatchVerdict::Saturated:
      return "the overlap is saturated";
    case MatchVerdict::NoMatch:
      break;
  }
  return "the overlaps do not match";
}

Gradients GradientsOf(const GreyImage& image) {
  Gradients g{GreyImage(image.Width, image.Height), GreyImage(image.Width, image.Height)};
  const int32_t w = image.Width, h = image.Height;
  // A central difference where both neighbours have data, a one-sided one beside an edge or a
  // pixel without data, so that the first and last rows with data keep a gradient.
  const auto difference = [](float before, float here, float after) {
    if (!std::isnan(before) && !std::isnan(after)) return 0.5f * (after - before);
    if (!std::isnan(after)) return after - here;
    if (!std::isnan(before)) return here - before;
    return 0.0f;  // a pixel alone in its row or column
  };
  for (int32_t y = 0; y < h; ++y) {
    const float* row = image.Row(y);
    const float* up = y > 0 ? image.Row(y - 1) : nullptr;
    const float* down = y + 1 < h ? image.Row(y + 1) : nullptr;
    float* gx = g.X.Row(y);
    float* gy = g.Y.Row(y);
    // Rows with data throughout (the common case) take the plain differences; the rest, and
    // the edges, the careful rule.
    bool plain = up != nullptr && down != nullptr && w >= 3;
    for (int32_t x = 0; plain && x < w; ++x)
      plain = !std::isnan(row[x]) && !std::isnan(up[x]) && !std::isnan(down[x]);
    if (plain) {
      for (int32_t x = 1; x + 1 < w; ++x) gx[x] = 0.5f * (row[x + 1] - row[x - 1]);
      gx[0] = row[1] - row[0];
      gx[w - 1] = row[w - 1] - row[w - 2];
      for (int32_t x = 0; x < w; ++x) gy[x] = 0.5f * (down[x] - up[x]);
      continue;
    }
    for (int32_t x = 0; x < w; ++x) {
      const float here = row[x];
      if (std::isnan(here)) continue;  // stays NaN
      gx[x] =
          w < 2 ? 0.0f : difference(x > 0 ? row[x - 1] : kNaN, here, x + 1 < w ? row[x + 1] : kNaN);
      gy[x] = h < 2 ? 0.0f : difference(up ? up[x] : kNaN, here, down ? down[x] : kNaN);
    }
  }
  return g;
}

namespace {

ShiftEstimate Refine(const GreyImage& a, const Gradients& ga, const GreyImage& b,
                     const Gradients& gb, double dx, double dy, const ShiftSearch& search) {
  const int32_t step = std::max(1, search.ColumnStep);
  return SolveShift([&](double x, double y) { return Accumulate(a, ga, b, gb, x, y, step); }, dx,
                    dy, search, std::max(1, search.MinOverlap / step));
}

}  // namespace

void JudgeShift(ShiftEstimate& e, const MatchSums& s, int64_t need, const ShiftSearch& search,
                double startX, double startY) {
  e.Overlap = static_cast<int32_t>(std::min<int64_t>(s.n, std::numeric_limits<int32_t>::max()));
  if (s.n < need) {
    e.Verdict = MatchVerdict::NoOverlap;
    return;
  }
  const double n = static_cast<double>(s.n);
  const double mean = s.s / (2 * n);
  e.Contrast = std::sqrt(std::max(0.0, s.ss / (2 * n) - mean * mean));
  e.Residual = std::sqrt(s.rr / n);
  // The smaller eigenvalue of J^T J per pixel: how well the flattest direction pins the shift.
  const double tr = (s.hxx + s.hyy) / n, det = (s.hxx * s.hyy - s.hxy * s.hxy) / (n * n);
  const double smallest = tr / 2 - std::sqrt(std::max(0.0, tr * tr / 4 - det));
  if (static_cast<double>(s.saturated) > search.MaxSaturated * 2 * n) {
    e.Verdict = MatchVerdict::Saturated;
  } else if (e.Contrast < search.MinContrast || !(smallest > 1e-3)) {
    e.Verdict = MatchVerdict::NoTexture;
  } else if (e.Residual > search.MaxResidualShare * e.Contrast * std::sqrt(2.0) ||
             std::hypot(e.Dx - startX, e.Dy - startY) > 1.5 || !std::isfinite(e.Dx + e.Dy)) {
    e.Verdict = MatchVerdict::NoMatch;
  } else {
    e.Verdict = MatchVerdict::Found;
  }
}

ShiftEstimate RefineShift(const GreyImage& a, const GreyImage& b, double dx, double dy,
                          const ShiftSearch& search) {
  return Refine(a, GradientsOf(a), b, GradientsOf(b), dx, dy, search);
}

ShiftEstimate RefineShift(const GreyImage& a, const Gradients& ga, const GreyImage& b,
                          const Gradients& gb, double dx, double dy, const ShiftSearch& search) {
  return Refine(a, ga, b, gb, dx, dy, search);
}

bool WholePixelStart(const GreyImage& a, const GreyImage& b, const ShiftSearch& search, double& dx,
                     double& dy) {
  const int32_t step = std::max(1, search.Step);
  const int32_t need = std::max(1, search.MinOverlap / (step * step));
  const int32_t nx = search.MaxDx - search.MinDx + 1, ny = search.MaxDy - search.MinDy + 1;
  if (nx < 1 || ny < 1) return false;
  const double kNone = std::numeric_limits<double>::infinity();
  std::vector<double> score(static_cast<size_t>(nx) * static_cast<size_t>(ny), kNone);
  const auto at = [&](int32_t x, int32_t y) -> double& {
    return score[static_cast<size_t>(y - search.MinDy) * static_cast<size_t>(nx) +
                 static_cast<size_t>(x - search.MinDx)];
  };
  int32_t bestX = 0, bestY = 0;
  double best = kNone;
  for (int32_t y = search.MinDy; y <= search.MaxDy; ++y) {
    for (int32_t x = search.MinDx; x <= search.MaxDx; ++x) {
      int32_t count = 0;
      const double msd = MeanSquareAt(a, b, x, y, step, count);
      if (count < need) continue;
      at(x, y) = msd;
      if (msd < best) {
        best = msd;
        bestX = x;
        bestY = y;
      }
    }
  }
  if (best == kNone) return false;
  // A parabola through the neighbours starts the refinement closer to the minimum.
  const auto vertex = [&](double m, double c, double p) {
    return (m == kNone || p == kNone) ? 0.0 : ParabolaVertex(m, c, p);
  };
  const double fx = bestX > search.MinDx && bestX < search.MaxDx
                        ? vertex(at(bestX - 1, bestY), best, at(bestX + 1, bestY))
                        : 0.0;
  const double fy = bestY > search.MinDy && bestY < search.MaxDy
                        ? vertex(at(bestX, bestY - 1), best, at(bestX, bestY + 1))
                        : 0.0;
  dx = bestX + fx;
  dy = bestY + fy;
  return true;
}

ShiftEstimate EstimateShift(const GreyImage& a, const GreyImage& b, const ShiftSearch& search) {
  double dx = 0, dy = 0;
  if (!WholePixelStart(a, b, search, dx, dy)) return ShiftEstimate{};
  return RefineShift(a, b, dx, dy, search);
}

}  // namespace quelmar
