#include "assembly/PictureBuilder.h"

#include <algorithm>
#include <array>
#include <atomic>
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
#include "util/ProcessorFeatures.h"

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

int32_t RoundChecked(Real x, const char* what) {
  int32_t r;
  if (!RoundFitsInt32(x, r))
    throw RangeError(std::string(what) + " does not fit in a 32-bit integer");
  return r;
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

// White bytes beside the pixels: mostly the 1 to 3 bytes that pad a row, which a call to
// memset per row would cost more than storing them.
inline void PaintWhite(uint8_t* dst, size_t count) {
  if (count > 8) {
    std::memset(dst, 0xFF, count);
    return;
  }
  for (size_t i = 0; i < count; ++i) dst[i] = 0xFF;
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

const bool kHasShuffles = ProcessorHasShuffles();
#endif
std::atomic<bool> shufflesWanted{true};

bool ProcessorShuffles() {
#if QUELMAR_X86_VECTORS
  return kHasShuffles && shufflesWanted.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

void GreyRow(const uint8_t* src, uint8_t* dst, int32_t count) {
#if QUELMAR_X86_VECTORS
  if (ProcessorShuffles()) return GreyRowShuffled(src, dst, count);
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

// A corrected line compiled for byte shuffles. The map of a line moves slowly along the row
// (neighbouring pixels take the same or neighbouring source columns), so 16 of them nearly
// always take their samples from one 16-byte stretch of the source, or from two when a vertical
// correction draws them from two rows. Such a group is drawn by loading the stretches and spreading
// their bytes into the group's 48 picture bytes with precomputed shuffles; groups that touch
// no-data pixels or spread wider are drawn pixel by pixel.
struct alignas(16) ShuffleMask {
  uint8_t byte[16];
};

struct ShuffleStep {
  int32_t pixel;    // first pixel of the step
  int32_t count;    // pixels: 16 for a shuffled group
  int32_t windows;  // 1 or 2 source stretches; 0: pixel by pixel from the map
  int32_t mask;     // the step's first mask: 3 per stretch
  int64_t from[2];  // stretch starts, offsets like the map's
};

struct ShuffleLine {
  std::vector<ShuffleStep> steps;
  std::vector<ShuffleMask> masks;
};

constexpr int32_t kGroup = 16;
constexpr uint8_t kZeroLane = 0x80;  // a shuffle lane that gives 0

// `readable`: the bytes from the line's base that every row drawn with the program may read, so
// that no 16-byte load passes the rows the map can name.
ShuffleLine CompileLine(const int64_t* map, int32_t count, int64_t readable) {
  ShuffleLine line;
  int32_t pending = 0;  // first pixel not yet given to a step
  auto flushPixels = [&](int32_t end) {
    for (; pending < end; pending += kGroup)
      line.steps.push_back({pending, std::min(kGroup, end - pending), 0, 0, {0, 0}});
  };
  for (int32_t i = 0; i + kGroup <= count; i += kGroup) {
    const int64_t* e = map + i;
    // The first stretch starts at the group's smallest sample, the second at the smallest one
    // the first does not hold; a sample in neither leaves the group to the pixel loop.
    int64_t from[2] = {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max()};
    bool usable = readable >= kGroup;
    for (int32_t j = 0; j < kGroup; ++j) {
      usable = usable && e[j] >= 0;
      from[0] = std::min(from[0], e[j]);
    }
    if (!usable) continue;
    for (int32_t j = 0; j < kGroup; ++j)
      if (e[j] >= from[0] + kGroup) from[1] = std::min(from[1], e[j]);
    const int32_t windows = from[1] == std::numeric_limits<int64_t>::max() ? 1 : 2;
    for (int32_t j = 0; j < kGroup; ++j)
      usable = usable && (e[j] < from[0] + kGroup || e[j] - from[1] < kGroup);
    if (!usable) continue;
    flushPixels(i);
    // A stretch reaching past the readable bytes is moved back; its samples stay inside it.
    ShuffleStep step{i, kGroup, windows, static_cast<int32_t>(line.masks.size()), {0, 0}};
    for (int32_t w = 0; w < windows; ++w) step.from[w] = std::min(from[w], readable - kGroup);
    for (int32_t w = 0; w < windows; ++w) {
      for (int32_t v = 0; v < 3; ++v) {
        ShuffleMask m;
        for (int32_t q = 0; q < 16; ++q) {
          const int64_t sample = e[(16 * v + q) / 3];
          const int32_t stretch = sample < from[0] + kGroup ? 0 : 1;
          m.byte[q] = stretch == w ? static_cast<uint8_t>(sample - step.from[w]) : kZeroLane;
        }
        line.masks.push_back(m);
      }
    }
    line.steps.push_back(step);
    pending = i + kGroup;
  }
  flushPixels(count);
  return line;
}

#if QUELMAR_X86_VECTORS
__attribute__((target("ssse3"))) void ShuffledRow(const ShuffleLine& line, const int64_t* map,
                                                  const uint8_t* base,
                                                  const std::array<uint8_t, 3>& noData,
                                                  uint8_t* dst) {
  const ShuffleMask* masks = line.masks.data();
  for (const ShuffleStep& s : line.steps) {
    uint8_t* out = dst + 3 * static_cast<size_t>(s.pixel);
    const __m128i* m = reinterpret_cast<const __m128i*>(masks + s.mask);
    if (s.windows == 1) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + s.from[0]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, m[0]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(v, m[1]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_shuffle_epi8(v, m[2]));
    } else if (s.windows == 2) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + s.from[0]));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + s.from[1]));
      for (int32_t k = 0; k < 3; ++k) {
        const __m128i bytes =
            _mm_or_si128(_mm_shuffle_epi8(v0, m[k]), _mm_shuffle_epi8(v1, m[k + 3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), bytes);
      }
    } else {
      for (int32_t i = s.pixel; i < s.pixel + s.count; ++i, out += 3) {
        if (map[i] < 0) {
          PutColour(out, noData);
        } else {
          PutGrey(out, base[map[i]]);
        }
      }
    }
  }
}
#endif

// The part of a framelet that the line maps read: rows and columns (from the framelet's first
// row), or none.
struct ReadWindow {
  int64_t firstRow = 0, lastRow = -1;
  int64_t firstColumn = 0, lastColumn = -1;
};

ReadWindow WindowOf(CorrectedRowMap& map, int32_t lines, int32_t width, int64_t sourceWidth) {
  ReadWindow w;
  w.firstRow = w.firstColumn = std::numeric_limits<int64_t>::max();
  for (int32_t line = 1; line <= lines; ++line) {
    const int64_t* entries = map.Line(line);
    for (int32_t i = 0; i < width; ++i) {
      if (entries[i] < 0) continue;
      const int64_t row = entries[i] / sourceWidth, column = entries[i] % sourceWidth;
      w.firstRow = std::min(w.firstRow, row);
      w.lastRow = std::max(w.lastRow, row);
      w.firstColumn = std::min(w.firstColumn, column);
      w.lastColumn = std::max(w.lastColumn, column);
    }
  }
  if (w.lastRow < 0) return ReadWindow();
  return w;
}

// Asks for a framelet's samples ahead of their use. A corrected row reads its samples out of
// order from several rows, which the processor's own prefetching does not foresee: the loads
// would wait on memory for every framelet of a large product. Only the columns the maps read
// are asked for (an ultraviolet strip reads a fifth of each row).
void PrefetchWindow(const ImageRows& rows, int64_t framelet, const ReadWindow& w) {
  const int64_t first = framelet + w.firstRow, last = framelet + w.lastRow;
  if (w.lastRow < w.firstRow || first < 0 || last >= rows.Lines()) return;
  for (int64_t row = first; row <= last; ++row) {
    const uint8_t* from = rows.Row(static_cast<int32_t>(row)) + w.firstColumn;
    const uint8_t* to = rows.Row(static_cast<int32_t>(row)) + w.lastColumn;
    for (; from <= to; from += 64) __builtin_prefetch(from);
    __builtin_prefetch(to);
  }
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

void UseProcessorShuffles(bool use) {
  shufflesWanted.store(use, std::memory_order_relaxed);
}

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

  // A measured travel profile lays each framelet by its own travel instead (TravelProfile.h).
  std::optional<ProfileLayout> profiled;
  if (stacked && !request.Profile.Empty())
    profiled = LayOutProfile(request.Profile, fc, fh, strip.H);

  // Rows each framelet gives: Round(F x VT) - Round((F - 1) x VT), all H rows for the last one.
  std::vector<int32_t> rowsTaken(static_cast<size_t>(fc));
  int32_t mostRows = 0;
  int32_t rowsBefore = 0;  // Round((f - 1) x VT)
  for (int32_t f = 1; f <= fc; ++f) {
    const int32_t rowsTo = f == fc ? 0 : RoundChecked(static_cast<Real>(f) * vt, "A picture row");
    const int32_t k = f == fc ? strip.H : rowsTo - rowsBefore;
    rowsBefore = rowsTo;
    rowsTaken[static_cast<size_t>(f) - 1] = profiled ? profiled->RowsTaken[f - 1] : k;
    mostRows = std::max(mostRows, rowsTaken[static_cast<size_t>(f) - 1]);
  }
  const int64_t heightWanted =
      profiled
          ? int64_t{profiled->Height}
          : int64_t{RoundChecked(static_cast<Real>(fc - 1) * vt, "The picture height")} + strip.H;
  const int32_t height = ToInt32(std::max<int64_t>(heightWanted, 0), "The picture height");
  int32_t extra = profiled ? profiled->ExtraWidth : 0;
  if (!profiled && !RoundFitsInt32(std::fabs(ht) * static_cast<Real>(fc), extra)) {
    throw RangeError("The extra width for a horizontal travel of " + FormatG3(ht) + " over " +
                     std::to_string(fc) + " framelets does not fit in a 32-bit integer");
  }
  const int32_t stripWidth = geometry ? geometry->Width() : wsrc;
  const int32_t width = ToInt32(int64_t{stripWidth} + extra, "The picture width");
  // Corrected vertically, a row takes its samples from several band rows, and read where they
  // lie in a large product those rows are new pages for every framelet: the loads would wait on
  // the processor's address translation. So each framelet's band rows are copied into one small
  // block, used again for every framelet, and the rows are drawn from there, with the line maps
  // rebased to the band's first row. (A horizontal correction reads one row per line, which
  // costs less than the copy.) Strips too large to copy are read in place.
  std::optional<CorrectedRowMap> map;
  std::vector<uint8_t> stripRows;
  std::vector<int64_t> stripMap;
  // The lines compiled for shuffles when the processor has them, otherwise their stretches.
  std::vector<ShuffleLine> programs;
  std::vector<std::vector<MapRun>> runs;
  ReadWindow window;
  if (geometry) {
    map.emplace(*geometry, strip, wsrc, request.Invert, vertical, shift, mostRows);
    const bool held = int64_t{mostRows} * stripWidth <= (int64_t{1} << 22);
    const bool copyStrips = vertical && held && int64_t{strip.H} * wsrc <= (int64_t{1} << 24);
    if (copyStrips) {
      stripRows.resize(static_cast<size_t>(strip.H) * static_cast<size_t>(wsrc));
      stripMap.resize(static_cast<size_t>(mostRows) * static_cast<size_t>(stripWidth));
    }
    const bool shuffled = held && ProcessorShuffles();
    const int64_t readable = int64_t{copyStrips ? strip.H : strip.B} * wsrc;
    const int64_t bandStart = int64_t{strip.T} * wsrc;
    for (int32_t line = 1; line <= mostRows; ++line) {
      const int64_t* entries = map->Line(line);
      if (copyStrips) {
        int64_t* rebased = stripMap.data() + static_cast<size_t>(line - 1) * stripWidth;
        for (int32_t i = 0; i < stripWidth; ++i)
          rebased[i] = entries[i] < 0 ? -1 : entries[i] - bandStart;
        entries = rebased;
      }
      if (shuffled) {
        programs.push_back(CompileLine(entries, stripWidth, readable));
      } else {
        runs.push_back(RunsOf(entries, stripWidth));
      }
    }
    if (!copyStrips)
      window = WindowOf(*map, mostRows, stripWidth, wsrc);
    else
      window = ReadWindow{strip.T, strip.B - 1, 0, wsrc - 1};
  }

  // Every byte of every row is painted below (the pixels, white beside them), so the picture is
  // not cleared first: that would be one more pass over the largest block this command writes.
  picture.Resize(width, height);
  if (stacked) {
    displayed.Wavelength = wavelength;
    displayed.VStep = profiled ? profiled->MeanVertical : vt;
    displayed.HStep = profiled ? profiled->MeanHorizontal : request.HorizontalTravel;
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
        profiled     ? profiled->Columns[static_cast<size_t>(f) - 1]
        : extra == 0 ? 0
                     : static_cast<int32_t>(std::clamp<int64_t>(RoundToInt64(position), 0, extra));
    const size_t left = static_cast<size_t>(column) * 3;
    const size_t right = left + static_cast<size_t>(stripWidth) * 3;
    const int64_t base = int64_t{f - 1} * fh;
    const int32_t k = rowsTaken[static_cast<size_t>(f) - 1];
    if (map && f < fc) PrefetchWindow(product.Rows, base + fh, window);
    for (int32_t line = 1; line <= k && row < height; ++line, ++row) {
      uint8_t* const start = picture.Row(row);
      PaintWhite(start, left);
      PaintWhite(start + right, stride > right ? stride - right : 0);
      uint8_t* dst = start + left;
      if (!map) {
        const int64_t source = request.Invert ? base + strip.B - line : base + strip.T + line - 1;
        const int64_t clamped = std::clamp<int64_t>(source, 0, lastRow);
        GreyRow(product.Rows.Row(static_cast<int32_t>(clamped)), dst, wsrc);
      } else if (base + strip.B - 1 > lastRow) {
        MappedRowClamped(map->Line(line), product.Rows, base, product.RowCount, noData, dst,
                         stripWidth);
      } else {
        // A row drawn from its line map: out of the framelet's copied band rows, or in place.
        const bool copied = !stripRows.empty();
        if (copied && line == 1) {
          std::memcpy(stripRows.data(), product.Rows.Row(static_cast<int32_t>(base + strip.T)),
                      stripRows.size());
        }
        const int64_t* entries =
            copied ? stripMap.data() + static_cast<size_t>(line - 1) * stripWidth : map->Line(line);
        const uint8_t* source =
            copied ? stripRows.data() : product.Rows.Row(static_cast<int32_t>(base));
        const size_t l = static_cast<size_t>(line) - 1;
#if QUELMAR_X86_VECTORS
        if (!programs.empty()) {
          ShuffledRow(programs[l], entries, source, noData, dst);
          continue;
        }
#endif
        MappedRow(entries, runs[l], source, noData, dst, stripWidth);
      }
    }
  }
  if (stride > 0) {
    for (; row < height; ++row) std::memset(picture.Row(row), 0xFF, stride);
  }
  return DisplayOutcome::Shown;
}

}  // namespace quelmar
