#include "assembly/OverlapMatch.h"
#include "util/ProcessorFeatures.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

constexpr int32_t kLanes = 8;  // sums kept apart per column of a block of this many
// Rows each diagonal grid samples, at least, for the match to take those two grids alone.
constexpr int32_t kDiagonalRows = 2;
// Rows from both images' whole rows within which a half-way grid lies on their corner.
constexpr double kNearCorner = 0.1;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

using Sums = MatchSums;

// One lane set of a row's sums (Lanes{} for all of them 0).
struct Lanes {
  float hxx[kLanes], hxy[kLanes], hyy[kLanes], bx[kLanes], by[kLanes], rr[kLanes], s[kLanes],
      ss[kLanes], sat[kLanes], n[kLanes];
};

// One sampled row pair: each image's grey levels and slopes already blended down the columns
// (between the two rows it samples), to be blended along the row with the weight of the next
// column.
struct RowPair {
  const float *a, *ax, *ay;
  const float *b, *bx, *by;
  float txA, txB;
};

inline float Along(const float* v, int32_t i, float tx) {
  return v[i] + (v[i + 1] - v[i]) * tx;
}

// The selects below work on the bits, not on comparisons of floats: a comparison may raise a
// floating-point exception, which keeps the compiler from running the loop on vectors.
inline uint32_t DataMask(float v) {
  return (std::bit_cast<uint32_t>(v) & 0x7fffffffu) <= 0x7f800000u ? ~0u : 0u;  // not NaN
}
inline float Keep(float v, uint32_t mask) {
  return std::bit_cast<float>(std::bit_cast<uint32_t>(v) & mask);
}
// a where the mask is set, b where it is clear.
inline float Select(uint32_t mask, float a, float b) {
  return std::bit_cast<float>((std::bit_cast<uint32_t>(a) & mask) |
                              (std::bit_cast<uint32_t>(b) & ~mask));
}
// 1 for a grey level of 254.5 or more (v is a grey level or 0, never NaN).
inline float White(float v) {
  return std::bit_cast<int32_t>(v) >= std::bit_cast<int32_t>(254.5f) ? 1.0f : 0.0f;
}

// Adds the pair at columns ia (in a) and ib (in b) into lane j.
inline void AddPair(const RowPair& p, int32_t ia, int32_t ib, Lanes& l, int32_t j) {
  const float va = Along(p.a, ia, p.txA);
  const float vb = Along(p.b, ib, p.txB);
  const float gx = 0.5f * (Along(p.ax, ia, p.txA) + Along(p.bx, ib, p.txB));
  const float gy = 0.5f * (Along(p.ay, ia, p.txA) + Along(p.by, ib, p.txB));
  // Pairs without data count nothing.
  const float diff = va - vb;
  const uint32_t valid = DataMask(diff) & DataMask(gx) & DataMask(gy);
  const float r = Keep(diff, valid), jx = Keep(gx, valid), jy = Keep(gy, valid);
  const float pa = Keep(va, valid), pb = Keep(vb, valid);
  l.hxx[j] += jx * jx;
  l.hxy[j] += jx * jy;
  l.hyy[j] += jy * jy;
  l.bx[j] += jx * r;
  l.by[j] += jy * r;
  l.rr[j] += r * r;
  l.s[j] += pa + pb;
  l.ss[j] += pa * pa + pb * pb;
  l.sat[j] += White(pa) + White(pb);
  l.n[j] += Keep(1.0f, valid);
}

#if QUELMAR_X86_VECTORS
#define QUELMAR_WIDE __attribute__((target("avx2"), always_inline)) inline
QUELMAR_WIDE __m256 WideAlong(const float* v, int32_t i, __m256 tx) {
  const __m256 here = _mm256_loadu_ps(v + i), next = _mm256_loadu_ps(v + i + 1);
  return _mm256_add_ps(here, _mm256_mul_ps(_mm256_sub_ps(next, here), tx));
}
// As White.
QUELMAR_WIDE __m256 WideWhite(__m256 v) {
  const __m256i belowWhite = _mm256_set1_epi32(std::bit_cast<int32_t>(254.5f) - 1);
  return _mm256_and_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_castps_si256(v), belowWhite)),
                       _mm256_set1_ps(1.0f));
}

// AddPair on eight columns at once with the wider vectors of processors since 2013: the same
// operations in the same order on each lane (no fused multiply-adds), so the same sums to the
// last bit. The sums of the whole blocks of kLanes columns from xFirst, into `l` (whatever it
// held: as if added to Lanes{}); gives the first column left.
__attribute__((target("avx2"))) int32_t WideRowSums(const RowPair& p, int32_t xFirst, int32_t xEnd,
                                                    int32_t shiftA, int32_t shiftB, Lanes& l) {
  static_assert(kLanes == 8);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 txA = _mm256_set1_ps(p.txA), txB = _mm256_set1_ps(p.txB);
  // The slopes are kept twice as large (the sums of both images' rather than their means), and
  // the sums that hold them scaled back on the way out: scaling by powers of two is exact, so the
  // sums are AddPair's to the last bit, for two multiplications fewer per block.
  const __m256 quarter = _mm256_set1_ps(0.25f), half = _mm256_set1_ps(0.5f);
  __m256 hxx = _mm256_setzero_ps(), hxy = hxx, hyy = hxx, bx = hxx, by = hxx, rr = hxx, s = hxx,
         ss = hxx, sat = hxx, n = hxx;
  int32_t x = xFirst;
  for (; x + kLanes - 1 <= xEnd; x += kLanes) {
    const int32_t ia = x + shiftA, ib = x + shiftB;
    const __m256 va = WideAlong(p.a, ia, txA);
    const __m256 vb = WideAlong(p.b, ib, txB);
    const __m256 gx = _mm256_add_ps(WideAlong(p.ax, ia, txA), WideAlong(p.bx, ib, txB));
    const __m256 gy = _mm256_add_ps(WideAlong(p.ay, ia, txA), WideAlong(p.by, ib, txB));
    const __m256 diff = _mm256_sub_ps(va, vb);
    // Grey levels and slopes are finite: their sum is NaN exactly where one of them is.
    const __m256 all = _mm256_add_ps(_mm256_add_ps(diff, gx), gy);
    const __m256 invalid = _mm256_cmp_ps(all, all, _CMP_UNORD_Q);
    const __m256 r = _mm256_andnot_ps(invalid, diff), jx = _mm256_andnot_ps(invalid, gx),
                 jy = _mm256_andnot_ps(invalid, gy);
    const __m256 pa = _mm256_andnot_ps(invalid, va), pb = _mm256_andnot_ps(invalid, vb);
    hxx = _mm256_add_ps(hxx, _mm256_mul_ps(jx, jx));
    hxy = _mm256_add_ps(hxy, _mm256_mul_ps(jx, jy));
    hyy = _mm256_add_ps(hyy, _mm256_mul_ps(jy, jy));
    bx = _mm256_add_ps(bx, _mm256_mul_ps(jx, r));
    by = _mm256_add_ps(by, _mm256_mul_ps(jy, r));
    rr = _mm256_add_ps(rr, _mm256_mul_ps(r, r));
    s = _mm256_add_ps(s, _mm256_add_ps(pa, pb));
    ss = _mm256_add_ps(ss, _mm256_add_ps(_mm256_mul_ps(pa, pa), _mm256_mul_ps(pb, pb)));
    sat = _mm256_add_ps(sat, _mm256_add_ps(WideWhite(pa), WideWhite(pb)));
    n = _mm256_add_ps(n, _mm256_andnot_ps(invalid, one));
  }
  _mm256_storeu_ps(l.hxx, _mm256_mul_ps(quarter, hxx));
  _mm256_storeu_ps(l.hxy, _mm256_mul_ps(quarter, hxy));
  _mm256_storeu_ps(l.hyy, _mm256_mul_ps(quarter, hyy));
  _mm256_storeu_ps(l.bx, _mm256_mul_ps(half, bx));
  _mm256_storeu_ps(l.by, _mm256_mul_ps(half, by));
  _mm256_storeu_ps(l.rr, rr);
  _mm256_storeu_ps(l.s, s);
  _mm256_storeu_ps(l.ss, ss);
  _mm256_storeu_ps(l.sat, sat);
  _mm256_storeu_ps(l.n, n);
  return x;
}

const bool kHasWideVectors = ProcessorHasWideVectors();
#endif
std::atomic<bool> wideWanted{true};

#if QUELMAR_X86_VECTORS
bool WideWanted() {
  return kHasWideVectors && wideWanted.load(std::memory_order_relaxed);
}
#endif

#define QUELMAR_INLINE __attribute__((always_inline)) inline

// Rows r0 and r1 of an image w wide blended down the columns with the weight ty of r1, into
// out; inlined into a plain and a wide build of the same loop (the same values either way).
QUELMAR_INLINE void Down(const float* r0, const float* r1, float ty, int32_t w, float* out) {
  for (int32_t x = 0; x < w; ++x) out[x] = r0[x] + (r1[x] - r0[x]) * ty;
}

// How a side's slope down the columns is taken.
enum class SlopeRule : uint8_t {
  Blended,  // its slopes blended down (the half-way grids)
  Moves,    // twice the slope of the blend itself (the image the whole rows' grid moves)
  Still,    // none (the other image on those grids)
};

// The grey levels and both slopes of the rows a match row samples in one image, blended down.
struct DownRows {
  const GreyImage *image, *x, *y;
  int32_t row, next;
  float t;
  SlopeRule slope;
};
QUELMAR_INLINE void DownSide(const DownRows& side, float* out) {
  const int32_t w = side.image->Width;
  const float* r0 = side.image->Row(side.row);
  const float* r1 = side.image->Row(side.next);
  Down(r0, r1, side.t, w, out);
  Down(side.x->Row(side.row), side.x->Row(side.next), side.t, w, out + w);
  float* slope = out + 2 * w;
  if (side.slope == SlopeRule::Blended) {
    Down(side.y->Row(side.row), side.y->Row(side.next), side.t, w, slope);
  } else if (side.slope == SlopeRule::Still) {
    for (int32_t x = 0; x < w; ++x) slope[x] = 0.0f;
  } else if (side.next != side.row) {
    // Twice over: the pair's slope is the mean of both sides', and the other side counts none.
    for (int32_t x = 0; x < w; ++x) slope[x] = 2.0f * (r1[x] - r0[x]);
  } else {
    const float* g = side.y->Row(side.row);
    for (int32_t x = 0; x < w; ++x) slope[x] = 2.0f * g[x];
  }
}
// Image a's three rows into out, then b's.
QUELMAR_INLINE void DownAll(const DownRows& a, const DownRows& b, float* out) {
  DownSide(a, out);
  DownSide(b, out + 3 * a.image->Width);
}

void DownPlain(const DownRows& a, const DownRows& b, float* out) {
  DownAll(a, b, out);
}
#if QUELMAR_X86_VECTORS
__attribute__((target("avx2"))) void DownWide(const DownRows& a, const DownRows& b, float* out) {
  DownAll(a, b, out);
}
#endif

// Whether two match rows sample the same rows of both images with the same weights (the two
// grids that differ only along the rows do).
bool SameRows(const MatchRow& m, const MatchRow& o) {
  return (m.grid >> 1) == (o.grid >> 1) && m.yA.index == o.yA.index && m.nextA == o.nextA &&
         m.yA.t == o.yA.t && m.yB.index == o.yB.index && m.nextB == o.nextB && m.yB.t == o.yB.t;
}

Sums Accumulate(const MatchStrip& sa, const MatchStrip& sb, double dx, double dy, MatchRows which,
                MatchScratch& scratch) {
  const GreyImage &a = sa.Image, &b = sb.Image;
  const Gradients &ga = sa.Slopes, &gb = sb.Slopes;
  Sums sums;
  std::vector<MatchRow>& rows = scratch.Rows;
  std::vector<float>& down = scratch.Down;
  std::vector<uint8_t>& done = scratch.Done;
  rows.clear();
  ForEachMatchRow(
      a.Width, a.Height, b.Width, b.Height, dx, dy, [&](const MatchRow& m) { rows.push_back(m); },
      which);
  if (rows.empty()) return sums;
  // Two of the four half-way grids, the whole-pixel one and the one offset by half a pixel both
  // ways, mirror the blends' phases along the rows and down the columns as well as all four do,
  // for half the work, as long as each samples a few rows with data: on an overlap of a row or
  // two one of them may sample none, and the rows and columns of the other then go unmirrored.
  // A row of a grid counts where every row it blends has data in most of its columns (the rows
  // of a corrected strip beyond its band have data only at its sides).
  const auto full = [](const MatchStrip& s, int32_t row) {
    return 2 * s.RowData[static_cast<size_t>(row)] > s.Image.Width;
  };
  const auto sampled = [&](int32_t grid) {
    return std::count_if(rows.begin(), rows.end(), [&](const MatchRow& m) {
      return m.grid == grid && full(sa, m.yA.index) && full(sa, m.nextA) && full(sb, m.yB.index) &&
             full(sb, m.nextB);
    });
  };
  const auto keepOnly = [&](int32_t first, int32_t second) {
    rows.erase(
        std::remove_if(rows.begin(), rows.end(),
                       [&](const MatchRow& m) { return m.grid != first && m.grid != second; }),
        rows.end());
  };
  // How far the half-way grids down the columns (first: the one at dy / 2) lie from both images'
  // whole rows.
  const auto offRows = [dy](int32_t py) {
    const double at = dy / 2.0 + py / 2.0;
    const double over = at - std::floor(at);
    return std::min(over, 1.0 - over);
  };
  const bool halfWay = which != MatchRows::Whole;
  const bool offCorner = which == MatchRows::HalfWayOffCorner;
  if (offCorner && offRows(0) < kNearCorner && std::min(sampled(2), sampled(3)) >= kDiagonalRows) {
    keepOnly(2, 3);
  } else if (offCorner && offRows(1) < kNearCorner &&
             std::min(sampled(0), sampled(1)) >= kDiagonalRows) {
    keepOnly(0, 1);
  } else if (halfWay && std::min(sampled(0), sampled(3)) >= kDiagonalRows) {
    keepOnly(0, 3);
  }
  // Each pair of rows blended down once, for every grid that samples it.
  const int32_t wa = a.Width, wb = b.Width;
  down.resize(3 * static_cast<size_t>(wa) + 3 * static_cast<size_t>(wb));
  done.assign(rows.size(), 0);
#if QUELMAR_X86_VECTORS
  const bool wide = WideWanted();
#endif
  for (size_t i = 0; i < rows.size(); ++i) {
    if (done[i]) continue;
    const MatchRow& m = rows[i];
    // On the whole rows' grids, b moves with the shift on grids 0 and 1, a on 2 and 3.
    const bool bMoves = (m.grid >> 1) == 0;
    const auto rule = [which](bool moves) {
      if (which != MatchRows::Whole) return SlopeRule::Blended;
      return moves ? SlopeRule::Moves : SlopeRule::Still;
    };
    const DownRows downA{&a, &ga.X, &ga.Y, m.yA.index, m.nextA, m.yA.t, rule(!bMoves)};
    const DownRows downB{&b, &gb.X, &gb.Y, m.yB.index, m.nextB, m.yB.t, rule(bMoves)};
#if QUELMAR_X86_VECTORS
    if (wide) {
      DownWide(downA, downB, down.data());
    } else {
      DownPlain(downA, downB, down.data());
    }
#else
    DownPlain(downA, downB, down.data());
#endif
    const float* d = down.data();
    for (size_t k = i; k < rows.size(); ++k) {
      const MatchRow& o = rows[k];
      if (done[k] || !SameRows(m, o)) continue;
      done[k] = 1;
      const int32_t xFirst = o.xFirst, xEnd = o.xEnd, shiftA = o.shiftA, shiftB = o.shiftB;
      const RowPair p{d,      d + wa, d + 2 * wa, d + 3 * wa, d + 3 * wa + wb, d + 3 * wa + 2 * wb,
                      o.xA.t, o.xB.t};
      Lanes l;
      int32_t x = xFirst;
#if QUELMAR_X86_VECTORS
      if (wide) {
        x = WideRowSums(p, xFirst, xEnd, shiftA, shiftB, l);
      } else {
        l = Lanes{};
      }
#else
      l = Lanes{};
#endif
      for (; x + kLanes - 1 <= xEnd; x += kLanes)
        for (int32_t j = 0; j < kLanes; ++j) AddPair(p, x + j + shiftA, x + j + shiftB, l, j);
      for (int32_t j = 0; x <= xEnd; ++x, ++j) AddPair(p, x + shiftA, x + shiftB, l, j);
      for (int32_t j = 0; j < kLanes; ++j) {
        sums.hxx += l.hxx[j];
        sums.hxy += l.hxy[j];
        sums.hyy += l.hyy[j];
        sums.bx += l.bx[j];
        sums.by += l.by[j];
        sums.rr += l.rr[j];
        sums.s += l.s[j];
        sums.ss += l.ss[j];
        sums.saturated += static_cast<int64_t>(l.sat[j]);
        sums.n += static_cast<int64_t>(l.n[j]);
      }
    }
  }
  return sums;
}

// Gives an image the size w x h, reusing its storage.
void Resize(GreyImage& image, int32_t w, int32_t h) {
  image.Width = w;
  image.Height = h;
  image.Values.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
}

// The rows of GradientsQuickly, inlined into a plain and a wide build of the same loops (the
// same values to the last bit either way).
QUELMAR_INLINE void Slopes(const GreyImage& image, Gradients& g) {
  const int32_t w = image.Width, h = image.Height;
  // Where a central difference down the columns meets no data or an edge: the one-sided one
  // toward the neighbour with data, or 0 with neither. Selects on the bits rather than branches,
  // so that the loops run on the processor's vectors.
  const uint32_t none = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = image.Row(y);
    const uint32_t hasUp = y > 0 ? ~none : none, hasDown = y + 1 < h ? ~none : none;
    const float* up = y > 0 ? image.Row(y - 1) : row;
    const float* down = y + 1 < h ? image.Row(y + 1) : row;
    float* gx = g.X.Row(y);
    float* gy = g.Y.Row(y);
    // Along the rows, central differences only: a one-sided one at the end of a run of columns
    // would pull the sideways travel (the pairs counted there change with the shift).
    gx[0] = gx[w - 1] = kNaN;
    for (int32_t x = 1; x + 1 < w; ++x)
      gx[x] = Select(DataMask(row[x]), 0.5f * (row[x + 1] - row[x - 1]), kNaN);
    for (int32_t x = 0; x < w; ++x) {
      const float here = row[x], u = up[x], d = down[x];
      const float central = 0.5f * (d - u);
      const uint32_t upOk = DataMask(u) & hasUp, downOk = DataMask(d) & hasDown;
      const float oneSided = Select(downOk, d - here, Select(upOk, here - u, 0.0f));
      gy[x] = Select(DataMask(here), Select(upOk & downOk, central, oneSided), kNaN);
    }
  }
}

// Each row of `raw` into `out`: its first and last samples (all of them in a row of fewer than
// three) as `end` makes them, the others as `inner` makes them from the sample and its left and
// right neighbours.
template <typename Inner, typename End>
QUELMAR_INLINE void AlongRows(const GreyImage& raw, GreyImage& out, Inner inner, End end) {
  const int32_t w = raw.Width;
  for (int32_t y = 0; y < raw.Height; ++y) {
    const float* in = raw.Row(y);
    float* r = out.Row(y);
    if (w < 3) {
      for (int32_t x = 0; x < w; ++x) r[x] = end(in[x]);
      continue;
    }
    r[0] = end(in[0]);
    r[w - 1] = end(in[w - 1]);
    for (int32_t x = 1; x + 1 < w; ++x) r[x] = inner(in[x - 1], in[x], in[x + 1]);
  }
}

// SoftenRows' loops, likewise.
QUELMAR_INLINE void Soften(const GreyImage& raw, GreyImage& out) {
  AlongRows(
      raw, out,
      [](float left, float here, float right) {
        const float v = 0.25f * left + 0.5f * here + 0.25f * right;
        return Select(DataMask(v), v, here);
      },
      [](float here) { return here; });
}

// SharpenRows' loops.
QUELMAR_INLINE void Sharpen(const GreyImage& raw, GreyImage& out) {
  AlongRows(
      raw, out, [](float left, float here, float right) { return here - 0.5f * (left + right); },
      [](float) { return kNaN; });
}

#if QUELMAR_X86_VECTORS
__attribute__((target("avx2"))) void WideSharpen(const GreyImage& raw, GreyImage& out) {
  Sharpen(raw, out);
}
__attribute__((target("avx2"))) void WideSlopes(const GreyImage& image, Gradients& g) {
  Slopes(image, g);
}
__attribute__((target("avx2"))) void WideSoften(const GreyImage& raw, GreyImage& out) {
  Soften(raw, out);
}
#endif

// The samples with data in each row of `image`, into `counts`.
void CountRowData(const GreyImage& image, std::vector<int32_t>& counts) {
  counts.assign(static_cast<size_t>(image.Height), 0);
  for (int32_t y = 0; y < image.Height; ++y) {
    const float* row = image.Row(y);
    int32_t n = 0;
    for (int32_t x = 0; x < image.Width; ++x) n += row[x] == row[x];  // not NaN
    counts[static_cast<size_t>(y)] = n;
  }
}

// GradientsOf, quicker on strips with a few columns of no data: the central differences
// everywhere first, then the careful rule only where they met no data or an edge. Into g's
// storage.
void GradientsQuickly(const GreyImage& image, Gradients& g) {
  const int32_t w = image.Width, h = image.Height;
  if (w < 3 || h < 3) {
    g = GradientsOf(image);
    return;
  }
  Resize(g.X, w, h);
  Resize(g.Y, w, h);
#if QUELMAR_X86_VECTORS
  if (WideWanted()) {
    WideSlopes(image, g);
    return;
  }
#endif
  Slopes(image, g);
}

}  // namespace

MatchStrip PrepareStrip(GreyImage image) {
  MatchStrip s;
  GradientsQuickly(image, s.Slopes);
  s.Image = std::move(image);
  CountRowData(s.Image, s.RowData);
  return s;
}

namespace {

using RowFilter = void (*)(const GreyImage&, GreyImage&);

// `raw` through a filter along its rows, into `out`'s storage: its build for the wider vectors
// where they are wanted.
void FilterRows(const GreyImage& raw, GreyImage& out, RowFilter plain, RowFilter wide) {
  Resize(out, raw.Width, raw.Height);
#if QUELMAR_X86_VECTORS
  if (WideWanted()) {
    wide(raw, out);
    return;
  }
#else
  (void)wide;
#endif
  plain(raw, out);
}

#if QUELMAR_X86_VECTORS
constexpr RowFilter kWideSoften = WideSoften, kWideSharpen = WideSharpen;
#else
constexpr RowFilter kWideSoften = nullptr, kWideSharpen = nullptr;
#endif

}  // namespace

void SoftenRows(const GreyImage& raw, GreyImage& out) {
  FilterRows(raw, out, Soften, kWideSoften);
}

void SharpenRows(const GreyImage& raw, GreyImage& out) {
  FilterRows(raw, out, Sharpen, kWideSharpen);
}

void PrepareSoftenedStrip(const GreyImage& raw, MatchStrip& strip) {
  SoftenRows(raw, strip.Image);
  GradientsQuickly(strip.Image, strip.Slopes);
  CountRowData(strip.Image, strip.RowData);
}

ShiftEstimate RefineOverlap(const MatchStrip& a, const MatchStrip& b, double dx, double dy,
                            const ShiftSearch& search, MatchRows rows) {
  MatchScratch scratch;
  return RefineOverlap(a, b, dx, dy, search, rows, scratch);
}

ShiftEstimate RefineOverlap(const MatchStrip& a, const MatchStrip& b, double dx, double dy,
                            const ShiftSearch& search, MatchRows rows, MatchScratch& scratch) {
  return SolveShift([&](double x, double y) { return Accumulate(a, b, x, y, rows, scratch); }, dx,
                    dy, search, std::max(1, search.MinOverlap));
}

void UseWideVectors(bool use) {
  wideWanted.store(use, std::memory_order_relaxed);
}

}  // namespace quelmar
