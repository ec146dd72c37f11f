#include "assembly/BandRowBlend.h"
#include "util/ProcessorFeatures.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

inline int16_t BlendOne(const uint8_t* band, std::ptrdiff_t down, const CachedRead& e) {
  const uint8_t* s0 = band + e.offset;
  const uint8_t* s1 = s0 + (e.fy != 0 ? down : 0);
  const int32_t fx = e.fx, fy = e.fy, r = e.right;
  const int32_t upper = s0[0] * (256 - fx) + s0[r] * fx;
  const int32_t lower = s1[0] * (256 - fx) + s1[r] * fx;
  return static_cast<int16_t>((upper * (256 - fy) + lower * fy + 2048) >> 12);
}

#if QUELMAR_X86_VECTORS
// A sample and its right neighbour, as the low bytes of a lane.
inline int32_t Pair(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A lane's first two bytes as its two 16-bit halves.
__attribute__((target("avx2"))) inline __m256i SamplePairs(__m256i g) {
  return _mm256_or_si256(_mm256_and_si256(g, _mm256_set1_epi32(0xFF)),
                         _mm256_slli_epi32(_mm256_and_si256(g, _mm256_set1_epi32(0xFF00)), 8));
}

// p[i] and p[i + 1] for i in 0..7 as lane i's two 16-bit halves (reads p[0..8]).
__attribute__((target("avx2"))) inline __m256i Neighbours(const uint8_t* p) {
  const __m128i w0 = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  const __m128i w1 = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 1)));
  return _mm256_set_m128i(_mm_unpackhi_epi16(w0, w1), _mm_unpacklo_epi16(w0, w1));
}

// Eight points at a time: each point's two pairs of samples (a row and the next) fetched, then
// the blend in 32-bit lanes, exactly as one at a time. (The processors' gather instructions are
// slower here than fetching the pairs one by one.)
__attribute__((target("avx2"))) bool BlendEight(const uint8_t* band, std::ptrdiff_t down,
                                                std::ptrdiff_t readable, const CachedRead* reads,
                                                int32_t count, int16_t* out) {
  static_assert(sizeof(CachedRead) == 8, "a read is an offset and four bytes");
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  const __m256i full = _mm256_set1_epi32(256);
  const __m256i half = _mm256_set1_epi32(2048);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i step = _mm256_set1_epi32(static_cast<int32_t>(down));
  const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i last =
      _mm256_set1_epi32(static_cast<int32_t>(std::min<std::ptrdiff_t>(readable - 4, INT32_MAX)));
  bool points = false;
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i a = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(reads + i)), split);
    const __m256i b = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(reads + i + 4)), split);
    const __m256i offsets = _mm256_permute2x128_si256(a, b, 0x20);
    const __m256i meta = _mm256_permute2x128_si256(a, b, 0x31);
    const __m256i fx = _mm256_and_si256(meta, byteMask);
    const __m256i fy = _mm256_and_si256(_mm256_srli_epi32(meta, 8), byteMask);
    const __m256i state = _mm256_srli_epi32(meta, 24);
    const __m256i lowerAt =
        _mm256_add_epi32(offsets, _mm256_andnot_si256(_mm256_cmpeq_epi32(fy, zero), step));
    const __m256i beyond =
        _mm256_or_si256(_mm256_cmpgt_epi32(offsets, last), _mm256_cmpgt_epi32(lowerAt, last));
    const __m256i other = _mm256_or_si256(
        _mm256_xor_si256(_mm256_cmpeq_epi32(state, zero), _mm256_set1_epi32(-1)), beyond);
    if (!_mm256_testz_si256(other, other)) {
      _mm256_zeroupper();  // the scalar code after wide vectors runs at full speed
      points |= BlendCachedPoints(band, down, reads, i, i + 8, out);
      continue;
    }
    // Most runs of eight points read eight neighbouring pairs of samples (the correction moves
    // a column by a fraction of a pixel every few columns): those are loaded whole.
    __m256i pairs0, pairs1;
    const __m256i first =
        _mm256_add_epi32(_mm256_broadcastd_epi32(_mm256_castsi256_si128(offsets)), iota);
    const __m256i firstLow =
        _mm256_add_epi32(_mm256_broadcastd_epi32(_mm256_castsi256_si128(lowerAt)), iota);
    if (_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi32(offsets, first),
                                              _mm256_cmpeq_epi32(lowerAt, firstLow))) == -1) {
      pairs0 = Neighbours(band + _mm256_cvtsi256_si32(offsets));
      pairs1 = Neighbours(band + _mm256_cvtsi256_si32(lowerAt));
    } else {
      alignas(32) int32_t at[8], lowAt[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(at), offsets);
      _mm256_store_si256(reinterpret_cast<__m256i*>(lowAt), lowerAt);
      pairs0 = SamplePairs(_mm256_setr_epi32(
          Pair(band + at[0]), Pair(band + at[1]), Pair(band + at[2]), Pair(band + at[3]),
          Pair(band + at[4]), Pair(band + at[5]), Pair(band + at[6]), Pair(band + at[7])));
      pairs1 = SamplePairs(_mm256_setr_epi32(Pair(band + lowAt[0]), Pair(band + lowAt[1]),
                                             Pair(band + lowAt[2]), Pair(band + lowAt[3]),
                                             Pair(band + lowAt[4]), Pair(band + lowAt[5]),
                                             Pair(band + lowAt[6]), Pair(band + lowAt[7])));
    }
    // Each lane's two samples as 16-bit halves, against the weights 256 - fx and fx.
    const __m256i weights = _mm256_or_si256(_mm256_sub_epi32(full, fx), _mm256_slli_epi32(fx, 16));
    const __m256i upper = _mm256_madd_epi16(pairs0, weights);
    const __m256i lower = _mm256_madd_epi16(pairs1, weights);
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(upper, _mm256_sub_epi32(full, fy)),
                                          _mm256_mullo_epi32(lower, fy)),
                         half);
    const __m256i values = _mm256_srli_epi32(sum, 12);
    const __m256i packed =
        _mm256_permute4x64_epi64(_mm256_packs_epi32(values, values), 0x08);  // lanes 0 and 2
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(packed));
  }
  _mm256_zeroupper();
  return BlendCachedPoints(band, down, reads, i, count, out) || points;
}

// Sixteen samples as 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i Widened(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Sixteen points at a time of a blend in one direction only: out[i] = (a[i] x (256 - w) +
// b[i] x w + 8) / 16, which fits 16-bit lanes (and is what the blend of four gives when the other
// weight is 0).
__attribute__((target("avx2"))) int32_t BlendOneWay(const uint8_t* a, const uint8_t* b, int32_t w,
                                                    int32_t n, int16_t* out) {
  const __m256i wa = _mm256_set1_epi16(static_cast<int16_t>(256 - w));
  const __m256i wb = _mm256_set1_epi16(static_cast<int16_t>(w));
  const __m256i eight = _mm256_set1_epi16(8);
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(Widened(a + i), wa),
                                         _mm256_mullo_epi16(Widened(b + i), wb));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_srli_epi16(_mm256_add_epi16(sum, eight), 4));
    // The last points: sixteen ending with the run (some of them again).
    if (i + 16 < n && i + 32 > n) i = n - 32;
  }
  _mm256_zeroupper();
  return i;
}

// Sixteen points at a time: each point's pair of samples against the two horizontal weights in
// one multiply-add, then the two rows' blends in 32-bit lanes, exactly as one at a time.
__attribute__((target("avx2"))) int32_t BlendRunWide(const uint8_t* upper, const uint8_t* lower,
                                                     int32_t fx, int32_t fy, int32_t n,
                                                     int16_t* out) {
  // Whole columns, or a whole row: one weight.
  if (fx == 0) return BlendOneWay(upper, lower, fy, n, out);
  if (fy == 0) return BlendOneWay(upper, upper + 1, fx, n, out);
  const __m256i weights = _mm256_set1_epi32((256 - fx) | (fx << 16));
  const __m256i wy0 = _mm256_set1_epi32(256 - fy), wy1 = _mm256_set1_epi32(fy);
  const __m256i half = _mm256_set1_epi32(2048);
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i u0 = Widened(upper + i), u1 = Widened(upper + i + 1);
    const __m256i l0 = Widened(lower + i), l1 = Widened(lower + i + 1);
    // Points 0-3 and 8-11 in the low halves' lanes, 4-7 and 12-15 in the high ones.
    const __m256i ua = _mm256_madd_epi16(_mm256_unpacklo_epi16(u0, u1), weights);
    const __m256i ub = _mm256_madd_epi16(_mm256_unpackhi_epi16(u0, u1), weights);
    const __m256i la = _mm256_madd_epi16(_mm256_unpacklo_epi16(l0, l1), weights);
    const __m256i lb = _mm256_madd_epi16(_mm256_unpackhi_epi16(l0, l1), weights);
    const __m256i va = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(ua, wy0), _mm256_mullo_epi32(la, wy1)),
                         half),
        12);
    const __m256i vb = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(ub, wy0), _mm256_mullo_epi32(lb, wy1)),
                         half),
        12);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packs_epi32(va, vb));
    // The last points: sixteen ending with the run (some of them again).
    if (i + 16 < n && i + 32 > n) i = n - 32;
  }
  _mm256_zeroupper();
  return i;
}

const bool kWideVectors = ProcessorHasWideVectors();
#endif

}  // namespace

bool BlendCachedPoints(const uint8_t* band, std::ptrdiff_t down, const CachedRead* reads,
                       int32_t from, int32_t to, int16_t* out) {
  bool points = false;
  for (int32_t i = from; i < to; ++i) {
    const CachedRead& e = reads[i];
    if (e.state == kCachedValue) {
      out[i] = BlendOne(band, down, e);
    } else if (e.state == kCachedNoData) {
      out[i] = -1;
    } else {
      points = true;
    }
  }
  return points;
}

bool BlendCachedRow(const uint8_t* band, std::ptrdiff_t down, std::ptrdiff_t readable,
                    const CachedRead* reads, int32_t count, int16_t* out) {
#if QUELMAR_X86_VECTORS
  if (kWideVectors) return BlendEight(band, down, readable, reads, count, out);
#endif
  (void)readable;
  return BlendCachedPoints(band, down, reads, 0, count, out);
}

void BlendRun(const uint8_t* upper, const uint8_t* lower, int32_t fx, int32_t fy, int32_t n,
              int16_t* out) {
  int32_t i = 0;
#if QUELMAR_X86_VECTORS
  if (kWideVectors) i = BlendRunWide(upper, lower, fx, fy, n, out);
#endif
  const int32_t wx0 = 256 - fx, wy0 = 256 - fy;
  for (; i < n; ++i) {
    const int32_t u = upper[i] * wx0 + upper[i + 1] * fx;
    const int32_t l = lower[i] * wx0 + lower[i + 1] * fx;
    out[i] = static_cast<int16_t>((u * wy0 + l * fy + 2048) >> 12);
  }
}

}  // namespace quelmar
