#include "assembly/RowProgram.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "util/ProcessorFeatures.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

constexpr int32_t kHalf = 8;     // points of one window
constexpr int32_t kWindow = 16;  // bytes of one window

#if QUELMAR_X86_VECTORS
const bool kWideVectors = ProcessorHasWideVectors();

// Sixteen points from their two windows in the upper and lower rows: each point's sample pair
// shuffled out of its window (biased to signed bytes), weighed horizontally in one multiply-add,
// then the two rows weighed in another.
__attribute__((target("avx2"))) inline __m256i Window(const uint8_t* band, const int32_t* at) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(band + at[0]));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(band + at[1]));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Sixteen int16 lanes, -1 where the lane's bit is set.
__attribute__((target("avx2"))) inline __m256i LanesOf(uint16_t bits) {
  const __m256i lane = _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096,
                                         8192, 16384, -32768);
  const __m256i set = _mm256_and_si256(_mm256_set1_epi16(static_cast<int16_t>(bits)), lane);
  return _mm256_cmpeq_epi16(set, lane);
}

// Sixteen bytes in both halves.
__attribute__((target("avx2"))) inline __m256i Both(const uint8_t* bytes) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(bytes)));
}

template <typename Group>
__attribute__((target("avx2"))) inline void BlendGroup(const uint8_t* band, std::ptrdiff_t down,
                                                       const Group& g, int16_t* out) {
  const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
  // Each point's byte twice over (points 0-7 in the lower half, 8-15 in the upper one), taken
  // from the group's sixteen bytes in both halves.
  const __m256i twice = _mm256_setr_epi8(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9,
                                         10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
  // The point's sample and the one to its right; their weights 128 - wx and wx (|128 - wx| and
  // |0 - wx| in wrapping signed bytes: 128 is 0x80 either way); the lower row's weight x 256.
  const __m256i mask =
      _mm256_add_epi8(_mm256_shuffle_epi8(Both(g.left), twice), _mm256_set1_epi16(0x0100));
  const __m256i wx = _mm256_abs_epi8(
      _mm256_sub_epi8(_mm256_set1_epi16(0x0080), _mm256_shuffle_epi8(Both(g.wx), twice)));
  const __m256i wy = _mm256_shuffle_epi8(
      Both(g.wy),
      _mm256_setr_epi8(-128, 0, -128, 1, -128, 2, -128, 3, -128, 4, -128, 5, -128, 6, -128, 7, -128,
                       8, -128, 9, -128, 10, -128, 11, -128, 12, -128, 13, -128, 14, -128, 15));
  __m256i up = _mm256_shuffle_epi8(_mm256_xor_si256(Window(band, g.at), bias), mask);
  __m256i low = _mm256_shuffle_epi8(_mm256_xor_si256(Window(band + down, g.at), bias), mask);
  if (g.rows == 2) {
    // The points that read the other windows (another row, or another framelet's band).
    const __m256i other = LanesOf(g.other);
    const __m256i up2 = _mm256_shuffle_epi8(_mm256_xor_si256(Window(band, g.at2), bias), mask);
    const __m256i low2 =
        _mm256_shuffle_epi8(_mm256_xor_si256(Window(band + down, g.at2), bias), mask);
    up = _mm256_blendv_epi8(up, up2, other);
    low = _mm256_blendv_epi8(low, low2, other);
  }
  // value x 128 - 16384 per point, in the order of the points; then the lower row's share.
  const __m256i u = _mm256_maddubs_epi16(wx, up);
  const __m256i l = _mm256_maddubs_epi16(wx, low);
  const __m256i v = _mm256_add_epi16(u, _mm256_mulhrs_epi16(_mm256_sub_epi16(l, u), wy));
  __m256i values = _mm256_srai_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(16384 + 4)), 3);
  if (g.gaps) values = _mm256_or_si256(values, LanesOf(g.none));  // points without data: -1
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), values);
}

template <typename Group>
__attribute__((target("avx2"))) bool BlendGroups(const uint8_t* band, std::ptrdiff_t down,
                                                 const std::vector<Group>& groups,
                                                 const CachedRead* reads, int32_t count,
                                                 int16_t* out) {
  // The last group ends with the row (it may begin inside the one before).
  bool points = false;
  int32_t i = 0;
  for (const Group& g : groups) {
    const int32_t first = std::min(i, count - RowProgram::kGroup);
    if (g.rows != 0) {
      BlendGroup(band, down, g, out + first);
    } else {
      _mm256_zeroupper();  // the scalar code after wide vectors runs at full speed
      points |= BlendCachedPoints(band, down, reads, first, first + RowProgram::kGroup, out);
    }
    i += RowProgram::kGroup;
  }
  _mm256_zeroupper();
  return BlendCachedPoints(band, down, reads, i, count, out) || points;
}
#endif

// Where the samples of a window that begins at offset lo lie: its column in a row of rowWidth
// bytes (inverse: 1 / rowWidth).
int64_t ColumnOf(int64_t lo, int32_t rowWidth, double inverse) {
  int64_t column =
      lo - static_cast<int64_t>(std::floor(static_cast<double>(lo) * inverse)) * int64_t{rowWidth};
  column += column < 0 ? rowWidth : column >= rowWidth ? -rowWidth : 0;
  return column;
}

}  // namespace

void RowProgram::Fill(Group& g, int32_t p, const CachedRead& r, int64_t left) {
  const bool value = r.state == kCachedValue;
  g.left[p] = static_cast<uint8_t>(left);
  g.wx[p] = static_cast<uint8_t>(value && r.right != 0 ? (r.fx + 1) >> 1 : 0);
  g.wy[p] = static_cast<uint8_t>(value ? std::min((r.fy + 1) >> 1, 127) : 0);
  if (!value) {
    g.none = static_cast<uint16_t>(g.none | 1u << p);
    g.gaps = true;
  }
}

#if QUELMAR_X86_VECTORS
namespace {

// The lowest and the highest of eight int32.
__attribute__((target("avx2"))) inline int32_t Lowest(__m256i v) {
  v = _mm256_min_epi32(v, _mm256_permute2x128_si256(v, v, 1));
  v = _mm256_min_epi32(v, _mm256_shuffle_epi32(v, 0x4E));
  return _mm256_cvtsi256_si32(_mm256_min_epi32(v, _mm256_shuffle_epi32(v, 0xB1)));
}
__attribute__((target("avx2"))) inline int32_t Highest(__m256i v) {
  v = _mm256_max_epi32(v, _mm256_permute2x128_si256(v, v, 1));
  v = _mm256_max_epi32(v, _mm256_shuffle_epi32(v, 0x4E));
  return _mm256_cvtsi256_si32(_mm256_max_epi32(v, _mm256_shuffle_epi32(v, 0xB1)));
}

// Bit k: int32 lane k is all ones.
__attribute__((target("avx2"))) inline int32_t Lanes(__m256i m) {
  return _mm256_movemask_ps(_mm256_castsi256_ps(m));
}

}  // namespace

__attribute__((target("avx2"))) bool RowProgram::HalfWide(const CachedRead* h, int32_t rowWidth,
                                                          double inverse, Group& g, int32_t half,
                                                          bool& twoWindows) {
  static_assert(sizeof(CachedRead) == 8, "a read: its offset, then fx, fy, right and state");
  // The eight offsets, and the eight words of fx | fy << 8 | right << 16 | state << 24.
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i a =
      _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h)), split);
  const __m256i b = _mm256_permutevar8x32_epi32(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + 4)), split);
  const __m256i offset = _mm256_permute2x128_si256(a, b, 0x20);
  const __m256i word = _mm256_permute2x128_si256(a, b, 0x31);
  // Each point a value (its right neighbour read or not: 0 or 1 column on) or without data.
  const __m256i zero = _mm256_setzero_si256();
  const __m256i value = _mm256_cmpeq_epi32(
      _mm256_and_si256(word, _mm256_set1_epi32(static_cast<int32_t>(0xFFFE0000u))), zero);
  const __m256i none =
      _mm256_cmpeq_epi32(_mm256_srli_epi32(word, 24), _mm256_set1_epi32(kCachedNoData));
  if (Lanes(_mm256_or_si256(value, none)) != 0xFF) return false;
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i right = _mm256_and_si256(_mm256_srli_epi32(word, 16), one);
  // The window of the lowest sample, and a second one for the samples beyond it.
  const __m256i highest = _mm256_set1_epi32(INT32_MAX), lowest = _mm256_set1_epi32(INT32_MIN);
  const __m256i end = _mm256_add_epi32(offset, right);
  if (Highest(_mm256_blendv_epi8(lowest, offset, value)) == INT32_MAX) return false;
  int64_t start[2] = {0, 0};  // a half without data reads the band's first bytes
  __m256i second = zero;
  if (!_mm256_testz_si256(value, value)) {
    const auto place = [&](int64_t lo) {
      return lo - std::max<int64_t>(0, ColumnOf(lo, rowWidth, inverse) + kWindow - rowWidth);
    };
    start[0] = place(Lowest(_mm256_blendv_epi8(highest, offset, value)));
    const auto lastOfFirst = std::clamp<int64_t>(start[0] + kWindow - 1, INT32_MIN, INT32_MAX);
    second = _mm256_and_si256(
        value, _mm256_cmpgt_epi32(end, _mm256_set1_epi32(static_cast<int32_t>(lastOfFirst))));
    start[1] = start[0];
    if (!_mm256_testz_si256(second, second)) {
      start[1] = place(Lowest(_mm256_blendv_epi8(highest, offset, second)));
      if (Highest(_mm256_blendv_epi8(lowest, end, second)) - start[1] >= kWindow) return false;
    }
    if (start[0] < INT32_MIN || start[1] < INT32_MIN) return false;
  }
  // Each point's place in its window and its weights, as Fill gives them (all 0 without data).
  const __m256i at = _mm256_blendv_epi8(_mm256_set1_epi32(static_cast<int32_t>(start[0])),
                                        _mm256_set1_epi32(static_cast<int32_t>(start[1])), second);
  const __m256i byte = _mm256_set1_epi32(255);
  const __m256i left = _mm256_and_si256(_mm256_sub_epi32(offset, at), value);
  const __m256i fx = _mm256_and_si256(word, byte);
  const __m256i fy = _mm256_and_si256(_mm256_srli_epi32(word, 8), byte);
  const __m256i wx = _mm256_and_si256(_mm256_srli_epi32(_mm256_add_epi32(fx, one), 1),
                                      _mm256_and_si256(value, _mm256_cmpeq_epi32(right, one)));
  const __m256i wy = _mm256_and_si256(
      _mm256_min_epi32(_mm256_srli_epi32(_mm256_add_epi32(fy, one), 1), _mm256_set1_epi32(127)),
      value);
  // Bytes: per lane, four of left, of wx and of wy; then left, wx and wy eight each.
  const __m256i words = _mm256_packus_epi32(left, wx);
  const __m256i bytes =
      _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, _mm256_packus_epi32(wy, zero)),
                                  _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
  const auto put = [&](uint8_t* to, int64_t v) { std::memcpy(to + half * kHalf, &v, kHalf); };
  put(g.left, _mm256_extract_epi64(bytes, 0));
  put(g.wx, _mm256_extract_epi64(bytes, 1));
  put(g.wy, _mm256_extract_epi64(bytes, 2));
  const auto bits = [&](int32_t lanes) { return static_cast<uint16_t>(lanes << (half * kHalf)); };
  const int32_t noneLanes = Lanes(none), secondLanes = Lanes(second);
  g.none = static_cast<uint16_t>(g.none | bits(noneLanes));
  g.other = static_cast<uint16_t>(g.other | bits(secondLanes));
  g.gaps = g.gaps || noneLanes != 0;
  twoWindows = secondLanes != 0;
  g.at[half] = static_cast<int32_t>(start[0]);
  g.at2[half] = static_cast<int32_t>(start[1]);
  return true;
}
#else
bool RowProgram::HalfWide(const CachedRead*, int32_t, double, Group&, int32_t, bool&) {
  return false;
}
#endif

void RowProgram::Compile(const CachedRead* reads, int32_t count, std::ptrdiff_t down,
                         int32_t rowWidth) {
#if QUELMAR_X86_VECTORS
  CompileHalves(reads, count, down, rowWidth, kWideVectors);
#else
  CompileHalves(reads, count, down, rowWidth, false);
#endif
}

void RowProgram::CompileOneAtATime(const CachedRead* reads, int32_t count, std::ptrdiff_t down,
                                   int32_t rowWidth) {
  CompileHalves(reads, count, down, rowWidth, false);
}

void RowProgram::CompileHalves(const CachedRead* reads, int32_t count, std::ptrdiff_t down,
                               int32_t rowWidth, bool wide) {
  // Groups of sixteen points, the last one ending with the row.
  groups_.assign(count < kGroup ? 0 : static_cast<size_t>((count + kGroup - 1) / kGroup), Group{});
  shuffled_ = 0;
  lowest_ = PTRDIFF_MAX;
  highest_ = PTRDIFF_MIN;
  const int64_t d = down;
  const double inverse = 1.0 / std::max(rowWidth, 1);  // a column from an offset, no division
  for (size_t k = 0; k < groups_.size(); ++k) {
    Group& g = groups_[k];
    const CachedRead* e =
        reads + std::min<int64_t>(static_cast<int64_t>(k) * kGroup, count - kGroup);
    bool ok = rowWidth >= kWindow && (d >= kWindow || -d >= kWindow);
    bool twoWindows = false;
    for (int32_t half = 0; half < 2 && ok; ++half) {
      const CachedRead* h = e + half * kHalf;
      bool two = false;
      if (wide && HalfWide(h, rowWidth, inverse, g, half, two)) {
        twoWindows = twoWindows || two;
        continue;
      }
      // Points without data take no part (their blend is replaced by -1); the others read near
      // the first one, or near the first one that does not (the next row, another framelet's
      // band): two windows, each with the row under it.
      int64_t base[2] = {0, 0};
      int32_t bases = 0;
      int32_t windowOf[kHalf] = {};
      for (int32_t j = 0; j < kHalf && ok; ++j) {
        if (h[j].state == kCachedNoData) continue;
        ok = h[j].state == kCachedValue && h[j].right <= 1;
        int32_t w = 0;
        while (w < bases && std::abs(int64_t{h[j].offset} - base[w]) >= kWindow) ++w;
        if (w == bases) {
          ok = ok && bases < 2;
          if (!ok) break;
          base[bases++] = h[j].offset;
        }
        windowOf[j] = w;
      }
      if (!ok) break;
      int64_t start[2] = {0, 0};  // a half without data reads the band's first bytes
      for (int32_t w = 0; w < bases && ok; ++w) {
        int64_t lo = INT64_MAX, hi = INT64_MIN;
        for (int32_t j = 0; j < kHalf; ++j) {
          if (h[j].state != kCachedValue || windowOf[j] != w) continue;
          lo = std::min<int64_t>(lo, h[j].offset);
          hi = std::max<int64_t>(hi, int64_t{h[j].offset} + h[j].right);
        }
        // One window inside the row its points read: at the row's end, it ends with the row
        // (rows are kWindow bytes or longer).
        lo -= std::max<int64_t>(0, ColumnOf(lo, rowWidth, inverse) + kWindow - rowWidth);
        ok = hi - lo < kWindow && lo >= INT32_MIN && lo <= INT32_MAX;
        start[w] = lo;
      }
      if (!ok) break;
      g.at[half] = static_cast<int32_t>(start[0]);
      g.at2[half] = static_cast<int32_t>(bases == 2 ? start[1] : start[0]);
      for (int32_t j = 0; j < kHalf; ++j) {
        const int32_t p = half * kHalf + j;
        const bool value = h[j].state == kCachedValue;
        Fill(g, p, h[j], value ? h[j].offset - start[windowOf[j]] : 0);
        if (value && windowOf[j] != 0) g.other = static_cast<uint16_t>(g.other | 1u << p);
        twoWindows = twoWindows || (value && windowOf[j] != 0);
      }
    }
    if (!ok) {
      g = Group{};
      continue;
    }
    g.rows = twoWindows ? 2 : 1;
    ++shuffled_;
    // The bytes its windows read.
    for (int32_t half = 0; half < 2; ++half) {
      for (const int64_t at : {g.at[half], g.at2[half]}) {
        for (const int64_t r : {int64_t{0}, d}) {
          lowest_ = std::min<std::ptrdiff_t>(lowest_, at + r);
          highest_ = std::max<std::ptrdiff_t>(highest_, at + r + kWindow);
        }
      }
    }
  }
}

bool RowProgram::Complete() const {
#if QUELMAR_X86_VECTORS
  return kWideVectors && !groups_.empty() && shuffled_ == static_cast<int32_t>(groups_.size());
#else
  return false;
#endif
}

bool RowProgram::Run(const uint8_t* band, std::ptrdiff_t down, std::ptrdiff_t before,
                     std::ptrdiff_t readable, const CachedRead* reads, int32_t count,
                     int16_t* out) const {
#if QUELMAR_X86_VECTORS
  if (kWideVectors && shuffled_ > 0 && -lowest_ <= before && highest_ <= readable) {
    return BlendGroups(band, down, groups_, reads, count, out);
  }
#endif
  return BlendCachedRow(band, down, before, readable, reads, count, out);
}

}  // namespace quelmar
