#include "assembly/PictureBuilder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

#include "assembly/BandRowBounds.h"
#include "assembly/CameraSettings.h"
#include "assembly/Distortion.h"
#include "assembly/RgbLibrary.h"
#include "util/Errors.h"

namespace quelmar {

namespace {

// The readers below index the image by the product's counts; a product whose counts do not
// match its rows is refused before anything is read.
void CheckProductLayout(const LoadedProduct& p) {
  const int64_t framed = int64_t{p.FrameletCount} * int64_t{p.FrameletHeight};
  if (p.RowCount < 0 || p.RowCount > p.Rows.Lines() || p.FrameletHeight < 0 ||
      p.FrameletCount < 0 || framed > p.RowCount) {
    throw RangeError("The loaded product is inconsistent: " + std::to_string(p.FrameletCount) +
                     " framelets of " + std::to_string(p.FrameletHeight) + " rows, " +
                     std::to_string(p.RowCount) + " rows read, " + std::to_string(p.Rows.Lines()) +
                     " rows held");
  }
}

int32_t ToInt32(int64_t value, const std::string& what) {
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    throw RangeError(what + " does not fit in a 32-bit integer");
  }
  return static_cast<int32_t>(value);
}

int32_t RoundChecked(Real x, const std::string& what) {
  const Real r = Round(x);
  if (!(r >= static_cast<Real>(std::numeric_limits<int32_t>::min()) &&
        r <= static_cast<Real>(std::numeric_limits<int32_t>::max()))) {
    throw RangeError(what + " does not fit in a 32-bit integer");
  }
  return static_cast<int32_t>(r);
}

// One grey pixel (v, v, v).
inline void PutGrey(uint8_t* dst, uint8_t v) {
  dst[0] = v;
  dst[1] = v;
  dst[2] = v;
}

inline void PutColour(uint8_t* dst, const std::array<uint8_t, 3>& colour) {
  dst[0] = colour[0];
  dst[1] = colour[1];
  dst[2] = colour[2];
}

// Two grey pixels, v0 then v1, as one 8-byte store of which the last 2 bytes are scratch: the
// next pixel's store overwrites them. Writing pixels 3 bytes at a time costs the picture's
// largest builds (the raw picture is 3 bytes for every product sample) about twice as long.
inline void PutGreyPair(uint8_t* dst, uint8_t v0, uint8_t v1) {
  const uint64_t word = uint64_t{v0} * 0x010101u | (uint64_t{v1} * 0x010101u) << 24;
  std::memcpy(dst, &word, sizeof word);
}

constexpr bool kPairStores = std::endian::native == std::endian::little;

// Grey samples as picture pixels: v -> (v, v, v).
void GreyRowScalar(const uint8_t* src, uint8_t* dst, int32_t count) {
  int32_t i = 0;
  if constexpr (kPairStores) {
    // A pair's store reaches 2 bytes into the next pixel, so the last pixel is left to the loop
    // below: no store passes the row's end.
    for (; i + 3 <= count; i += 2)
      PutGreyPair(dst + 3 * static_cast<size_t>(i), src[i], src[i + 1]);
  }
  for (; i < count; ++i) PutGrey(dst + 3 * static_cast<size_t>(i), src[i]);
}

#if QUELMAR_X86_VECTORS
// 16 samples at a time, spread to 48 bytes by three byte shuffles (processors since 2006 have
// them; the scalar loop serves the others).
__attribute__((target("ssse3"))) void GreyRowShuffled(const uint8_t* src, uint8_t* dst,
                                                      int32_t count) {
  const __m128i spread0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
  const __m128i spread1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
  const __m128i spread2 =
      _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    uint8_t* out = dst + 3 * static_cast<size_t>(i);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, spread0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(v, spread1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_shuffle_epi8(v, spread2));
  }
  GreyRowScalar(src + i, dst + 3 * static_cast<size_t>(i), count - i);
}

bool ProcessorHasShuffles() {
  __builtin_cpu_init();  // static initialisers may run before the processor model is read
  return __builtin_cpu_supports("ssse3");
}
const bool kHasShuffles = ProcessorHasShuffles();
#endif

void GreyRow(const uint8_t* src, uint8_t* dst, int32_t count) {
#if QUELMAR_X86_VECTORS
  if (kHasShuffles) return GreyRowShuffled(src, dst, count);
#endif
  GreyRowScalar(src, dst, count);
}

// A stretch of a line map whose entries all name a source sample, or all stand for no data. The
// stretches of a line are found once per picture, so that the row loops below need no test per
// pixel (the stretches without data lie mostly at the ends of a line, but not only there).
struct MapRun {
  int32_t begin;
  int32_t end;
  bool valid;
};

std::vector<MapRun> RunsOf(const int64_t* map, int32_t count) {
  std::vector<MapRun> runs;
  for (int32_t i = 0; i < count;) {
    const bool valid = map[i] >= 0;
    int32_t j = i + 1;
    while (j < count && (map[j] >= 0) == valid) ++j;
    runs.push_back({i, j, valid});
    i = j;
  }
  return runs;
}

// A corrected row from its line map and the map's stretches; `start` is the framelet's first
// sample. Only used when every row the map can name lies within the rows read.
void MappedRow(const int64_t* map, const std::vector<MapRun>& runs, const uint8_t* start,
               const std::array<uint8_t, 3>& noData, uint8_t* dst, int32_t count) {
  for (const MapRun& run : runs) {
    int32_t i = run.begin;
    if (!run.valid) {
      for (; i < run.end; ++i) PutColour(dst + 3 * static_cast<size_t>(i), noData);
      continue;
    }
    if constexpr (kPairStores) {
      // The scratch bytes of a pair land on a later pixel of the row, stored after it; the
      // row's last pixel is stored alone.
      const int32_t pairsEnd = std::min(run.end, count - 1);
      for (; i + 2 <= pairsEnd; i += 2)
        PutGreyPair(dst + 3 * static_cast<size_t>(i), start[map[i]], start[map[i + 1]]);
    }
    for (; i < run.end; ++i) PutGrey(dst + 3 * static_cast<size_t>(i), start[map[i]]);
  }
}

// Asks for the band rows of a framelet ahead of their use. A corrected row reads its samples
// out of order from several rows, which the processor's own prefetching does not foresee: the
// loads would wait on memory for every framelet of a large product.
void PrefetchRows(const ImageRows& rows, int64_t first, int64_t last) {
  if (first < 0 || last < first || last >= rows.Lines()) return;
  const uint8_t* from = rows.Row(static_cast<int32_t>(first));
  const size_t bytes = static_cast<size_t>(last - first + 1) * static_cast<size_t>(rows.Width());
  for (size_t at = 0; at < bytes; at += 64) __builtin_prefetch(from + at);
}

// The same with every source row clamped to the rows read (framelets whose band runs past the
// last row read).
void MappedRowClamped(const int64_t* map, const ImageRows& rows, int64_t base, int32_t rowCount,
                      const std::array<uint8_t, 3>& noData, uint8_t* dst, int32_t count) {
  const int64_t width = rows.Width();
  for (int32_t i = 0; i < count; ++i, dst += 3) {
    const int64_t at = map[i];
    if (at < 0) {
      PutColour(dst, noData);
    } else {
      const int64_t row = std::clamp<int64_t>(base + at / width, 0, int64_t{rowCount} - 1);
      PutGrey(dst, rows.Row(static_cast<int32_t>(row))[at % width]);
    }
  }
}

const char* CorrectionNote(bool correct, bool vertical) {
  if (!correct) return "Uncorrected for distortion";
  return vertical ? "Corrected for horizontal and vertical distortion"
                  : "Corrected for horizontal distortion";
}

}  // namespace

DisplayOutcome DisplayImage(const LoadedProduct& product, const PictureRequest& request,
                            UserPort& port, DisplayedImageInfo& displayed, Picture& picture) {
  if (!product.HasImage()) {
    picture.Reset(0, 0);
    port.AppendLine("Need to load readable image data");
    return DisplayOutcome::NoImage;
  }
  BusyCursor busy(port);
  CheckProductLayout(product);
  const int32_t fh = product.FrameletHeight;
  const int32_t fc = product.FrameletCount;
  const int32_t wsrc = product.Rows.Width();

  const bool stacked = request.Stacked;
  const bool correct = stacked && request.CorrectDistortion;
  const bool vertical = request.CorrectVertically;

  // A raw picture is the layout with whole framelets, a travel of one framelet and no sideways
  // travel.
  Real vt = stacked ? request.VerticalTravel : static_cast<Real>(fh);
  if (!(vt >= 0)) vt = 0;
  if (vt > fh) vt = static_cast<Real>(fh);
  const Real ht = stacked ? request.HorizontalTravel : static_cast<Real>(0);
  if (!std::isfinite(ht)) throw RangeError("The horizontal travel is not a finite number");

  const std::vector<int32_t> bounds = BandRowBounds(product.BandCount, fh);
  BandStrip strip{0, fh, fh};
  std::string wavelength;
  if (stacked) {
    if (!request.ReadBand) throw QuelmarError("No band number was given for the stacked picture");
    const int32_t band = request.ReadBand();
    strip = StripOfBand(bounds, product.BandCount, band);
    wavelength = product.BandWavelengths[static_cast<size_t>(band) - 1];
  }

  // Everything that can fail or refuse is settled before the picture or the record changes, so
  // that they always describe each other.
  std::optional<DistortionGeometry> geometry;
  std::array<uint8_t, 3> noData{};
  int32_t shift = 0;
  if (correct) {
    const CameraSettings settings = ReadCameraSettings(request.SettingsPath);
    const int32_t filter = ChooseFilter(settings, wavelength, port);
    const CorrectionConstants constants = DeriveCorrectionConstants(settings, filter);
    if (auto problem = CorrectionSettingsProblem(constants, request.SettingsPath)) {
      port.AppendLine(*problem);
      return DisplayOutcome::Refused;
    }
    RadialTable table = BuildRadialTable(kRadiusLimit, constants.K1, constants.K2, constants.Pitch);
    if (auto problem = RadialTableProblem(table, constants, request.SettingsPath)) {
      port.AppendLine(*problem);
      return DisplayOutcome::Refused;
    }
    noData = ColorToBgr(settings.NoDataColor);
    geometry.emplace(std::move(table.Entries), constants, strip.H, wsrc);
    geometry->SearchWidth();
    shift = request.ReadShift ? request.ReadShift() : 0;
  }

  // Rows each framelet gives: Round(F x VT) - Round((F - 1) x VT), all H rows for the last one.
  std::vector<int32_t> rowsTaken(static_cast<size_t>(fc));
  int32_t mostRows = 0;
  for (int32_t f = 1; f <= fc; ++f) {
    const int32_t k = f == fc ? strip.H
                              : RoundChecked(static_cast<Real>(f) * vt, "A picture row") -
                                    RoundChecked(static_cast<Real>(f - 1) * vt, "A picture row");
    rowsTaken[static_cast<size_t>(f) - 1] = k;
    mostRows = std::max(mostRows, k);
  }
  const int64_t heightWanted =
      int64_t{RoundChecked(static_cast<Real>(fc - 1) * vt, "The picture height")} + strip.H;
  const int32_t height = ToInt32(std::max<int64_t>(heightWanted, 0), "The picture height");
  const int32_t extra = RoundChecked(std::fabs(ht) * static_cast<Real>(fc),
                                     "The extra width for a horizontal travel of " + FormatG3(ht) +
                                         " over " + std::to_string(fc) + " framelets");
  const int32_t stripWidth = geometry ? geometry->Width() : wsrc;
  const int32_t width = ToInt32(int64_t{stripWidth} + extra, "The picture width");
  // Corrected vertically, a row takes its samples from several band rows, and read where they
  // lie in a large product those rows are new pages for every framelet: the loads would wait on
  // the processor's address translation. So each framelet's band rows are copied into one small
  // block, used again for every framelet, and the rows are drawn from there, with the line maps
  // rebased to the band's first row. (A horizontal correction reads one row per line, which
  // costs less than the copy.) Strips too large to copy are read in place.
  std::optional<CorrectedRowMap> map;
  std::vector<std::vector<MapRun>> runs;
  std::vector<uint8_t> stripRows;
  std::vector<int64_t> stripMap;
  if (geometry) {
    map.emplace(*geometry, strip, wsrc, request.Invert, vertical, shift, mostRows);
    const bool copyStrips = vertical && int64_t{mostRows} * stripWidth <= (int64_t{1} << 22) &&
                            int64_t{strip.H} * wsrc <= (int64_t{1} << 24);
    if (copyStrips) {
      stripRows.resize(static_cast<size_t>(strip.H) * static_cast<size_t>(wsrc));
      stripMap.resize(static_cast<size_t>(mostRows) * static_cast<size_t>(stripWidth));
    }
    const int64_t bandStart = int64_t{strip.T} * wsrc;
    runs.reserve(static_cast<size_t>(mostRows));
    for (int32_t line = 1; line <= mostRows; ++line) {
      const int64_t* entries = map->Line(line);
      runs.push_back(RunsOf(entries, stripWidth));
      if (!copyStrips) continue;
      int64_t* rebased = stripMap.data() + static_cast<size_t>(line - 1) * stripWidth;
      for (int32_t i = 0; i < stripWidth; ++i)
        rebased[i] = entries[i] < 0 ? -1 : entries[i] - bandStart;
    }
  }

  // Every byte of every row is painted below (the pixels, white beside them), so the picture is
  // not cleared first: that would be one more pass over the largest block this command writes.
  picture.Resize(width, height);
  if (stacked) {
    displayed.Wavelength = wavelength;
    displayed.VStep = vt;
    displayed.HStep = request.HorizontalTravel;
    displayed.Stacked = true;
    displayed.UvBand = strip.H == 4;
    displayed.Inverted = request.Invert;
    displayed.Correction = CorrectionNote(correct, vertical);
  } else {
    displayed.Inverted = request.Invert;
    displayed.Stacked = false;
  }

  Real position = ht >= 0 ? static_cast<Real>(0) : static_cast<Real>(extra);
  int32_t row = 0;
  const int64_t lastRow = int64_t{product.RowCount} - 1;
  const size_t stride = static_cast<size_t>(picture.Stride());
  for (int32_t f = 1; f <= fc; ++f, position += ht) {
    // Kept within the extra width, whatever the rounding of the running sum does.
    const int32_t column =
        static_cast<int32_t>(std::clamp<Real>(Round(position), 0, static_cast<Real>(extra)));
    const size_t left = static_cast<size_t>(column) * 3;
    const size_t right = left + static_cast<size_t>(stripWidth) * 3;
    const int64_t base = int64_t{f - 1} * fh;
    const int32_t k = rowsTaken[static_cast<size_t>(f) - 1];
    if (map && f < fc) PrefetchRows(product.Rows, base + fh + strip.T, base + fh + strip.B - 1);
    for (int32_t line = 1; line <= k && row < height; ++line, ++row) {
      uint8_t* const start = picture.Row(row);
      if (left > 0) std::memset(start, 0xFF, left);
      if (stride > right) std::memset(start + right, 0xFF, stride - right);
      uint8_t* dst = start + left;
      if (!map) {
        const int64_t source = request.Invert ? base + strip.B - line : base + strip.T + line - 1;
        const int64_t clamped = std::clamp<int64_t>(source, 0, lastRow);
        GreyRow(product.Rows.Row(static_cast<int32_t>(clamped)), dst, wsrc);
      } else if (base + strip.B - 1 > lastRow) {
        MappedRowClamped(map->Line(line), product.Rows, base, product.RowCount, noData, dst,
                         stripWidth);
      } else if (!stripRows.empty()) {
        if (line == 1) {
          std::memcpy(stripRows.data(), product.Rows.Row(static_cast<int32_t>(base + strip.T)),
                      stripRows.size());
        }
        MappedRow(stripMap.data() + static_cast<size_t>(line - 1) * stripWidth,
                  runs[static_cast<size_t>(line) - 1], stripRows.data(), noData, dst, stripWidth);
      } else {
        MappedRow(map->Line(line), runs[static_cast<size_t>(line) - 1],
                  product.Rows.Row(static_cast<int32_t>(base)), noData, dst, stripWidth);
      }
    }
  }
  if (stride > 0) {
    for (; row < height; ++row) std::memset(picture.Row(row), 0xFF, stride);
  }
  return DisplayOutcome::Shown;
}

}  // namespace quelmar
