#include "assembly/MapRowFill.h"

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

// Columns from `first` on, one at a time.
void FillPlain(const MapRowGeometry& g, size_t first, size_t entries, int32_t* out) {
  const auto last = static_cast<double>(g.TableSize - 1);
  for (size_t a = first; a < entries; ++a) {
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

// Four columns at a time, the same operations in the same order (no fused multiply-adds); the
// table read with gathers. Answers how many columns it filled.
__attribute__((target("avx2"))) size_t FillWide(const MapRowGeometry& g, size_t entries,
                                                int32_t* out) {
  if (g.TableSize < 2 || g.TableSize > (size_t{1} << 30)) return 0;
  const double lastValue = static_cast<double>(g.TableSize - 1);
  const __m256d last = _mm256_set1_pd(lastValue);
  const __m256d one = _mm256_set1_pd(1), scale = _mm256_set1_pd(256);
  const __m256d dy = _mm256_set1_pd(g.DeltaY), dy2 = _mm256_set1_pd(g.DeltaY * g.DeltaY);
  const __m256d centre = _mm256_set1_pd(g.OutputCentre), source = _mm256_set1_pd(g.SourceCentre);
  const __m256d limit = _mm256_set1_pd(kLimit);
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX));
  const __m128i lastIndex = _mm_set1_epi32(static_cast<int32_t>(g.TableSize - 1));
  const __m128i step = _mm_set1_epi32(1);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d every = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  // A plain row reads its own row; a corrected one B - DeltaY x f + Shift.
  const __m256d plainRow = _mm256_mul_pd(_mm256_set1_pd(g.B), scale);
  const __m256d b = _mm256_set1_pd(g.B), shift = _mm256_set1_pd(g.Shift);
  size_t a = 0;
  for (; a + 4 <= entries; a += 4) {
    const auto first = static_cast<double>(a);
    const __m256d deltaX =
        _mm256_sub_pd(_mm256_add_pd(_mm256_set1_pd(first), _mm256_setr_pd(0, 1, 2, 3)), centre);
    const __m256d rho = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(deltaX, deltaX), dy2));
    const __m256d inside = _mm256_cmp_pd(rho, last, _CMP_LE_OQ);
    // Beyond the table: index 0 read (and the point dropped).
    const __m256d safe = _mm256_and_pd(rho, inside);
    const __m128i i = _mm256_cvttpd_epi32(safe);
    const __m128i i1 = _mm_min_epi32(_mm_add_epi32(i, step), lastIndex);
    const __m256d t = _mm256_sub_pd(safe, _mm256_cvtepi32_pd(i));
    const __m256d f0 = _mm256_mask_i32gather_pd(zero, g.Table, i, every, 8);
    const __m256d f1 = _mm256_mask_i32gather_pd(zero, g.Table, i1, every, 8);
    const __m256d f = _mm256_add_pd(f0, _mm256_mul_pd(_mm256_sub_pd(f1, f0), t));
    const __m256d col =
        _mm256_mul_pd(_mm256_add_pd(source, _mm256_mul_pd(deltaX, _mm256_add_pd(one, f))), scale);
    const __m256d row =
        g.Vertical
            ? _mm256_mul_pd(_mm256_add_pd(_mm256_sub_pd(b, _mm256_mul_pd(dy, f)), shift), scale)
            : plainRow;
    const __m256d fits =
        _mm256_and_pd(_mm256_cmp_pd(_mm256_and_pd(col, absMask), limit, _CMP_LT_OQ),
                      _mm256_cmp_pd(_mm256_and_pd(row, absMask), limit, _CMP_LT_OQ));
    const __m256d keep = _mm256_and_pd(inside, fits);
    // Rounded to the nearest (the rounding mode's), as lrint rounds.
    const __m128i cols = _mm256_cvtpd_epi32(_mm256_and_pd(col, keep));
    const __m128i rows = _mm256_cvtpd_epi32(_mm256_and_pd(row, keep));
    const __m128i kept = _mm256_cvtpd_epi32(_mm256_and_pd(one, keep));  // 1 kept, 0 dropped
    const __m128i dropped = _mm_cmpeq_epi32(kept, _mm_setzero_si128());
    const __m128i c = _mm_blendv_epi8(cols, _mm_set1_epi32(INT32_MIN), dropped);
    const __m128i r = _mm_andnot_si128(dropped, rows);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * a), _mm_unpacklo_epi32(c, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * a + 4), _mm_unpackhi_epi32(c, r));
  }
  _mm256_zeroupper();
  return a;
}
#endif

}  // namespace

void FillMapRow(const MapRowGeometry& g, size_t entries, int32_t* out) {
  size_t a = 0;
#if QUELMAR_X86_VECTORS
  if (kWideVectors) a = FillWide(g, entries, out);
#endif
  FillPlain(g, a, entries, out);
}

}  // namespace quelmar
