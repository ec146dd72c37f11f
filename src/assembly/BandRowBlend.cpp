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

// The weights of a read in 1/128 (the lower row's at most 127/128), the lower row's share taken
// as a rounded high-half multiply takes it: what the compiled rows' byte shuffles give.
inline int16_t BlendOne(const uint8_t* band, std::ptrdiff_t down, const CachedRead& e) {
  const uint8_t* s0 = band + e.offset;
  const uint8_t* s1 = s0 + (e.fy != 0 ? down : 0);
  const int32_t r = e.right, wx = r != 0 ? (e.fx + 1) >> 1 : 0;
  const int32_t wy = std::min((e.fy + 1) >> 1, 127) << 8;
  const int32_t upper = s0[0] * (128 - wx) + s0[r] * wx;
  const int32_t lower = s1[0] * (128 - wx) + s1[r] * wx;
  return static_cast<int16_t>((upper + (((lower - upper) * wy + 16384) >> 15) + 4) >> 3);
}

// One point of RecordMappedRun: false where it reads otherwise.
inline bool MappedPoint(const int32_t* map, int64_t xp, int64_t xpLimit, int32_t rowHi,
                        int32_t colLo, int32_t colHi, int32_t from, int32_t down,
                        CachedRead& read) {
  if (xp < 0 || xp >= xpLimit) return false;
  const int32_t* e = map + 2 * (xp >> 16);
  const int64_t t = xp & 65535;
  if (e[0] == INT32_MIN || e[2] == INT32_MIN) return false;
  const auto r = static_cast<int32_t>(e[1] + (((int64_t{e[3]} - e[1]) * t) >> 16));
  const auto q = static_cast<int32_t>(e[0] + (((int64_t{e[2]} - e[0]) * t) >> 16));
  if (r < 0 || r >= rowHi || q < colLo || q >= colHi) return false;
  read = {static_cast<int32_t>(int64_t{from} + int64_t{r >> 8} * down + (q >> 8)),
          static_cast<uint8_t>(q & 255), static_cast<uint8_t>(r & 255), 1, kCachedValue};
  return true;
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

// Eight points' blends (value x 16, as BlendOne) from the offsets of their upper left samples,
// of the samples under them, and their weights wx (of the right sample, 1/128) and wy (of the
// lower row, 1/32768).
__attribute__((target("avx2"))) inline __m128i BlendBlock(const uint8_t* band, std::ptrdiff_t down,
                                                          std::ptrdiff_t before,
                                                          std::ptrdiff_t readable, __m256i offsets,
                                                          __m256i lowerAt, __m256i wx, __m256i wy) {
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i full = _mm256_set1_epi32(128);
  const __m256i half = _mm256_set1_epi32(16384);
  const __m256i four = _mm256_set1_epi32(4);
  const __m256i fourteen = _mm256_set1_epi32(14);
  const __m256i zeroHigh = _mm256_set1_epi32(static_cast<int32_t>(0x80008000u));
  // Most runs of eight points read within sixteen bytes of the first one's sample (the
  // correction moves a column by a fraction of a pixel every few columns): each lane's pair is
  // shuffled out of those bytes and the sixteen under them (read whatever the lower weight, a
  // weight of 0 taking nothing from them).
  __m256i pairs0, pairs1;
  const int32_t at0 = _mm256_cvtsi256_si32(offsets);
  const __m256i rel = _mm256_sub_epi32(offsets, _mm256_set1_epi32(at0));
  const std::ptrdiff_t lowest = at0 + std::min<std::ptrdiff_t>(down, 0);
  const std::ptrdiff_t highest = at0 + std::max<std::ptrdiff_t>(down, 0) + 16;
  if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_min_epu32(rel, fourteen), rel)) == -1 &&
      lowest >= -before && highest <= readable) {
    // Per lane: bytes rel and rel + 1 as the low bytes of its two 16-bit halves.
    const __m256i mask = _mm256_or_si256(
        _mm256_or_si256(rel, _mm256_slli_epi32(_mm256_add_epi32(rel, one), 16)), zeroHigh);
    const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(band + at0));
    const __m128i dn = _mm_loadu_si128(reinterpret_cast<const __m128i*>(band + at0 + down));
    pairs0 = _mm256_shuffle_epi8(_mm256_set_m128i(up, up), mask);
    pairs1 = _mm256_shuffle_epi8(_mm256_set_m128i(dn, dn), mask);
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
  // Each lane's two samples as 16-bit halves, against the weights 128 - wx and wx.
  const __m256i weights = _mm256_or_si256(_mm256_sub_epi32(full, wx), _mm256_slli_epi32(wx, 16));
  const __m256i upper = _mm256_madd_epi16(pairs0, weights);
  const __m256i lower = _mm256_madd_epi16(pairs1, weights);
  const __m256i share = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(lower, upper), wy), half), 15);
  const __m256i values =
      _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(upper, share), four), 3);
  // Lanes 0 and 2 of the packed values.
  return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(values, values), 0x08));
}

// Eight points at a time: each point's two pairs of samples (a row and the next) fetched, then
// the blend in 32-bit lanes, exactly as one at a time (BlendOne). (The processors' gather
// instructions are slower here than fetching the pairs one by one.)
__attribute__((target("avx2"))) bool BlendEight(const uint8_t* band, std::ptrdiff_t down,
                                                std::ptrdiff_t before, std::ptrdiff_t readable,
                                                const CachedRead* reads, int32_t count,
                                                int16_t* out) {
  static_assert(sizeof(CachedRead) == 8, "a read is an offset and four bytes");
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i most = _mm256_set1_epi32(127);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i step = _mm256_set1_epi32(static_cast<int32_t>(down));
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
    const __m256i right = _mm256_and_si256(_mm256_srli_epi32(meta, 16), byteMask);
    const __m256i state = _mm256_srli_epi32(meta, 24);
    const __m256i wx = _mm256_andnot_si256(_mm256_cmpeq_epi32(right, zero),
                                           _mm256_srli_epi32(_mm256_add_epi32(fx, one), 1));
    const __m256i wy = _mm256_slli_epi32(
        _mm256_min_epi32(_mm256_srli_epi32(_mm256_add_epi32(fy, one), 1), most), 8);
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
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     BlendBlock(band, down, before, readable, offsets, lowerAt, wx, wy));
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

// Eight (column, row) pairs from p on as eight columns and eight rows.
__attribute__((target("avx2"))) inline void MapEntries(const int32_t* p, __m256i& cols,
                                                       __m256i& rows) {
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i a =
      _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), split);
  const __m256i b = _mm256_permutevar8x32_epi32(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 8)), split);
  cols = _mm256_permute2x128_si256(a, b, 0x20);
  rows = _mm256_permute2x128_si256(a, b, 0x31);
}

// RecordMappedRun eight points at a time where all eight are read as the rule says: the map's
// entries loaded whole (one column a point), the blends of their positions in 32-bit lanes
// (exact where neighbouring entries differ by less than 128 pixels, else the points are taken
// one at a time).
__attribute__((target("avx2"))) int32_t RecordMappedRunWide(const int32_t* map, int64_t xp,
                                                            int64_t xpLimit, int32_t count,
                                                            const MappedRunRead& to,
                                                            CachedRead* record, int16_t* out) {
  const int32_t rowHi = to.RowHi, colLo = to.ColLo, colHi = to.ColHi, from = to.From,
                down = to.Down;
  static_assert(sizeof(CachedRead) == 8, "a read is an offset and four bytes");
  const __m256i none = _mm256_set1_epi32(INT32_MIN);
  const __m256i low = _mm256_set1_epi32(-32768), high = _mm256_set1_epi32(32768);
  const __m256i minusOne = _mm256_set1_epi32(-1);
  const __m256i rows = _mm256_set1_epi32(rowHi), first = _mm256_set1_epi32(colLo - 1);
  const __m256i last = _mm256_set1_epi32(colHi);
  const __m256i bytes = _mm256_set1_epi32(255), right = _mm256_set1_epi32(1 << 16);
  const __m256i one = _mm256_set1_epi32(1), most = _mm256_set1_epi32(127);
  const __m256i base = _mm256_set1_epi32(from), step = _mm256_set1_epi32(down);
  const __m256i t = _mm256_set1_epi32(static_cast<int32_t>(xp & 65535));
  int32_t k = 0;
  for (; k + 8 <= count && xp >= 0 && xp + 7 * int64_t{65536} < xpLimit; k += 8, xp += 8 * 65536) {
    const int32_t* e = map + 2 * (xp >> 16);
    // Columns and rows of entries a .. a + 7 and a + 1 .. a + 8.
    __m256i c0, r0, c1, r1;
    MapEntries(e, c0, r0);
    MapEntries(e + 2, c1, r1);
    const __m256i dc = _mm256_sub_epi32(c1, c0), dr = _mm256_sub_epi32(r1, r0);
    const __m256i q = _mm256_add_epi32(c0, _mm256_srai_epi32(_mm256_mullo_epi32(dc, t), 16));
    const __m256i r = _mm256_add_epi32(r0, _mm256_srai_epi32(_mm256_mullo_epi32(dr, t), 16));
    __m256i bad = _mm256_or_si256(_mm256_cmpeq_epi32(c0, none), _mm256_cmpeq_epi32(c1, none));
    bad = _mm256_or_si256(
        bad, _mm256_or_si256(_mm256_cmpgt_epi32(low, dc), _mm256_cmpgt_epi32(dc, high)));
    bad = _mm256_or_si256(
        bad, _mm256_or_si256(_mm256_cmpgt_epi32(low, dr), _mm256_cmpgt_epi32(dr, high)));
    // Inside: r > -1, rowHi > r, q > colLo - 1 and colHi > q.
    const __m256i inside = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpgt_epi32(r, minusOne), _mm256_cmpgt_epi32(rows, r)),
        _mm256_and_si256(_mm256_cmpgt_epi32(q, first), _mm256_cmpgt_epi32(last, q)));
    bad = _mm256_or_si256(bad, _mm256_xor_si256(inside, minusOne));
    if (!_mm256_testz_si256(bad, bad)) break;
    const __m256i offset =
        _mm256_add_epi32(base, _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(r, 8), step),
                                                _mm256_srai_epi32(q, 8)));
    const __m256i meta =
        _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(q, bytes),
                                        _mm256_slli_epi32(_mm256_and_si256(r, bytes), 8)),
                        right);
    // The blends, as BlendOne takes the reads.
    const __m256i fx = _mm256_and_si256(q, bytes), fy = _mm256_and_si256(r, bytes);
    const __m256i wx = _mm256_srli_epi32(_mm256_add_epi32(fx, one), 1);
    const __m256i wy = _mm256_slli_epi32(
        _mm256_min_epi32(_mm256_srli_epi32(_mm256_add_epi32(fy, one), 1), most), 8);
    const __m256i lowerAt = _mm256_add_epi32(
        offset, _mm256_andnot_si256(_mm256_cmpeq_epi32(fy, _mm256_setzero_si256()), step));
    if (to.Blend) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                       BlendBlock(to.Band, down, to.Before, to.Readable, offset, lowerAt, wx, wy));
    }
    const __m256i lo = _mm256_unpacklo_epi32(offset, meta),
                  hi = _mm256_unpackhi_epi32(offset, meta);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(record + k),
                        _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(record + k + 4),
                        _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  _mm256_zeroupper();
  return k;
}

__attribute__((target("avx2"))) int32_t LeadingInsideWide(const int32_t* v, int32_t n, int32_t lo,
                                                          int32_t hi) {
  const __m256i low = _mm256_set1_epi32(lo), high = _mm256_set1_epi32(hi);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + k));
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi32(low, x), _mm256_cmpeq_epi32(low, x));
    const auto mask = static_cast<uint32_t>(_mm256_movemask_ps(
        _mm256_castsi256_ps(_mm256_or_si256(outside, _mm256_cmpgt_epi32(x, high)))));
    if (mask != 0) {
      _mm256_zeroupper();
      return k + __builtin_ctz(mask);
    }
  }
  _mm256_zeroupper();
  return k;
}

__attribute__((target("avx2"))) int32_t BlendPairsWide(const int16_t* first, const int16_t* second,
                                                       int32_t weight, int32_t n, int16_t* out) {
  const __m256i w = _mm256_set1_epi16(static_cast<int16_t>(weight << 7));
  const __m256i zero = _mm256_setzero_si256();
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + i));
    const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(second + i));
    const __m256i mixed = _mm256_add_epi16(l, _mm256_mulhrs_epi16(_mm256_sub_epi16(r, l), w));
    const __m256i none = _mm256_cmpgt_epi16(zero, _mm256_or_si256(l, r));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_blendv_epi8(mixed, weight < 128 ? l : r, none));
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

bool BlendCachedRow(const uint8_t* band, std::ptrdiff_t down, std::ptrdiff_t before,
                    std::ptrdiff_t readable, const CachedRead* reads, int32_t count, int16_t* out) {
#if QUELMAR_X86_VECTORS
  if (kWideVectors) return BlendEight(band, down, before, readable, reads, count, out);
#endif
  (void)before;
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

int32_t RecordMappedRun(const int32_t* map, int64_t xp, int64_t xpLimit, int32_t count,
                        const MappedRunRead& to, CachedRead* record, int16_t* out) {
  int32_t k = 0;
#if QUELMAR_X86_VECTORS
  if (kWideVectors) k = RecordMappedRunWide(map, xp, xpLimit, count, to, record, out);
#endif
  for (; k < count; ++k) {
    if (!MappedPoint(map, xp + int64_t{k} * 65536, xpLimit, to.RowHi, to.ColLo, to.ColHi, to.From,
                     to.Down, record[k])) {
      break;
    }
    if (to.Blend) out[k] = BlendOne(to.Band, to.Down, record[k]);
  }
  return k;
}

void BlendPairs(const int16_t* first, const int16_t* second, int32_t weight, int32_t n,
                int16_t* out) {
  int32_t i = 0;
#if QUELMAR_X86_VECTORS
  if (kWideVectors) i = BlendPairsWide(first, second, weight, n, out);
#endif
  const int32_t w = weight << 7;
  for (; i < n; ++i) {
    const int32_t l = first[i], r = second[i];
    out[i] = static_cast<int16_t>((l | r) < 0 ? (weight < 128 ? l : r)
                                              : l + (((r - l) * w + 16384) >> 15));
  }
}

int32_t LeadingInside(const int32_t* v, int32_t n, int32_t lo, int32_t hi) {
  int32_t k = 0;
#if QUELMAR_X86_VECTORS
  if (kWideVectors) k = LeadingInsideWide(v, n, lo, hi);
#endif
  while (k < n && v[k] > lo && v[k] <= hi) ++k;
  return k;
}

}  // namespace quelmar
