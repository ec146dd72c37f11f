#include "assembly/MapRowFill.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "util/ProcessorFeatures.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

constexpr double kLimit = 2147483647.0;

// Columns first .. end - 1, one at a time.
void FillPlain(const MapRowGeometry& g, size_t first, size_t end, int32_t* out) {
  const auto last = static_cast<double>(g.TableSize - 1);
  for (size_t a = first; a < end; ++a) {
    const double deltaX = static_cast<double>(a) - g.OutputCentre;
    const double rho = std::sqrt(deltaX * deltaX + g.DeltaY * g.DeltaY);
    out[2 * a] = INT32_MIN;
    out[2 * a + 1] = 0;
    if (!(rho <= last)) continue;
    const auto i = static_cast<size_t>(rho);
    const double t = rho - static_cast<double>(i);
    const double f =
        i + 1 < g.TableSize ? g.Table[i] + (g.Table[i + 1] - g.Table[i]) * t : g.Table[i];
    const double col = (g.SourceCentre + deltaX * (1 + f)) * 256;
    const double row = (g.Vertical ? g.B - g.DeltaY * f + g.Shift : g.B) * 256;
    if (!(std::fabs(col) < kLimit) || !(std::fabs(row) < kLimit)) continue;
    out[2 * a] = static_cast<int32_t>(std::lrint(col));
    out[2 * a + 1] = static_cast<int32_t>(std::lrint(row));
  }
}

#if QUELMAR_X86_VECTORS
const bool kWideVectors = ProcessorHasWideVectors();

// What four columns of a row share, in wide vectors.
struct WideRow {
  const double* table;
  bool vertical;
  __m256d last, one, scale, dy, dy2, centre, source, limit, absMask, zero, every, plainRow, b,
      shift;
  __m128i lastIndex, step;

  __attribute__((target("avx2"))) explicit WideRow(const MapRowGeometry& g)
      : table(g.Table),
        vertical(g.Vertical),
        last(_mm256_set1_pd(static_cast<double>(g.TableSize - 1))),
        one(_mm256_set1_pd(1)),
        scale(_mm256_set1_pd(256)),
        dy(_mm256_set1_pd(g.DeltaY)),
        dy2(_mm256_set1_pd(g.DeltaY * g.DeltaY)),
        centre(_mm256_set1_pd(g.OutputCentre)),
        source(_mm256_set1_pd(g.SourceCentre)),
        limit(_mm256_set1_pd(kLimit)),
        absMask(_mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX))),
        zero(_mm256_setzero_pd()),
        every(_mm256_castsi256_pd(_mm256_set1_epi64x(-1))),
        // A plain row reads its own row; a corrected one B - DeltaY x f + Shift.
        plainRow(_mm256_mul_pd(_mm256_set1_pd(g.B), _mm256_set1_pd(256))),
        b(_mm256_set1_pd(g.B)),
        shift(_mm256_set1_pd(g.Shift)),
        lastIndex(_mm_set1_epi32(static_cast<int32_t>(g.TableSize - 1))),
        step(_mm_set1_epi32(1)) {}
};

// Four columns at deltaX from the centre: deltaX x (1 + f), the row (1/256) and which lie
// within the table's reach.
struct FourColumns {
  __m256d across, row, inside;
};

__attribute__((target("avx2"))) inline FourColumns Columns(const WideRow& w, __m256d deltaX) {
  const __m256d rho = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(deltaX, deltaX), w.dy2));
  const __m256d inside = _mm256_cmp_pd(rho, w.last, _CMP_LE_OQ);
  // Beyond the table: index 0 read (and the point dropped).
  const __m256d safe = _mm256_and_pd(rho, inside);
  const __m128i i = _mm256_cvttpd_epi32(safe);
  const __m128i i1 = _mm_min_epi32(_mm_add_epi32(i, w.step), w.lastIndex);
  const __m256d t = _mm256_sub_pd(safe, _mm256_cvtepi32_pd(i));
  const __m256d f0 = _mm256_mask_i32gather_pd(w.zero, w.table, i, w.every, 8);
  const __m256d f1 = _mm256_mask_i32gather_pd(w.zero, w.table, i1, w.every, 8);
  const __m256d f = _mm256_add_pd(f0, _mm256_mul_pd(_mm256_sub_pd(f1, f0), t));
  const __m256d row =
      w.vertical ? _mm256_mul_pd(_mm256_add_pd(_mm256_sub_pd(w.b, _mm256_mul_pd(w.dy, f)), w.shift),
                                 w.scale)
                 : w.plainRow;
  return {_mm256_mul_pd(deltaX, _mm256_add_pd(w.one, f)), row, inside};
}

// The four entries of source column `col` (unscaled) and the columns' row, as (column, row)
// pairs from out on; `reversed`: the last column's first.
__attribute__((target("avx2"))) inline void Store(const WideRow& w, __m256d col,
                                                  const FourColumns& four, bool reversed,
                                                  int32_t* out) {
  col = _mm256_mul_pd(col, w.scale);
  const __m256d fits =
      _mm256_and_pd(_mm256_cmp_pd(_mm256_and_pd(col, w.absMask), w.limit, _CMP_LT_OQ),
                    _mm256_cmp_pd(_mm256_and_pd(four.row, w.absMask), w.limit, _CMP_LT_OQ));
  const __m256d keep = _mm256_and_pd(four.inside, fits);
  // Rounded to the nearest (the rounding mode's), as lrint rounds.
  const __m128i cols = _mm256_cvtpd_epi32(_mm256_and_pd(col, keep));
  const __m128i rows = _mm256_cvtpd_epi32(_mm256_and_pd(four.row, keep));
  const __m128i kept = _mm256_cvtpd_epi32(_mm256_and_pd(w.one, keep));  // 1 kept, 0 dropped
  const __m128i dropped = _mm_cmpeq_epi32(kept, _mm_setzero_si128());
  __m128i c = _mm_blendv_epi8(cols, _mm_set1_epi32(INT32_MIN), dropped);
  __m128i r = _mm_andnot_si128(dropped, rows);
  if (reversed) {
    c = _mm_shuffle_epi32(c, 0x1B);
    r = _mm_shuffle_epi32(r, 0x1B);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(c, r));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi32(c, r));
}

bool TableFits(const MapRowGeometry& g) {
  return g.TableSize >= 2 && g.TableSize <= (size_t{1} << 30);
}

// Four columns at a time from `first` on, up to `end`, the same operations in the same order (no
// fused multiply-adds); the table read with gathers. Answers where it stopped.
__attribute__((target("avx2"))) size_t FillWide(const MapRowGeometry& g, size_t first, size_t end,
                                                int32_t* out) {
  if (!TableFits(g)) return first;
  const WideRow w(g);
  size_t a = first;
  for (; a + 4 <= end; a += 4) {
    const __m256d deltaX = _mm256_sub_pd(
        _mm256_add_pd(_mm256_set1_pd(static_cast<double>(a)), _mm256_setr_pd(0, 1, 2, 3)),
        w.centre);
    const FourColumns four = Columns(w, deltaX);
    Store(w, _mm256_add_pd(w.source, four.across), four, false, out + 2 * a);
  }
  _mm256_zeroupper();
  return a;
}

// Where the centre is a column, columns centre + d and centre - d lie as far from it: their
// table values and rows are alike, and their source columns lie the same amount either side of
// the source centre (source + (-x) is source - x exactly). Fills both for d from 0 on, four at a
// time, while both lie within the row's `reach` of the centre; answers where it stopped.
__attribute__((target("avx2"))) size_t FillMirroredWide(const MapRowGeometry& g, size_t centre,
                                                        size_t reach, int32_t* out) {
  if (!TableFits(g)) return 0;
  const WideRow w(g);
  size_t d = 0;
  for (; d + 3 <= reach; d += 4) {
    const __m256d deltaX =
        _mm256_add_pd(_mm256_set1_pd(static_cast<double>(d)), _mm256_setr_pd(0, 1, 2, 3));
    const FourColumns four = Columns(w, deltaX);
    Store(w, _mm256_add_pd(w.source, four.across), four, false, out + 2 * (centre + d));
    Store(w, _mm256_sub_pd(w.source, four.across), four, true, out + 2 * (centre - d - 3));
  }
  _mm256_zeroupper();
  return d;
}
#endif

}  // namespace

void FillMapRow(const MapRowGeometry& g, size_t entries, int32_t* out) {
#if QUELMAR_X86_VECTORS
  if (kWideVectors) {
    // Where the centre is a column of the row, the columns within as many of it on either side
    // as the row has on its shorter side are worked out in pairs, the rest on their own.
    const double c = g.OutputCentre;
    if (c >= 0 && c < static_cast<double>(entries) && std::floor(c) == c) {
      const auto centre = static_cast<size_t>(c);
      const size_t reach = std::min(centre, entries - 1 - centre);
      const size_t d = FillMirroredWide(g, centre, reach, out);
      FillPlain(g, centre - reach, centre - d + 1, out);
      FillPlain(g, centre + d, centre + reach + 1, out);
      FillPlain(g, FillWide(g, 0, centre - reach, out), centre - reach, out);
      FillPlain(g, FillWide(g, centre + reach + 1, entries, out), entries, out);
      return;
    }
    FillPlain(g, FillWide(g, 0, entries, out), entries, out);
    return;
  }
#endif
  FillPlain(g, 0, entries, out);
}

}  // namespace quelmar
