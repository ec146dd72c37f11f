#include "assembly/ColourRowPack.h"
#include "util/ProcessorFeatures.h"

#include <algorithm>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

void PackScalar(const int16_t* r, const int16_t* g, const int16_t* b,
                const std::array<uint8_t, 3>& noData, int32_t from, int32_t width, uint8_t* out) {
  for (int32_t x = from; x < width; ++x) {
    uint8_t* px = out + 3 * x;
    const bool none = (r[x] | g[x] | b[x]) < 0;
    px[0] = none ? noData[0] : static_cast<uint8_t>(std::min((b[x] + 8) >> 4, 255));
    px[1] = none ? noData[1] : static_cast<uint8_t>(std::min((g[x] + 8) >> 4, 255));
    px[2] = none ? noData[2] : static_cast<uint8_t>(std::min((r[x] + 8) >> 4, 255));
  }
}

#if QUELMAR_X86_VECTORS
// Where byte k of the 48 of sixteen pixels comes from in channel c (blue, green, red): pixel
// k / 3 when k % 3 is c, else nothing (0x80).
struct Spread {
  alignas(16) uint8_t Masks[3][3][16];  // [output block][channel][byte]
  Spread() {
    for (int32_t k = 0; k < 48; ++k) {
      for (int32_t c = 0; c < 3; ++c) {
        Masks[k / 16][c][k % 16] = static_cast<uint8_t>(k % 3 == c ? k / 3 : 0x80);
      }
    }
  }
};
const Spread kSpread;

// Sixteen grey levels from sixteen samples (values x 16; the negative ones come out as 0).
__attribute__((target("ssse3"))) inline __m128i Levels(const int16_t* v) {
  const __m128i eight = _mm_set1_epi16(8);
  const __m128i lo =
      _mm_srai_epi16(_mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), eight), 4);
  const __m128i hi = _mm_srai_epi16(
      _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 8)), eight), 4);
  return _mm_packus_epi16(lo, hi);
}

__attribute__((target("ssse3"))) inline __m128i Missing(const int16_t* r, const int16_t* g,
                                                        const int16_t* b, int32_t at) {
  const auto load = [](const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo =
      _mm_cmplt_epi16(_mm_or_si128(_mm_or_si128(load(r + at), load(g + at)), load(b + at)), zero);
  const __m128i hi = _mm_cmplt_epi16(
      _mm_or_si128(_mm_or_si128(load(r + at + 8), load(g + at + 8)), load(b + at + 8)), zero);
  return _mm_packs_epi16(lo, hi);
}

// Sixteen pixels at a time, spread to 48 bytes by byte shuffles; exactly as one at a time.
__attribute__((target("ssse3"))) int32_t PackShuffled(const int16_t* r, const int16_t* g,
                                                      const int16_t* b,
                                                      const std::array<uint8_t, 3>& noData,
                                                      int32_t width, uint8_t* out) {
  const __m128i fill[3] = {_mm_set1_epi8(static_cast<char>(noData[0])),
                           _mm_set1_epi8(static_cast<char>(noData[1])),
                           _mm_set1_epi8(static_cast<char>(noData[2]))};
  int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i none = Missing(r, g, b, x);
    __m128i channel[3] = {Levels(b + x), Levels(g + x), Levels(r + x)};
    if (_mm_movemask_epi8(none) != 0) {
      for (int32_t c = 0; c < 3; ++c) {
        channel[c] = _mm_or_si128(_mm_andnot_si128(none, channel[c]), _mm_and_si128(none, fill[c]));
      }
    }
    for (int32_t k = 0; k < 3; ++k) {
      const auto mask = [&](int32_t c) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread.Masks[k][c]));
      };
      const __m128i bytes = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(channel[0], mask(0)),
                                                      _mm_shuffle_epi8(channel[1], mask(1))),
                                         _mm_shuffle_epi8(channel[2], mask(2)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 16 * k), bytes);
    }
  }
  return x;
}

// Thirty-two levels from thirty-two samples, pixels 0-15 in the lower half and 16-31 in the
// upper one.
__attribute__((target("avx2"))) inline __m256i LevelsWide(const int16_t* v) {
  const __m256i eight = _mm256_set1_epi16(8);
  const __m256i lo = _mm256_srai_epi16(
      _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v)), eight), 4);
  const __m256i hi = _mm256_srai_epi16(
      _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + 16)), eight), 4);
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
}

__attribute__((target("avx2"))) inline __m256i Load(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m256i MissingWide(const int16_t* r, const int16_t* g,
                                                           const int16_t* b, int32_t at) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_cmpgt_epi16(
      zero, _mm256_or_si256(_mm256_or_si256(Load(r + at), Load(g + at)), Load(b + at)));
  const __m256i hi = _mm256_cmpgt_epi16(
      zero,
      _mm256_or_si256(_mm256_or_si256(Load(r + at + 16), Load(g + at + 16)), Load(b + at + 16)));
  return _mm256_permute4x64_epi64(_mm256_packs_epi16(lo, hi), 0xD8);
}

// PackShuffled thirty-two pixels at a time: sixteen in each half of the wide vectors.
__attribute__((target("avx2"))) int32_t PackWide(const int16_t* r, const int16_t* g,
                                                 const int16_t* b,
                                                 const std::array<uint8_t, 3>& noData,
                                                 int32_t width, uint8_t* out) {
  const __m256i fill[3] = {_mm256_set1_epi8(static_cast<char>(noData[0])),
                           _mm256_set1_epi8(static_cast<char>(noData[1])),
                           _mm256_set1_epi8(static_cast<char>(noData[2]))};
  int32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i none = MissingWide(r, g, b, x);
    __m256i channel[3] = {LevelsWide(b + x), LevelsWide(g + x), LevelsWide(r + x)};
    if (!_mm256_testz_si256(none, none)) {
      for (int32_t c = 0; c < 3; ++c) channel[c] = _mm256_blendv_epi8(channel[c], fill[c], none);
    }
    uint8_t* to = out + 3 * x;
    for (int32_t k = 0; k < 3; ++k) {
      __m256i bytes = _mm256_setzero_si256();
      for (int32_t c = 0; c < 3; ++c) {
        const __m256i mask = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread.Masks[k][c])));
        bytes = _mm256_or_si256(bytes, _mm256_shuffle_epi8(channel[c], mask));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * k), _mm256_castsi256_si128(bytes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 48 + 16 * k),
                       _mm256_extracti128_si256(bytes, 1));
    }
  }
  _mm256_zeroupper();
  return x;
}

const bool kShuffles = ProcessorHasShuffles();
const bool kWideVectors = ProcessorHasWideVectors();
#endif

}  // namespace

void PackColourRow(const int16_t* red, const int16_t* green, const int16_t* blue,
                   const std::array<uint8_t, 3>& noData, int32_t width, uint8_t* out) {
  int32_t x = 0;
#if QUELMAR_X86_VECTORS
  if (kWideVectors) x = PackWide(red, green, blue, noData, width, out);
  if (kShuffles) {
    x += PackShuffled(red + x, green + x, blue + x, noData, width - x,
                      out + 3 * static_cast<size_t>(x));
  }
#endif
  PackScalar(red, green, blue, noData, x, width, out);
}

}  // namespace quelmar
