#include "assembly/TravelFinder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <optional>
#include <string_view>

#include "assembly/OverlapMatch.h"
#include "assembly/SlidingMedian.h"
#include "assembly/SubpixelMatch.h"
#include "util/Errors.h"
#include "util/ProcessorFeatures.h"
#include "util/RunParts.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

constexpr int32_t kSampledFramelets = 16;  // for the whole-band checks
constexpr int32_t kSceneEvery = 8;         // columns with data per column the scene check reads
constexpr int32_t kCoarsePairs = 9;        // pairs searched over every whole-pixel travel
constexpr int32_t kSideways = 4;           // whole columns searched either side
constexpr int32_t kRefinedColumns = 176;   // columns per row used to start the refinement
constexpr int32_t kStartColumns = 100;     // the same for the travel the pairs start from
// The pairs of a product are refined on this many columns in all (spread over the pairs): a
// long product on a few runs of columns per pair, a short one on every column.
constexpr int64_t kColumnsInAll = 120000;
constexpr int32_t kRunColumns = 20;         // consecutive columns in each run
constexpr int32_t kRunGap = kSideways + 2;  // columns of no data between runs
constexpr int32_t kSmoothHalfWidth = 6;     // pairs either side in the smoothed profile
constexpr Real kVaries = 0.1;               // pixels along the product
constexpr int32_t kPairsToSplit = 48;       // pairs from which the refinement runs in two parts
constexpr int32_t kTiledSpans = 100;        // spans against the neighbour, from which they tile
constexpr int32_t kTiledRun = 5;            // spans from one that starts early to the next
constexpr int32_t kSkippedSpans = 200;      // spans from which every fourth one is measured
constexpr int32_t kSixthSpans = 300;        // and from which every sixth one
constexpr int32_t kSkippedColumns = 2;      // times the columns each of those reads
// Spans against the neighbour that do not tile (framelets many apart: an ultraviolet band's), from
// which a span starts every kSpanStride-th framelet only.
constexpr int32_t kStridedSpans = 400;
constexpr int32_t kSpanStride = 4;
// A visible band's own strips, one framelet apart, of a product of kOwnSkippedPairs pairs or
// more: every fourth pair is measured (from kOwnSixthPairs on, every sixth) and stands for the
// pairs up to the next one measured.
constexpr int32_t kOwnSkippedPairs = 400;
constexpr int32_t kOwnSixthPairs = 600;
// Consecutive strips sharing fewer band rows than this (a row spacing: the last row of one on
// the first of the next is 0) tell the travel too roughly to stand in for the neighbouring band
// where that cannot be opened; matched on their own, they are matched on whole rows where the
// travel lies well over a whole number of rows (see pairRows).
constexpr double kThinOverlap = 6.0;
// The most sideways travel per framelet looked for against the neighbouring band (visible
// pixels; a quarter of it for ultraviolet ones).
constexpr double kMostSideways = 3.0;
constexpr int32_t kFewestAcross = 3;   // pairs of framelets matched against the neighbour, at least
constexpr double kAcrossAgrees = 0.5;  // rows between the travel found there and the band's own
constexpr Real kStartsAgree = 0.5;     // rows between starts that agree (twice that in columns)
constexpr double kDeepOverlap = 3;     // band rows its own strips share, from which
constexpr Real kDeepAgrees = 0.08;     // the two travels agree as closely as this
constexpr int32_t kAcrossRows = 6;     // rows of each strip matched against the neighbour
constexpr double kWholeRowsShared = 1.6;    // row spacings shared, at most, by thin overlaps
constexpr double kWholeRowsFrom = 0.15;     // with this part of a row over a whole number
constexpr double kWholeRowsTo = 0.93;       // up to this one
constexpr double kSidesOnly = 0.75;         // rows past the band's last, at most, between strips
constexpr int32_t kDeepBeyond = 2;          // ground rows beyond the band matched on deeper ones
constexpr int32_t kPredictedApart = 4;      // framelets apart started from the band's own travel
constexpr int32_t kRecentSpans = 5;         // spans whose median travel sets the framelets apart
constexpr double kLeastTravel = 0.5;        // travel below which the framelets apart are kept
constexpr int64_t kColumnsAcross = 120000;  // columns in all (see kColumnsInAll) against it

std::string ReasonOf(MatchVerdict verdict, int32_t height) {
  switch (verdict) {
    case MatchVerdict::NoOverlap:
      return "the strips of consecutive framelets do not overlap";
    case MatchVerdict::NoTexture:
      return "the scene is featureless: the overlap of consecutive framelets has nothing to match";
    case MatchVerdict::Saturated:
      return "the scene is saturated: most samples are 255";
    case MatchVerdict::NoMatch:
    case MatchVerdict::Found:
      break;
  }
  return "consecutive framelets do not agree at any travel from 0 to " + FormatInt(height - 1) +
         " rows (their strips may not overlap)";
}

// The median of v, reordering it.
Real MedianInPlace(std::vector<Real>& v) {
  if (v.empty()) return 0;
  const size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<ptrdiff_t>(mid), v.end());
  const Real upper = v[mid];
  if (v.size() % 2 == 1) return upper;
  return (*std::max_element(v.begin(), v.begin() + static_cast<ptrdiff_t>(mid)) + upper) / 2;
}

Real Median(std::vector<Real> v) {
  return MedianInPlace(v);
}

// The mean of the values within a few median deviations of the median: as robust as the median
// against a stray pair, as precise as the mean over the others.
Real RobustMean(const std::vector<Real>& v) {
  const Real m = Median(v);
  std::vector<Real> deviations;
  for (Real x : v) deviations.push_back(std::fabs(x - m));
  const Real gate = std::max<Real>(4.5L * Median(deviations), 0.02L);
  Real sum = 0;
  int32_t n = 0;
  for (Real x : v) {
    if (std::fabs(x - m) <= gate) {
      sum += x;
      ++n;
    }
  }
  return n > 0 ? sum / n : m;
}

// The median of the last few spans' travels (a copy sorted about its middle).
double MiddleOf(std::array<double, kRecentSpans> values) {
  std::nth_element(values.begin(), values.begin() + kRecentSpans / 2, values.end());
  return values[kRecentSpans / 2];
}

// Pairs without a value take the one interpolated between their found neighbours (before the
// first and after the last: theirs, or with `extend` the line through the nearest few found);
// then a moving line fit, so a steady change of the travel along the product is kept as it is.
std::vector<Real> Smooth(const std::vector<TravelPair>& pairs, bool vertical, Real fallback,
                         bool extend, int32_t halfWidth) {
  const auto n = static_cast<int32_t>(pairs.size());
  const auto value = [&](int32_t i) {
    const TravelPair& p = pairs[static_cast<size_t>(i)];
    return vertical ? p.Vertical : p.Horizontal;
  };
  // The least-squares line through known pairs from .. to - 1, taken at pair i.
  const auto lineAt = [&](const std::vector<int32_t>& known, size_t from, size_t to, int32_t i) {
    Real sx = 0, sy = 0, sxx = 0, sxy = 0;
    const auto count = static_cast<Real>(to - from);
    for (size_t k = from; k < to; ++k) {
      const auto x = static_cast<Real>(known[k]);
      sx += x;
      sy += value(known[k]);
      sxx += x * x;
      sxy += x * value(known[k]);
    }
    const Real spread = count * sxx - sx * sx;
    const Real slope = spread > 0 ? (count * sxy - sx * sy) / spread : 0;
    return sy / count + slope * (static_cast<Real>(i) - sx / count);
  };
  const auto fill = [&](const std::vector<int32_t>& known) {
    std::vector<Real> filled(static_cast<size_t>(n), fallback);
    if (known.empty()) return filled;
    // The line extended over an end is fitted to twice as many pairs as it reaches over, at
    // least: a line through a window's worth of pairs taken further than that from them carries
    // their scatter to the end many times over.
    const auto fewFor = [&](int32_t reach) {
      return std::min(known.size(), static_cast<size_t>(std::max(2 * halfWidth + 1, 2 * reach)));
    };
    const size_t fewFirst = fewFor(known.front()), fewLast = fewFor(n - 1 - known.back());
    size_t next = 0;  // the first known pair at or after i
    for (int32_t i = 0; i < n; ++i) {
      while (next < known.size() && known[next] < i) ++next;
      Real v;
      if (next == known.size()) {
        v = extend ? lineAt(known, known.size() - fewLast, known.size(), i) : value(known.back());
      } else if (next == 0 && known[0] != i && extend) {
        v = lineAt(known, 0, fewFirst, i);
      } else if (known[next] == i || next == 0) {
        v = value(known[next]);
      } else {
        const int32_t lo = known[next - 1], hi = known[next];
        v = value(lo) +
            (value(hi) - value(lo)) * static_cast<Real>(i - lo) / static_cast<Real>(hi - lo);
      }
      filled[static_cast<size_t>(i)] = v;
    }
    return filled;
  };
  const int32_t width = std::min(n, 2 * halfWidth + 1);
  const auto windowStart = [&](int32_t i) { return std::clamp(i - halfWidth, 0, n - width); };
  std::vector<int32_t> known;
  for (int32_t i = 0; i < n; ++i)
    if (pairs[static_cast<size_t>(i)].Found) known.push_back(i);
  std::vector<Real> filled = fill(known);
  // A pair far from the median of its neighbours (a stray match on a patch of little texture)
  // would move the mean of its whole window: it is filled in like a pair not found.
  if (!known.empty()) {
    std::vector<Real> deviation(static_cast<size_t>(n), 0);
    std::vector<Real> all;
    const int32_t half = width / 2;
    const ValueRanks ranks(filled);
    SlidingMedian whole(ranks);
    // The medians of the half windows from each pair on (a window's first half is the last
    // half of the one half + 1 pairs before it).
    std::vector<Real> halves;
    if (half >= 2) {
      SlidingMedian halfWindow(ranks);
      halves.resize(static_cast<size_t>(n - half + 1));
      for (int32_t s = 0; s + half <= n; ++s) {
        halfWindow.MoveTo(s, s + half);
        halves[static_cast<size_t>(s)] = halfWindow.Median();
      }
    }
    for (int32_t i : known) {
      // The window's median, and its slope from the medians of its two halves: a steady change
      // of the travel is no deviation.
      const int32_t lo = windowStart(i);
      whole.MoveTo(lo, lo + width);
      const Real middle = whole.Median();
      Real slope = 0;
      if (half >= 2) {
        slope = (halves[static_cast<size_t>(lo + width - half)] - halves[static_cast<size_t>(lo)]) /
                static_cast<Real>(width - half);
      }
      const Real expected = middle + slope * (static_cast<Real>(i - lo) - (width - 1) / 2.0L);
      deviation[static_cast<size_t>(i)] = std::fabs(value(i) - expected);
      all.push_back(deviation[static_cast<size_t>(i)]);
    }
    const Real gate = std::max<Real>(6 * 1.4826L * Median(all), 0.05L);
    std::vector<int32_t> kept;
    for (int32_t i : known)
      if (deviation[static_cast<size_t>(i)] <= gate) kept.push_back(i);
    if (kept.size() < known.size()) filled = fill(kept);
  }
  // The line fitted to the pairs of a window of 2 k + 1 (centred where it can be, at the ends
  // the first or last such window), taken at the pair: in the middle the window's mean, at the
  // ends as many pairs averaged, and a steady change of the travel kept as it is.
  // The window's sum and its values' sum weighted by their place in it (0 ..), carried along as
  // it slides a pair at a time: across = sum of (k - middle) x value = weighted - middle x sum.
  std::vector<Real> smooth(static_cast<size_t>(n));
  const Real middle = static_cast<Real>(width - 1) / 2;
  Real spread = 0;
  for (int32_t k = 0; k < width; ++k) spread += (k - middle) * (k - middle);
  const auto at = [&](int32_t j) { return filled[static_cast<size_t>(j)]; };
  Real sum = 0, weighted = 0;
  for (int32_t k = 0; k < width; ++k) {
    sum += at(k);
    weighted += k * at(k);
  }
  int32_t start = 0;  // of the window the sums hold
  for (int32_t i = 0; i < n; ++i) {
    for (const int32_t lo = windowStart(i); start < lo; ++start) {
      weighted += (width - 1) * at(start + width) - (sum - at(start));
      sum += at(start + width) - at(start);
    }
    const Real mean = sum / static_cast<Real>(width);
    const Real slope = spread > 0 ? (weighted - middle * sum) / spread : 0;
    smooth[static_cast<size_t>(i)] = mean + slope * (static_cast<Real>(i - start) - middle);
  }
  return smooth;
}

// Blends each pixel with its left and right neighbours (1/4, 1/2, 1/4). Matching thin overlaps
// must sample between rows, and a blend of two rows misplaces fine detail a little toward whole
// rows; softening the finest detail along the rows halves that pull on the vertical travel and
// leaves the horizontal one unbiased (both strips are softened alike).
GreyImage Softened(const GreyImage& g) {
  GreyImage soft;
  SoftenRows(g, soft);
  return soft;
}

// Grey-level checks over a few framelets' strips, taken one strip at a time: every sample 255,
// or no variation at all.
// One row's samples added to per-column sums of a strip: samples with data, white ones (255 or
// more), their grey levels and their squares (NaN: no data, counted nowhere).
void AddColumnSums(const float* row, size_t width, float* count, float* white, float* sum,
                   float* square, size_t from = 0) {
  for (size_t x = from; x < width; ++x) {
    const float v = row[x];
    if (std::isnan(v)) continue;
    count[x] += 1.0f;
    white[x] += v >= 255.0f ? 1.0f : 0.0f;
    sum[x] += v;
    square[x] += v * v;
  }
}

#if QUELMAR_X86_VECTORS
// The same eight columns at a time (the same sums: each column's are added in the same order).
__attribute__((target("avx2"))) void AddColumnSumsWide(const float* row, size_t width, float* count,
                                                       float* white, float* sum, float* square) {
  const __m256 one = _mm256_set1_ps(1.0f), full = _mm256_set1_ps(255.0f);
  size_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256 v = _mm256_loadu_ps(row + x);
    const __m256 data = _mm256_cmp_ps(v, v, _CMP_ORD_Q);
    const __m256 d = _mm256_and_ps(v, data);
    _mm256_storeu_ps(count + x,
                     _mm256_add_ps(_mm256_loadu_ps(count + x), _mm256_and_ps(one, data)));
    _mm256_storeu_ps(white + x,
                     _mm256_add_ps(_mm256_loadu_ps(white + x),
                                   _mm256_and_ps(one, _mm256_cmp_ps(d, full, _CMP_GE_OQ))));
    _mm256_storeu_ps(sum + x, _mm256_add_ps(_mm256_loadu_ps(sum + x), d));
    _mm256_storeu_ps(square + x, _mm256_add_ps(_mm256_loadu_ps(square + x), _mm256_mul_ps(d, d)));
  }
  _mm256_zeroupper();
  AddColumnSums(row, width, count, white, sum, square, x);
}
const bool kSceneWide = ProcessorHasWideVectors();
#endif

class SceneCheck {
 public:
  // A strip's samples, column by column (the columns found empty later are left out then):
  // summed down the strip's few lines in single precision, then added to the sums kept.
  void Add(const GreyImage& g) {
    const auto width = static_cast<size_t>(g.Width);
    if (counted_.size() < width) {
      counted_.resize(width, 0);
      whites_.resize(width, 0);
      sums_.resize(width, 0);
      squares_.resize(width, 0);
    }
    count_.assign(width, 0.0f);
    white_.assign(width, 0.0f);
    sum_.assign(width, 0.0f);
    square_.assign(width, 0.0f);
    for (int32_t y = 0; y < g.Height; ++y) {
#if QUELMAR_X86_VECTORS
      if (kSceneWide) {
        AddColumnSumsWide(g.Row(y), width, count_.data(), white_.data(), sum_.data(),
                          square_.data());
        continue;
      }
#endif
      AddColumnSums(g.Row(y), width, count_.data(), white_.data(), sum_.data(), square_.data());
    }
    for (size_t x = 0; x < width; ++x) {
      counted_[x] += static_cast<int64_t>(count_[x]);
      whites_[x] += static_cast<int64_t>(white_[x]);
      sums_[x] += sum_[x];
      squares_[x] += square_[x];
    }
  }
  // What is wrong with the scene the samples outside the `empty` columns (in order) show, if
  // anything.
  std::string Problem(const std::vector<int32_t>& empty) const {
    int64_t n = 0, white = 0;
    double s = 0, ss = 0;
    auto skip = empty.begin();
    for (size_t x = 0; x < counted_.size(); ++x) {
      if (skip != empty.end() && static_cast<size_t>(*skip) == x) {
        ++skip;
        continue;
      }
      n += counted_[x];
      white += whites_[x];
      s += sums_[x];
      ss += squares_[x];
    }
    if (n == 0) return "the band has no data";
    if (white * 2 > n) return "the scene is saturated: most samples are 255";
    const double mean = s / static_cast<double>(n);
    if (ss / static_cast<double>(n) - mean * mean < 0.25)
      return "the scene is featureless: every sample has the same grey level";
    return {};
  }

 private:
  // Per column; and one strip's, in single precision.
  std::vector<int64_t> counted_, whites_;
  std::vector<double> sums_, squares_;
  std::vector<float> count_, white_, sum_, square_;
};

// What is wrong with the scene a band's strips show, if anything (its empty columns found): the
// strips of kSampledFramelets framelets spread over the product, on every kSceneEvery-th column
// with data (a saturated or featureless scene is so on every column; a whole strip costs as
// much to read as a dozen pairs to match).
std::string SceneProblem(StackStrips& strips) {
  std::vector<int32_t> columns;
  const std::vector<int32_t>& empty = strips.EmptyColumns();
  auto skip = empty.begin();
  int32_t k = 0;
  for (int32_t x = 0; x < strips.Width(); ++x) {
    if (skip != empty.end() && *skip == x) {
      ++skip;
      continue;
    }
    if (k++ % kSceneEvery == 0) columns.push_back(x);
  }
  strips.SelectColumns(columns);
  const int32_t fc = strips.Framelets();
  const int32_t count = std::max(1, std::min(kSampledFramelets, fc));
  SceneCheck scene;
  GreyImage strip;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t f = count == 1 ? 0 : static_cast<int32_t>(int64_t{i} * (fc - 1) / (count - 1));
    strips.ReadColumnsInto(f, 0, strips.Height(), strip);
    scene.Add(strip);
  }
  return scene.Problem({});
}

// Whether the spans of framelets `apart` apart against the neighbour, `matched` of them, are laid
// end to end (see tiled in MeasureTravel).
bool SpansTile(int32_t apart, int32_t matched) {
  return apart > 1 && matched / apart >= kTiledSpans;
}

// Whether spans of framelets `apart` apart against the neighbour, `matched` of them, start only
// every kSpanStride-th framelet (see stride in MeasureTravel): a long product whose spans do not
// tile.
bool SpansStrided(int32_t apart, int32_t matched) {
  return matched >= kStridedSpans && !SpansTile(apart, matched);
}

// How often one of those spans is measured: 1 (each, and where they do not tile), 4 (every
// fourth) or 6 (every sixth).
int32_t MeasuredEvery(int32_t apart, int32_t matched) {
  if (!SpansTile(apart, matched)) return 1;
  return matched / apart >= kSixthSpans ? 6 : matched / apart >= kSkippedSpans ? 4 : 1;
}

// How often a pair of a visible band's own strips is measured, of `pairs` (see kOwnSkippedPairs).
int32_t OwnMeasuredEvery(int32_t pairs) {
  return pairs >= kOwnSixthPairs ? 6 : pairs >= kOwnSkippedPairs ? 4 : 1;
}

// The columns each pair is refined on: about `wanted` columns, in runs of consecutive columns
// spread over those where every line of the strips has data, with columns of no data between
// the runs, wider than any sideways travel, so that no shift pairs one run with another.
std::vector<int32_t> RefinedColumns(const StackStrips& strips, int64_t wanted) {
  const GreyImage g = strips.Read(strips.Framelets() / 2, 0, strips.Height());
  std::vector<int32_t> full, some;
  for (int32_t x = 0; x < g.Width; ++x) {
    int32_t with = 0;
    for (int32_t y = 0; y < g.Height; ++y) with += !std::isnan(g.At(x, y));
    if (with == g.Height) full.push_back(x);
    if (with > 0) some.push_back(x);
  }
  const std::vector<int32_t>& data = full.size() >= size_t{kRunColumns} ? full : some;
  std::vector<int32_t> chosen;
  const auto n = static_cast<int32_t>(data.size());
  const auto runs = static_cast<int32_t>(std::clamp<int64_t>(wanted / kRunColumns, 1, n));
  if (n <= runs * kRunColumns) {
    chosen = data;
  } else {
    for (int32_t r = 0; r < runs; ++r) {
      const int32_t centre = static_cast<int32_t>((int64_t{2 * r + 1} * n) / (2 * runs));
      const int32_t first = std::clamp(centre - kRunColumns / 2, 0, n - kRunColumns);
      for (int32_t i = first; i < first + kRunColumns; ++i)
        if (chosen.empty() || data[static_cast<size_t>(i)] > chosen.back())
          chosen.push_back(data[static_cast<size_t>(i)]);
    }
  }
  std::vector<int32_t> columns;
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (i > 0 && chosen[i] != chosen[i - 1] + 1) columns.insert(columns.end(), kRunGap, -1);
    columns.push_back(chosen[i]);
  }
  return columns;
}

// Takes what the settings would say of a neighbouring band's filter: a neighbour whose filter
// is not in the settings is not used (its geometry would be another filter's).
class QuietPort : public UserPort {
 public:
  void AppendLine(std::string_view) override { said = true; }
  void ShowMessage(std::string_view) override { said = true; }
  bool AskYesNo(std::string_view) override { return false; }
  void ShowSeriousError(std::string_view) override { said = true; }
  void ShowErrorReport(std::string_view) override { said = true; }
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override { return {}; }
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override { return {}; }
  void SetBusyCursor(bool) override {}
  bool said = false;
};

// The grey levels of `image` moved to the mean and spread of `like`'s: a neighbouring band sees
// the ground brighter or darker, with more or less contrast, than the band measured.
void LevelLike(const GreyImage& like, GreyImage& image) {
  const auto levels = [](const GreyImage& g, double& mean, double& spread) {
    // Every fourth run of eight samples tells the levels well enough. Eight sums of each kind,
    // so that the additions need not wait for each other (in floats: a strip's few thousand
    // samples leave them precise to far less than a grey level).
    constexpr size_t kLanes = 8;
    float s[kLanes] = {}, ss[kLanes] = {}, n[kLanes] = {};
    const size_t count = g.Values.size();
    const float* v = g.Values.data();
    size_t i = 0;
    constexpr size_t kEvery = 4 * kLanes;
    for (; i + kLanes <= count; i += kEvery) {
      for (size_t j = 0; j < kLanes; ++j) {
        const float x = v[i + j];
        const bool data = x == x;  // not NaN
        const float y = data ? x : 0.0f;
        s[j] += y;
        ss[j] += y * y;
        n[j] += data ? 1.0f : 0.0f;
      }
    }
    double sum = 0, squares = 0, samples = 0;
    for (size_t j = 0; j < kLanes; ++j) {
      sum += s[j];
      squares += ss[j];
      samples += n[j];
    }
    for (i = i < count ? i : count; i < count; ++i) {
      if (std::isnan(v[i])) continue;
      sum += v[i];
      squares += static_cast<double>(v[i]) * v[i];
      ++samples;
    }
    if (samples == 0) return false;
    mean = sum / samples;
    spread = std::sqrt(std::max(0.0, squares / samples - mean * mean));
    return spread > 1e-3;
  };
  double m0 = 0, s0 = 0, m1 = 0, s1 = 0;
  if (!levels(like, m0, s0) || !levels(image, m1, s1)) return;
  const auto gain = static_cast<float>(s0 / s1);
  const auto offset = static_cast<float>(m0 - m1 * s0 / s1);
  for (float& v : image.Values) v = v * gain + offset;  // no data (NaN) stays so
}

// Whether a band's strips with these picture options can be matched against a neighbouring
// band's: laid on the ground's own rows, in the detector's order (turned over, the bands' order
// on the detector is turned over too: not tried).
bool MatchesNeighbour(const StripGeometry& g) {
  return g.CorrectDistortion && g.CorrectVertically && !g.Invert;
}

// Whether the neighbouring band's strips lie on the ground's rows as the measured band's do, and
// elsewhere on the detector.
bool LiesBeside(const StackStrips& neighbour, const StackStrips& strips) {
  return neighbour.OnGround() && neighbour.BandHeight() == strips.BandHeight() &&
         neighbour.Height() == strips.Height() &&
         std::fabs(neighbour.GroundRowZero() - strips.GroundRowZero()) >= 1;
}

// The band next to the measured one on the detector (the next one, else the one before) whose
// strips lie on the ground's rows as the measured band's do (`strips`; without them, as a band
// of the same height with the same picture options would): the same height of band and the same
// picture options. None where there is no such band.
std::optional<StackStrips> OpenNeighbour(const LoadedProduct& product, const StripGeometry& g,
                                         const StackStrips* strips) {
  if (!MatchesNeighbour(g)) return std::nullopt;
  const std::vector<int32_t> bounds = BandRowBounds(product.BandCount, product.FrameletHeight);
  const int32_t height = StripOfBand(bounds, product.BandCount, g.Band).H;
  for (const int32_t band : {g.Band + 1, g.Band - 1}) {
    if (band < 1 || band > product.BandCount) continue;
    if (StripOfBand(bounds, product.BandCount, band).H != height) continue;
    StripGeometry other = g;
    other.Band = band;
    QuietPort quiet;
    std::string problem;
    std::optional<StackStrips> s = StackStrips::Open(product, other, quiet, problem);
    if (!s || quiet.said || !s->OnGround() || (strips != nullptr && !LiesBeside(*s, *strips))) {
      continue;
    }
    return s;
  }
  return std::nullopt;
}

}  // namespace

namespace {

// Spans laid end to end of which only some are measured (spanPairs[f]: the pairs the span of
// framelet f stands for, or -1 where it was not measured): each measured one stands for the
// pairs up to the next one, and would lag a travel that changes along the product by half as
// many pairs. Each of those pairs takes instead the travel between the two found spans about it,
// in proportion to its distance from their middles (before the first middle or after the last,
// the nearest span's).
void FollowBetweenSpans(const std::vector<std::pair<int32_t, int32_t>>& spanPairs, int32_t apart,
                        std::vector<TravelPair>& profile) {
  struct Span {
    double middle;
    int32_t from, to;
    Real vertical, horizontal;
  };
  std::vector<Span> spans;
  for (size_t f = 0; f < spanPairs.size(); ++f) {
    const auto [from, to] = spanPairs[f];
    if (from < 0 || from >= to) continue;
    const TravelPair& p = profile[static_cast<size_t>(from)];
    if (p.Found)
      spans.push_back(
          {static_cast<double>(f) + (apart - 1) / 2.0, from, to, p.Vertical, p.Horizontal});
  }
  for (size_t i = 0; i < spans.size(); ++i) {
    const Span& s = spans[i];
    for (int32_t k = s.from; k < s.to; ++k) {
      const bool before = k < s.middle;
      if (before ? i == 0 : i + 1 == spans.size()) continue;
      const Span& other = spans[before ? i - 1 : i + 1];
      const auto t = static_cast<Real>((k - s.middle) / (other.middle - s.middle));
      TravelPair& p = profile[static_cast<size_t>(k)];
      p.Vertical = s.vertical + t * (other.vertical - s.vertical);
      p.Horizontal = s.horizontal + t * (other.horizontal - s.horizontal);
    }
  }
}

// A span of an even number of framelets measures the travel about the middle of two pairs, and
// stands for the first of them: half a pair off, which moved the profile of a travel that
// changes along the product, and the travel found with it, by half a pair's change. Each pair
// whose span measured it elsewhere (`middleOf`, in pairs) takes the value that its span's travel
// and the nearest one measured on its other side (`reach` pairs from it at most: two, or as far
// as spans started only every few framelets lie apart) give at its own place.
void PlaceAtPairs(const std::vector<double>& middleOf, std::vector<TravelPair>& profile,
                  double reach) {
  const auto n = static_cast<int32_t>(profile.size());
  // The travels as measured (without the pairs' texts).
  struct Measured {
    bool Found;
    Real Vertical, Horizontal;
  };
  std::vector<Measured> measured;
  measured.reserve(profile.size());
  for (const TravelPair& p : profile) measured.push_back({p.Found, p.Vertical, p.Horizontal});
  const auto at = [&](int32_t k) -> const Measured& { return measured[static_cast<size_t>(k)]; };
  const auto middle = [&](int32_t k) { return middleOf[static_cast<size_t>(k)]; };
  for (int32_t k = 0; k < n; ++k) {
    const double here = middle(k);
    if (!at(k).Found || !(std::fabs(here - k) > 1e-9)) continue;
    // The nearest pair toward the pair's own place measured by another span.
    const int32_t toward = here > k ? -1 : 1;
    int32_t j = k + toward;
    while (j >= 0 && j < n && middle(j) == here) j += toward;
    if (j < 0 || j >= n || !at(j).Found || std::fabs(middle(j) - here) > reach ||
        (middle(j) - k) * (here - k) > 0) {
      continue;
    }
    const double t = (k - middle(j)) / (here - middle(j));
    TravelPair& p = profile[static_cast<size_t>(k)];
    p.Vertical = at(j).Vertical + (at(k).Vertical - at(j).Vertical) * static_cast<Real>(t);
    p.Horizontal = at(j).Horizontal + (at(k).Horizontal - at(j).Horizontal) * static_cast<Real>(t);
  }
}

// How much the least-squares line through a profile changes from its first pair to its last.
Real TrendChange(const std::vector<Real>& profile) {
  const auto n = static_cast<Real>(profile.size());
  if (profile.size() < 2) return 0;
  Real sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < profile.size(); ++i) {
    const auto x = static_cast<Real>(i);
    sx += x;
    sy += profile[i];
    sxx += x * x;
    sxy += x * profile[i];
  }
  const Real denominator = n * sxx - sx * sx;
  return denominator > 0 ? std::fabs((n * sxy - sx * sy) / denominator) * (n - 1) : 0;
}

}  // namespace

bool TravelEstimate::Varies() const {
  if (!Found) return false;
  // A travel that changes along a product (the altitude drifting over an elliptical orbit) moves
  // its profile's extremes apart and also tilts the profile as a whole. Scene-dependent wander
  // of the pairs' measurements, which over a long steady product can spread the smoothed profile
  // by a few tenths in the detector's own geometry, does only the first.
  const Real allowed = kVaries + 3 * ProfileNoise;
  const auto along = [&](Real min, Real max, const std::vector<Real>& smooth) {
    return max - min > allowed && TrendChange(smooth) > kVaries;
  };
  return along(VerticalMin, VerticalMax, SmoothVertical) ||
         along(HorizontalMin, HorizontalMax, SmoothHorizontal);
}

TravelProfile ProfileOf(const TravelEstimate& estimate) {
  TravelProfile p;
  if (!estimate.Found) return p;
  p.Vertical = estimate.SmoothVertical;
  p.Horizontal = estimate.SmoothHorizontal;
  return p;
}

TravelEstimate MeasureTravel(const LoadedProduct& product, const StripGeometry& geometry,
                             UserPort& port, int32_t threads) {
  TravelEstimate e;
  e.Band = geometry.Band;
  if (!product.HasImage()) {
    e.Reason = "no image data is loaded";
    return e;
  }
  const int64_t framed = int64_t{product.FrameletCount} * product.FrameletHeight;
  if (product.FrameletCount < 0 || product.FrameletHeight < 0 || product.RowCount < 0 ||
      product.RowCount > product.Rows.Lines() || framed > product.RowCount) {
    throw RangeError("The loaded product is inconsistent: " + FormatInt(product.FrameletCount) +
                     " framelets of " + FormatInt(product.FrameletHeight) + " rows, " +
                     FormatInt(product.RowCount) + " rows read");
  }
  const int32_t fc = product.FrameletCount;
  e.Pairs = std::max(0, fc - 1);
  // Work in parts runs them on a core each where there are two (on the program's helper thread,
  // started once); the same results either way.
  const unsigned cores = threads > 0 ? static_cast<unsigned>(threads) : ProcessorCores();
  KeptPartsCrew crew(cores >= 2 ? 1 : 0);
  const auto inParts = [&](int32_t parts, const auto& part) {
    if (cores >= 2) {
      crew->Run(parts, part);
    } else {
      for (int32_t k = 0; k < parts; ++k) part(k);
    }
  };
  // The band's columns of data and its scene, checked on a few framelets' strips spread over the
  // product; the columns the pairs are refined on, chosen among them.
  int32_t dataColumns = 0;
  std::string sceneProblem;
  std::vector<int32_t> refined;
  const auto lookAtBand = [&](StackStrips& strips) {
    dataColumns = strips.FindEmptyColumns(kSampledFramelets);
    if (dataColumns == 0) return;
    sceneProblem = SceneProblem(strips);
    if (!sceneProblem.empty()) return;
    // The start needs no more than the columns the pairs are refined on, nor the precision of a
    // pair's own travel: the pairs refine it.
    refined = RefinedColumns(strips, kColumnsInAll / e.Pairs);
    strips.SelectColumns(refined);
  };
  // The neighbouring band (below: where the band has one; beside the band's strips when given),
  // with its columns of data found.
  const auto openNeighbour = [&](const StackStrips* beside) {
    std::optional<StackStrips> n = OpenNeighbour(product, geometry, beside);
    if (n) n->FindEmptyColumns(kSampledFramelets);
    return n;
  };
  // The band's wavelength, where the band is one of the product's (opening it says why not).
  const auto wavelength = [&] {
    if (geometry.Band >= 1 && static_cast<size_t>(geometry.Band) <= product.BandWavelengths.size())
      e.Wavelength = product.BandWavelengths[static_cast<size_t>(geometry.Band) - 1];
  };
  // A product of fewer than two framelets has no pair to compare: its strips are not opened (a
  // damaged label may give the one framelet it has, or none, a billion rows).
  if (fc < 2) {
    wavelength();
    e.Reason = "the product has " + FormatCount(fc, "framelet", "framelets") +
               ": there is no pair of framelets to compare";
    return e;
  }
  // The band is opened and looked at on one core; where its strips will lie on the ground's rows
  // and there is a second core, that core opens the neighbour meanwhile (sharing the opening of
  // one band between the cores cost more than it saved). The neighbour's failure counts only
  // where the band's own strips cannot stand in for it.
  std::string problem;
  std::optional<StackStrips> opened, early;
  std::exception_ptr earlyFailure;
  const bool opensEarly = cores >= 2 && MatchesNeighbour(geometry);
  crew->Run(opensEarly ? 2 : 1, [&](int32_t part) {
    if (part == 0) {
      opened = StackStrips::Open(product, geometry, port, problem);
      if (opened && opened->Height() >= 2) lookAtBand(*opened);
      return;
    }
    try {
      early = openNeighbour(nullptr);
    } catch (...) {
      earlyFailure = std::current_exception();
    }
  });
  wavelength();
  if (!opened) {
    e.Reason = problem;
    return e;
  }
  StackStrips& strips = *opened;
  const int32_t h = strips.Height();
  if (h < 2) {
    e.Reason = "the band is " + FormatCount(h, "row", "rows") + " high: too thin to match";
    return e;
  }
  if (dataColumns == 0) {
    e.Reason = "the band has no data: every sample is 0";
    return e;
  }
  if (!sceneProblem.empty()) {
    e.Reason = sceneProblem;
    return e;
  }
  // The neighbour opened early is the one opened now unless it does not lie beside the band's
  // strips after all: then the next that does is looked for below.
  const bool earlyMisfits = early && !LiesBeside(*early, strips);
  const bool openedEarly = opensEarly && !earlyMisfits;
  if (!openedEarly) early.reset();
  // Every whole-pixel travel on a few pairs spread over the product gives the start.
  ShiftSearch search;
  search.MinDy = 0;
  search.MaxDy = h - 1;
  search.MinDx = -kSideways;
  search.MaxDx = kSideways;
  // Every other column and row is enough to tell the whole-pixel travel; a couple of hundred
  // columns per row are enough to refine it (more cost time and hardly move the result).
  search.Step = 2;
  search.Tolerance = 0.003;  // well below the scatter of one pair's travel

  search.ColumnStep = std::max(1, dataColumns / kRefinedColumns);
  ShiftSearch startSearch = search;
  startSearch.ColumnStep =
      std::max<int32_t>(1, static_cast<int32_t>(std::count_if(refined.begin(), refined.end(),
                                                              [](int32_t x) { return x >= 0; })) /
                               kStartColumns);
  startSearch.Tolerance = 0.02;
  // A pair is framelet f of `from` and framelet f + `apart` of `to`: the band's own strips one
  // framelet apart, or (below) the band's and its neighbour's. The travel is the shift found
  // plus `rowShift` and `colShift`, over `apart`; `matched` pairs can be compared.
  const StackStrips* from = &strips;
  const StackStrips* to = &strips;
  double rowShift = 0, colShift = 0;
  int32_t apart = 1, matched = e.Pairs;
  const ShiftSearch* wideStarts = nullptr;  // whole strips with this search, when set
  // Lines firstLine .. firstLine + lines - 1 of both strips.
  int32_t firstLine = 0, lines = h;
  // The neighbour's strip `b` brought to the band's `a`: its grey levels to the band's, and for a
  // visible band both strips sharpened along their rows, into `sharpA` and `sharpB`. Answers the
  // two strips to match. Two bands see the ground in other colours: matched as they are, a
  // visible band's pairs leaned sideways by up to about a hundredth of a pixel where the colours
  // differ most (its horizontal travel by a few thousandths); on the strips' fine detail alone,
  // by half that, and the vertical travel scatters less. An ultraviolet band's binned strips hold
  // too little detail to be matched that way.
  using StripPair = std::pair<const GreyImage*, const GreyImage*>;
  const auto alike = [&](const GreyImage& a, GreyImage& b, GreyImage& sharpA, GreyImage& sharpB) {
    LevelLike(a, b);
    if (strips.Ultraviolet()) return StripPair{&a, &b};
    SharpenRows(a, sharpA);
    SharpenRows(b, sharpB);
    return StripPair{&sharpA, &sharpB};
  };
  // Pair f searched for over the window: on whole strips or on the selected columns, the
  // neighbour's strip brought to the band's. `m` framelets apart; the product's `apart` unless
  // given.
  const auto searchPair = [&](int32_t f, bool whole, const ShiftSearch& window, int32_t m = 0) {
    if (m == 0) m = apart;
    GreyImage a = whole ? from->Read(f, firstLine, lines) : from->ReadColumns(f, firstLine, lines);
    GreyImage b =
        whole ? to->Read(f + m, firstLine, lines) : to->ReadColumns(f + m, firstLine, lines);
    if (to != from) {
      GreyImage sharpA, sharpB;
      if (alike(a, b, sharpA, sharpB).first != &a) {
        a = std::move(sharpA);
        b = std::move(sharpB);
      }
    }
    if (window.ColumnStep == 1 && !strips.Ultraviolet()) {
      // On every column (a long product's runs of them) the pairs' own match refines the
      // whole-pixel start of a visible band, in a fraction of the time, to the same travels.
      // (Ultraviolet bands keep the general match: on their thin overlaps the pairs' own one
      // leaves a few more of them not found.)
      MatchStrip sa, sb;
      PrepareSoftenedStrip(a, sa);
      PrepareSoftenedStrip(b, sb);
      double dx = 0, dy = 0;
      if (!WholePixelStart(sa.Image, sb.Image, window, dx, dy)) return ShiftEstimate{};
      return RefineOverlap(sa, sb, dx, dy, window);
    }
    return EstimateShift(Softened(a), Softened(b), window);
  };
  const auto startAt = [&](int32_t f) {
    return wideStarts != nullptr ? searchPair(f, true, *wideStarts)
                                 : searchPair(f, false, startSearch);
  };
  std::vector<Real> startV, startH;
  std::map<MatchVerdict, int32_t> verdicts;
  const auto findStarts = [&] {
    const int32_t coarse = std::min(kCoarsePairs, matched);
    std::vector<ShiftEstimate> starts(static_cast<size_t>(coarse));
    const int32_t startParts = coarse >= 4 ? 2 : 1;
    inParts(startParts, [&](int32_t part) {
      for (int32_t k = part; k < coarse; k += startParts) {
        const int32_t f =
            coarse == 1 ? 0 : static_cast<int32_t>(int64_t{k} * (matched - 1) / (coarse - 1));
        starts[static_cast<size_t>(k)] = startAt(f);
      }
    });
    startV.clear();
    startH.clear();
    verdicts.clear();
    for (const ShiftEstimate& s : starts) {
      ++verdicts[s.Verdict];
      if (!s.Found()) continue;
      startV.push_back(s.Dy);
      startH.push_back(s.Dx);
    }
  };
  // Whether the band's consecutive strips share a row and a half or less at this travel.
  const auto sharesFew = [&](double travel) {
    return strips.BandHeight() - 1 - travel <= kWholeRowsShared;
  };
  // The ground rows furthest beyond the band hold an overlap only at the sides of the strip,
  // where its rows curve: the start leaves them out unless the strips share a row or two at
  // most, or the start found nothing without them.
  const int32_t beyond = std::max(0, (h - strips.BandHeight()) / 2 - kDeepBeyond);
  firstLine = beyond;
  lines = h - 2 * beyond;
  findStarts();
  firstLine = 0;
  lines = h;
  if (beyond > 0 && (startV.empty() || sharesFew(static_cast<double>(Median(startV))))) {
    findStarts();
  }
  // The neighbouring band sees the same ground some framelets later over most of its rows. With
  // both bands' strips on the ground's own rows, framelet f of the band seeing the ground first
  // and framelet f + m of the other lie m travels less the bands' distance apart. It tells the
  // travel where the band's consecutive strips share only a few rows (or none: a travel beyond
  // the band's height), and better than they do where they share many: several framelets apart
  // divide its error, and the band's own strips lean by up to a hundredth of a row, one way or
  // the other by band and travel. (The band's own travel still starts it, and checks it below.)
  // A neighbour that cannot be opened leaves strips that share many rows to tell the travel.
  std::optional<StackStrips> neighbour;
  try {
    if (!openedEarly) {
      neighbour = openNeighbour(&strips);
    } else if (earlyFailure) {
      std::rethrow_exception(earlyFailure);
    } else {
      neighbour = std::move(early);
    }
  } catch (...) {
    if (startV.empty() || Median(startV) > strips.BandHeight() - 1 - kThinOverlap) throw;
  }
  // What the band's own strips gave, to fall back on.
  const std::vector<Real> ownV = startV, ownH = startH;
  const std::map<MatchVerdict, int32_t> ownVerdicts = verdicts;
  // Whether most of its pairs agreed on a travel.
  const bool ownAgreed = 2 * ownV.size() >= static_cast<size_t>(std::min(kCoarsePairs, e.Pairs));
  const auto ownStrips = [&] {
    from = to = &strips;
    rowShift = colShift = 0;
    apart = 1;
    matched = e.Pairs;
    search.MinDy = startSearch.MinDy = 0;
    startV = ownV;
    startH = ownH;
    verdicts = ownVerdicts;
  };
  if (neighbour) {
    const double ownTravel = startV.empty() ? strips.BandHeight() - 0.5 : Median(startV);
    const bool later = neighbour->GroundRowZero() > strips.GroundRowZero();
    from = later ? &strips : &*neighbour;
    to = later ? &*neighbour : &strips;
    rowShift = to->GroundRowZero() - from->GroundRowZero();
    search.MinDy = startSearch.MinDy = -(h - 1);
    // The start is found on whole strips: over several framelets the sideways travel adds up to
    // more columns than the runs of selected columns leave between them.
    const double across = to->GroundColumnZero() - from->GroundColumnZero();
    ShiftSearch wide = startSearch;
    wide.ColumnStep = std::max(1, dataColumns / kStartColumns);
    wideStarts = &wide;
    // The framelets apart that bring the ground the first band sees closest to the same rows of
    // the other (bands may lie many travels apart on the detector).
    // None (0) where those lie beyond the product, or leave fewer than kFewestAcross pairs.
    const auto closest = [&](double travel) {
      const double m = std::round(rowShift / travel);
      return m >= 1 && m <= fc - kFewestAcross ? static_cast<int32_t>(m) : 0;
    };
    const auto tryApart = [&](int32_t m) {
      if (m == 0) {
        startV.clear();
        startH.clear();
        return;
      }
      apart = m;
      matched = fc - m;
      const auto reach = static_cast<int32_t>(std::ceil(
          std::fabs(across) + m * (strips.Ultraviolet() ? kMostSideways / 4 : kMostSideways)));
      wide.MinDx = -kSideways - reach;
      wide.MaxDx = kSideways + reach;
      findStarts();
    };
    // The band's own travel where most of its pairs agreed on one: it tells where the
    // neighbour's strips lie, near enough for the pairs to start from.
    // Many framelets apart, the start is searched for around it: they multiply its error.
    const int32_t ownApart = ownAgreed ? closest(ownTravel) : 0;
    const bool predicted = ownApart != 0 && ownApart <= kPredictedApart;
    if (predicted) {
      apart = ownApart;
      matched = fc - ownApart;
      startV = {ownApart * ownTravel - rowShift};
      startH = {ownApart * static_cast<double>(Median(ownH)) - across};
    } else {
      tryApart(ownApart);
    }
    if (!ownAgreed || startV.empty()) {
      // The band's own strips share no row, or too little to agree on a travel (or agreed on one
      // whose framelets apart find nothing: a thin overlap may agree on a wrong one): it lies
      // about the band's height, within a row.
      const auto lo = static_cast<int32_t>(std::round(rowShift / (strips.BandHeight() + 1.0)));
      const auto hi = static_cast<int32_t>(std::round(rowShift / (strips.BandHeight() - 1.0)));
      // The framelets apart whose pairs agree on a start most often, nearest to the same rows:
      // pairs that match by chance (thin strips at a shift that leaves a sliver of overlap)
      // scatter.
      int32_t best = 0;
      size_t most = 0;
      Real nearest = 0;
      for (int32_t m = lo; m <= hi; ++m) {
        if (m < 1 || m > fc - kFewestAcross) continue;
        tryApart(m);
        for (size_t k = 0; k < startV.size(); ++k) {
          size_t agree = 0;
          for (size_t j = 0; j < startV.size(); ++j)
            agree += std::fabs(startV[j] - startV[k]) <= kStartsAgree &&
                     std::fabs(startH[j] - startH[k]) <= 2 * kStartsAgree;
          const Real d = std::fabs(startV[k]);
          if (agree > most || (agree == most && d < nearest)) {
            best = m;
            most = agree;
            nearest = d;
          }
        }
      }
      tryApart(best);
    }
    if (!startV.empty() && !predicted) {
      // Once the travel is known to a fraction of a row, the framelets that match best. Where
      // their spans will start only every few framelets (a long product whose spans do not
      // tile), each from the travel of the spans before it, their starts follow from the travel
      // these pairs agree on (searched for afresh, they cost as much again and told the spans
      // nothing more). Other spans keep something of where they start: they are searched for.
      const Real travel = (Median(startV) + rowShift) / apart;
      const int32_t m = closest(static_cast<double>(travel));
      if (m != 0 && m != apart && SpansStrided(m, fc - m)) {
        const Real sideways = (Median(startH) + across) / apart;
        apart = m;
        matched = fc - m;
        startV = {m * travel - rowShift};
        startH = {m * sideways - across};
      } else if (m != 0 && m != apart) {
        const int32_t was = apart;
        tryApart(m);
        if (startV.empty()) tryApart(was);
      }
    }
    // Where the band's own pairs agreed on a travel, the neighbour refines it, and one that
    // lands far from it matched something else.
    if (!startV.empty() && ownAgreed &&
        std::fabs((Median(startV) + rowShift) / apart - ownTravel) > kAcrossAgrees) {
      startV.clear();
    }
    wideStarts = nullptr;
    if (startV.empty()) {
      ownStrips();  // the neighbour cannot tell either
    } else {
      // The neighbour's columns that see the ground of the band's selected ones, the sideways
      // travel included, to a whole column: the pairs then lie less than a column apart.
      const auto whole = static_cast<int32_t>(std::lround(Median(startH)));
      const int32_t shift = later ? -whole : whole;  // of the neighbour's selection
      // Fewer columns than the band's own pairs need: several framelets apart divide the error.
      // The spans of the longest products, of which only some are measured, read more of them:
      // spans on a few runs of columns scatter by a tenth of a pixel on some scenes, far more
      // than their count explains, and fewer spans on more columns each leave a steadier profile
      // than more spans on fewer, for about the same reading.
      const int64_t columns =
          kColumnsAcross * (MeasuredEvery(apart, matched) > 1 ? kSkippedColumns : 1) / matched;
      const std::vector<int32_t> fewer = RefinedColumns(strips, columns);
      strips.SelectColumns(fewer);
      std::vector<int32_t> shifted = fewer;
      for (int32_t& x : shifted)
        if (x >= 0) x = x + shift >= 0 && x + shift < neighbour->Width() ? x + shift : -1;
      neighbour->SelectColumns(shifted);
      const int32_t kFrom = later ? 0 : shift, kTo = later ? shift : 0;
      for (Real& x : startH) x += kTo - kFrom;
      colShift = across - (kTo - kFrom);
    }
  }
  // Each pair refined from the start, and what they agree on: false, with the reason, where too
  // few pairs could tell.
  const auto measurePairs = [&]() -> bool {
    e.Profile.clear();
    e.Reason.clear();
    if (startV.empty()) {
      const auto most = std::max_element(verdicts.begin(), verdicts.end(),
                                         [](auto& a, auto& b) { return a.second < b.second; });
      e.Reason = ReasonOf(most->first, h);
      return false;
    }
    const double v0 = static_cast<double>(Median(startV)), h0 = static_cast<double>(Median(startH));
    // A pair that lands far from where it started (the travel of the pairs before it, which
    // follows a travel that changes along the product) is searched afresh: on every column of the
    // band's own strips, on the selected ones against the neighbour.
    ShiftSearch everyColumn = search;
    everyColumn.ColumnStep = 1;
    const auto fullSearch = [&](int32_t f, int32_t m) {
      return from != to ? searchPair(f, false, everyColumn, m) : searchPair(f, true, search);
    };

    // Each pair refined from the start over the rows the overlap can reach; a pair that lands far
    // from it is searched afresh.
    // The band's own strips sharing a row and a half or less (see pairRows below).
    const bool thinOwn = from == to && sharesFew(v0);
    // The band's own strips sharing only a row or two, laid out with straightened rows, tell the
    // travel on few samples per column, and most of those at the sides of the strip, where the
    // strip's outline bends: a long product's runs of columns then leave too few of them, and
    // lean by a few hundredths. Its pairs are refined on every column. Strips of the detector's
    // own rows overlap alike across their width, and keep the runs.
    if (from == to && geometry.CorrectVertically && strips.BandHeight() - 1 - v0 < kDeepOverlap) {
      strips.SelectColumns(RefinedColumns(strips, std::numeric_limits<int32_t>::max()));
    }
    // The rows read of each strip: of the band's own, those the overlap can reach (sharing more
    // than a row or two, not the ground rows furthest beyond the band: they hold the overlap
    // only at the sides of the strip); against the neighbour, whose strips share most of their
    // rows, the middle kAcrossRows of those at a shift. Each span takes them at the shift it
    // starts from, which follows a travel that changes along the product: at the product's
    // middle shift, the rows of a span a row or two away share fewer rows than they seem to,
    // and lean by a few hundredths.
    const int32_t skipped = thinOwn ? 0 : beyond;
    int32_t fromRow =
        std::clamp(static_cast<int32_t>(std::floor(v0)) - 1, skipped, h - skipped - 2);
    int32_t toRow = skipped;
    int32_t rows = h - skipped - fromRow;
    const auto acrossRows = [&](double shift, int32_t& first, int32_t& other, int32_t& count) {
      const auto d = static_cast<int32_t>(std::clamp<double>(std::lround(shift), 2 - h, h - 2));
      const int32_t shared = h - std::abs(d);
      count = std::min(shared, kAcrossRows);
      first = std::max(0, d) + (shared - count) / 2;
      other = first - d;
    };
    if (from != to) acrossRows(v0, fromRow, toRow, rows);
    // Starting from the travel of the pairs before, a step or two is enough: once a step moves
    // less than a twentieth of a pixel, the one that follows would move a few thousandths, less
    // than the scatter of one pair's travel, so that step is the last. The overlaps of visible
    // bands, several rows deep, pin each step better: a first step of up to 0.3 pixel leaves the
    // pair within about a twentieth of that step, either way, well inside its scatter, and most
    // pairs are measured from one look at their overlap.
    ShiftSearch pairSearch = search;
    pairSearch.Tolerance = strips.Ultraviolet() ? 0.05 : 0.3;
    // The band's own strips sharing few rows (kThinOverlap) are matched on each strip's whole
    // rows (one blended between its rows, the other not, and the mirror of that): on the grids
    // half-way between rows, the pairs lean toward more overlap, by up to a hundredth of a row
    // where the travel lies near half a row over a whole number (on a row and a half or less,
    // one kind of row finds no data there, and they lean further). Not where the travel lies a
    // little over a whole number of rows, nor just under one: the whole rows of both strips
    // then nearly meet, the grids on whole rows sample the mean square difference about its
    // corner and scatter away from it. There, and on deeper overlaps, the half-way grids, kept
    // off that corner too: on it they leaned by half a hundredth. (Against the neighbour, whose
    // shift is no whole number of rows, the diagonal half-way grids hold closer.) The travel of
    // the product decides, so that every pair is matched alike.
    const double over = v0 - std::floor(v0);
    const bool shallowOwn = from == to && strips.BandHeight() - 1 - v0 < kThinOverlap;
    const MatchRows pairRows = shallowOwn && over >= kWholeRowsFrom && over < kWholeRowsTo
                                   ? MatchRows::Whole
                               : from == to ? MatchRows::HalfWayOffCorner
                                            : MatchRows::HalfWay;
    e.Profile.resize(static_cast<size_t>(e.Pairs));
    for (TravelPair& p : e.Profile)
      p.Problem =
          "measured against the neighbouring band, whose framelets seeing this ground lie "
          "beyond the product";
    // Framelets `apart` apart measure the travel over the `apart` pairs between them. A long
    // product's spans are laid end to end, each pair measured once, by the span that holds it:
    // in a fraction of the time, with spans enough to tell the travel and how it changes. Every
    // kTiledRun-th span starts a framelet early, on the last pair of the span before (which
    // leaves that pair to it), so that the spans start at every place a framelet can lie within
    // a row: laid strictly end to end, a travel of a whole number of rows and a half over two
    // framelets would start them all at one of the two, whose matches lean apart by a
    // hundredth. The last span ends with the product. A shorter product measures a span from
    // every framelet, each standing for the pair at its middle.
    // A long product's own pairs are measured like such spans, one pair each, some of them only
    // (see every below).
    const int32_t ownEvery = from == to && !strips.Ultraviolet() ? OwnMeasuredEvery(matched) : 1;
    const bool tiled = SpansTile(apart, matched) || ownEvery > 1;
    const int32_t cycle = kTiledRun * apart - 1;  // framelets of kTiledRun spans
    const auto regular = [&](int32_t f) {
      const int32_t r = f % cycle;
      return !tiled || (r % apart == 0 && r <= (kTiledRun - 1) * apart);
    };
    int32_t lastRegular = matched - 1;
    while (!regular(lastRegular)) --lastRegular;
    // The pairs past the last regular span, measured by the span of the last framelet.
    const int32_t tailFrom = lastRegular + apart;
    const bool tail = tiled && tailFrom < e.Pairs;
    // A product of kSkippedSpans spans or more measures every fourth regular span, which stands
    // for the pairs of the spans up to the next one measured, and one of kSixthSpans or more
    // every sixth, on more columns (see fewer above): those are enough to tell the travel to a
    // few thousandths and, smoothed over as many measured spans as the others, how it changes.
    // A visible band's own pairs of a long product likewise: every fourth or sixth one, enough to
    // tell the travel as closely as all of them, in a fraction of the time. Not every fourth or
    // sixth framelet: the one measured moves on by a framelet every `every` of them, so that
    // those measured lie at every place a framelet can lie within a row (at a travel of a whole
    // number of rows and a half, every other framelet lies at one place: measured there only,
    // a long product's travel leaned by up to 0.04).
    const int32_t every = ownEvery > 1 ? ownEvery : MeasuredEvery(apart, matched);
    // The pairs span f stands for, laid end to end: from .. to - 1, up to the next measured
    // span's start; the last regular one's up to the pairs the last framelet's span measures, or
    // the end. (A shorter product's span stands for the pair at its middle: see refine.)
    std::vector<std::pair<int32_t, int32_t>> spanPairs(
        static_cast<size_t>(tiled ? std::max(matched, 0) : 0), {-1, -1});
    if (tiled) {
      int32_t last = -1, count = 0;
      for (int32_t f = 0; f <= lastRegular; ++f) {
        const bool measure =
            ownEvery > 1 ? f % every == f / every % every : regular(f) && count++ % every == 0;
        if (!measure) continue;
        if (last >= 0) spanPairs[static_cast<size_t>(last)].second = f;
        spanPairs[static_cast<size_t>(f)].first = f;
        last = f;
      }
      spanPairs[static_cast<size_t>(last)].second = std::min(tailFrom, e.Pairs);
      if (tail) spanPairs[static_cast<size_t>(matched) - 1] = {tailFrom, e.Pairs};
    }
    const auto pairsOf = [&](int32_t f) { return spanPairs[static_cast<size_t>(f)]; };
    const auto measured = [&](int32_t f) { return spanPairs[static_cast<size_t>(f)].first >= 0; };
    // Spans not laid end to end follow a travel that changes along the product with the
    // framelets apart too: those that bring the ground the first band sees closest to the same
    // rows of the other at the travel of the spans before. Many framelets apart (ultraviolet
    // bands lie twenty or more travels from their neighbour), the shift between them changes
    // by as many times the change of the travel: at one number apart for the whole product, it
    // leaves the thin strips toward the product's ends, whose spans then find nothing or lean.
    // Not where the sideways travel would take the pairs a column or more from the columns
    // selected for the product's own number apart.
    const bool following = from != to && !tiled;
    // A long product's spans that follow the travel start every kSpanStride-th framelet (each
    // stands for the pairs up to the one before it; see PlaceAtPairs): a product many spans long
    // tells the travel, and how it changes, from a quarter of them.
    const int32_t stride = following && SpansStrided(apart, matched) ? kSpanStride : 1;
    // Pairs a measured span stands for.
    const int32_t spacing = tiled ? every * apart : stride;
    const auto apartFor = [&](double travel, double sideways, int32_t m) {
      if (travel < kLeastTravel) return m;
      const auto best = static_cast<int32_t>(std::lround(rowShift / travel));
      return best >= 1 && std::fabs(best * sideways - colShift) <= 1.0 ? best : m;
    };
    // Spans not laid end to end: where along the product each pair's span measured its travel
    // (the middle of the pairs between its framelets), in pairs.
    std::vector<double> middleOf(static_cast<size_t>(tiled ? 0 : e.Pairs),
                                 std::numeric_limits<double>::quiet_NaN());
    // Spans first, first + step .. up to last (not included), each started from a running mean
    // of the travel of the spans before it in the same part; the pairs they stand for kept to
    // pairFrom .. pairTo - 1 (the part's own, where two run at once).
    const auto refine = [&](int32_t first, int32_t last, int32_t step, int32_t pairFrom,
                            int32_t pairTo, std::map<MatchVerdict, int32_t>& seen) {
      double startX = h0, startY = v0;
      int32_t m = apart;
      int32_t lastPair = -1;  // of a span not laid end to end, the pair it stood for
      std::array<double, kRecentSpans> recentY{}, recentX{};  // travels of the last spans found
      int32_t recent = 0;
      // Read afresh for every pair into the same storage.
      GreyImage raw, other, sharpA, sharpB;
      MatchStrip a, b;
      MatchScratch scratch;
      // The next span's framelet: `step` on; where spans start only every few framelets, the last
      // that fits stands at the product's end too.
      const auto nextOf = [&](int32_t f) {
        int32_t next = f + step;
        if (step > 1 && f + m < fc - 1 && next + m >= fc) next = fc - 1 - m;
        if (step < -1 && f > 0 && next < 0) next = 0;
        return next;
      };
      for (int32_t f = first; step > 0 ? f < last : f > last; f = nextOf(f)) {
        if (tiled && !measured(f)) continue;
        if (following) {
          const double travel = (startY + rowShift) / m, sideways = (startX + colShift) / m;
          const bool steady = recent >= kRecentSpans;
          const int32_t next = apartFor(steady ? MiddleOf(recentY) : travel,
                                        steady ? MiddleOf(recentX) : sideways, m);
          if (next != m && f + next < fc) {
            m = next;
            startY = m * travel - rowShift;
            startX = m * sideways - colShift;
          }
          if (f + m >= fc) continue;
        }
        // Two spans on.
        const int32_t ahead = f + step * 2 * every * (tiled ? apart : 1);
        if (ahead >= 0 && ahead <= fc - 1 - m && (step > 0 ? ahead < last : ahead > last)) {
          from->Prefetch(ahead);
          if (to != from) to->Prefetch(ahead + m);
        }
        // Against the neighbour, the rows the two strips share about where the span starts.
        int32_t spanFrom = fromRow, spanTo = toRow, spanRows = rows;
        if (from != to) acrossRows(startY, spanFrom, spanTo, spanRows);
        from->ReadColumnsInto(f, spanFrom, spanRows, raw);
        to->ReadColumnsInto(f + m, spanTo, spanRows, other);
        const auto [ma, mb] =
            to != from ? alike(raw, other, sharpA, sharpB) : StripPair{&raw, &other};
        PrepareSoftenedStrip(*ma, a);
        PrepareSoftenedStrip(*mb, b);
        ShiftEstimate s = RefineOverlap(a, b, startX, startY - (spanFrom - spanTo), pairSearch,
                                        pairRows, scratch);
        s.Dy += spanFrom - spanTo;
        if (!s.Found() || std::fabs(s.Dy - startY) > 1.0 || std::fabs(s.Dx - startX) > 1.5)
          s = fullSearch(f, m);
        if (s.Found()) {
          // Close to the mean: most of the way toward it; far from it: the travel has moved on.
          // A pair measured from one step keeps a little of where it started, so the mean must
          // not lag far behind a travel that changes along the product.
          const bool near = std::fabs(s.Dy - startY) < 0.5 && std::fabs(s.Dx - startX) < 0.5;
          const double weight = near ? 0.6 : 1.0;
          startX += weight * (s.Dx - startX);
          startY += weight * (s.Dy - startY);
          if (following) {
            // The framelets apart follow the median travel of the last few spans, which lags a
            // changing travel by a span or two: a stray match or two on a thin strip must not
            // take them, and with them the rows the spans after it read, off the travel.
            recentY[recent % kRecentSpans] = (s.Dy + rowShift) / m;
            recentX[recent % kRecentSpans] = (s.Dx + colShift) / m;
            ++recent;
          }
        }
        ++seen[s.Verdict];
        auto [lo, hi] = tiled ? pairsOf(f) : std::pair{f + (m - 1) / 2, f + (m - 1) / 2 + 1};
        // Past the pair after the span before's (at one more or one fewer apart than it): the
        // pair between theirs as well.
        if (!tiled && lastPair >= 0) {
          if (step > 0 && lo > lastPair + 1) lo = lastPair + 1;
          if (step < 0 && hi < lastPair) hi = lastPair;
        }
        lastPair = step > 0 ? hi - 1 : lo;
        for (int32_t k = std::max(lo, pairFrom); k < std::min(hi, pairTo); ++k) {
          TravelPair& p = e.Profile[static_cast<size_t>(k)];
          if (!tiled) middleOf[static_cast<size_t>(k)] = f + (m - 1) / 2.0;
          p.Found = s.Found();
          p.Vertical = (s.Dy + rowShift) / m;
          p.Horizontal = (s.Dx + colShift) / m;
          p.Residual = s.Residual;
          if (!p.Found) p.Problem = ReasonOf(s.Verdict, h);
        }
      }
    };
    // A long product's pairs are refined in two halves, each on a core of its own where there are
    // two; the halves are the same on one core, so the travel found does not depend on the cores.
    // Spans that follow the travel with the framelets apart start from the product's middle,
    // where the travel of the starts was found, and go out to either end: started at an end, the
    // first spans would lie as many rows off as the framelets apart multiply the change of the
    // travel over half the product. They may reach past `matched`, where fewer lie apart toward
    // the product's end.
    const int32_t parts = following || matched >= kPairsToSplit ? 2 : 1;
    std::vector<std::map<MatchVerdict, int32_t>> seen(static_cast<size_t>(parts));
    const auto part = [&](int32_t k) {
      auto& partSeen = seen[static_cast<size_t>(k)];
      if (following) {
        // The framelets apart may jump by more than one after a run of stray matches: the pairs
        // about the middle stay each part's own.
        const int32_t middle = matched / 2, middlePair = middle + (apart - 1) / 2;
        if (k == 0) {
          refine(middle - 1, -1, -stride, 0, middlePair, partSeen);
        } else {
          refine(middle, fc - 1, stride, middlePair, e.Pairs, partSeen);
        }
        return;
      }
      refine(static_cast<int32_t>(int64_t{k} * matched / parts),
             static_cast<int32_t>(int64_t{k + 1} * matched / parts), 1, 0, e.Pairs, partSeen);
    };
    inParts(parts, part);
    if (!tiled) PlaceAtPairs(middleOf, e.Profile, std::max(2, stride));
    if (every > 1) FollowBetweenSpans(spanPairs, apart, e.Profile);
    verdicts.clear();
    for (const auto& m : seen)
      for (const auto& [verdict, n] : m) verdicts[verdict] += n;

    std::vector<Real> vs, hs, residuals;
    for (const TravelPair& p : e.Profile) {
      if (!p.Found) continue;
      vs.push_back(p.Vertical);
      hs.push_back(p.Horizontal);
    }
    // A pair far from all the others matched something else (a repeated pattern, a defect).
    const Real mv = Median(vs), mh = Median(hs);
    for (TravelPair& p : e.Profile) {
      if (!p.Found) continue;
      if (std::fabs(p.Vertical - mv) > 1.5L || std::fabs(p.Horizontal - mh) > 1.5L) {
        p.Found = false;
        p.Problem = "the travel found here disagrees with the other pairs";
        continue;
      }
      residuals.push_back(p.Residual);
    }
    vs.clear();
    hs.clear();
    for (const TravelPair& p : e.Profile) {
      if (!p.Found) continue;
      vs.push_back(p.Vertical);
      hs.push_back(p.Horizontal);
    }
    e.PairsUsed = static_cast<int32_t>(vs.size());
    if (e.PairsUsed == 0 || 2 * e.PairsUsed < matched) {
      MatchVerdict worst = MatchVerdict::NoMatch;
      int32_t most = 0;
      for (const auto& [verdict, n] : verdicts)
        if (verdict != MatchVerdict::Found && n > most) worst = verdict, most = n;
      e.Reason = "only " + FormatInt(e.PairsUsed) + " of " +
                 FormatCount(e.Pairs, "framelet pair", "framelet pairs") + " could be matched; " +
                 ReasonOf(worst, h);
      return false;
    }
    // The band's own strips further apart than nearly its height share rows only at the far
    // sides of the strip, where its rows curve and spread over the ground; those lean toward
    // more overlap by a few hundredths of a pixel.
    const Real vertical = RobustMean(vs);
    if (from == to && vertical > strips.BandHeight() - 1 + kSidesOnly) {
      e.Reason =
          "the strips of consecutive framelets overlap only at their far sides, too little to "
          "tell the travel";
      return false;
    }
    e.Vertical = vertical;
    e.Horizontal = RobustMean(hs);
    e.Residual = Median(residuals);
    // Pairs measured against the neighbour leave the ends of the profile unmeasured.
    const bool extend = apart > 1;
    // Spans laid end to end each measure the travel over `apart` pairs at once, scattering a
    // tenth of a pixel or so about it on some scenes: smoothed over as many pairs, the profile of
    // a long product strayed from a changing travel by up to twice the goal. Its line is fitted
    // to a dozen measured spans or so, however many pairs each stands for: a quarter of the
    // product or less, over which the travel of a spacecraft changes along a straight line.
    const int32_t halfWidth = spacing * kSmoothHalfWidth;
    inParts(2, [&](int32_t k) {
      if (k == 0) {
        e.SmoothVertical = Smooth(e.Profile, true, e.Vertical, extend, halfWidth);
      } else {
        e.SmoothHorizontal = Smooth(e.Profile, false, e.Horizontal, extend, halfWidth);
      }
    });
    const auto [vMin, vMax] = std::minmax_element(e.SmoothVertical.begin(), e.SmoothVertical.end());
    const auto [hMin, hMax] =
        std::minmax_element(e.SmoothHorizontal.begin(), e.SmoothHorizontal.end());
    e.VerticalMin = *vMin;
    e.VerticalMax = *vMax;
    e.HorizontalMin = *hMin;
    e.HorizontalMax = *hMax;
    std::vector<Real> scatter;
    for (size_t i = 0; i < e.Profile.size(); ++i) {
      if (!e.Profile[i].Found) continue;
      scatter.push_back(std::fabs(e.Profile[i].Vertical - e.SmoothVertical[i]));
      scatter.push_back(std::fabs(e.Profile[i].Horizontal - e.SmoothHorizontal[i]));
    }
    // Spans laid end to end (each measured, or every fourth or sixth one): a span's pairs were
    // measured together.
    const int32_t averaged = std::max(1, std::min(2 * halfWidth + 1, e.Pairs) / spacing);
    e.ProfileNoise = 1.4826L * Median(scatter) / std::sqrt(static_cast<Real>(averaged));
    e.Found = true;
    // The travel of a product whose travel changes along it is its mean over all its pairs. Those
    // measured leave out the pairs toward its ends that no span stands for (framelets many apart
    // against the neighbour, more at one end where that number changes along the product), and
    // lean toward the travel of the rest: the smoothed profile, carried over them by its end
    // lines, tells what they add. (Not where those lines would reach over half the pairs or
    // more: carried that far, their scatter would add more than it mends.)
    if (e.Varies() && 2 * e.PairsUsed >= e.Pairs) {
      const auto unmeasured = [&](const std::vector<Real>& smooth) {
        Real all = 0, measured = 0;
        int32_t count = 0;
        for (size_t i = 0; i < smooth.size(); ++i) {
          all += smooth[i];
          if (!e.Profile[i].Found) continue;
          measured += smooth[i];
          ++count;
        }
        return all / static_cast<Real>(smooth.size()) - measured / static_cast<Real>(count);
      };
      e.Vertical += unmeasured(e.SmoothVertical);
      e.Horizontal += unmeasured(e.SmoothHorizontal);
    }
    return true;
  };
  // Against the neighbour, or (where it could not tell, or told another travel than the band's
  // own pairs agreed on) with the band's own strips. Where those share several rows their own
  // travel is good to a few hundredths: the neighbour's must agree as well (the two bands' places
  // on the detector, which the settings give, decide its travel).
  const Real ownTravel = ownAgreed ? Median(ownV) : 0;
  const Real allowed =
      strips.BandHeight() - 1 - ownTravel >= kDeepOverlap ? kDeepAgrees : kAcrossAgrees;
  if ((!measurePairs() || (ownAgreed && std::fabs(e.Vertical - ownTravel) > allowed)) &&
      from != to && !ownV.empty()) {
    e.Found = false;
    ownStrips();
    measurePairs();
  }
  return e;
}

std::string TravelMessage(const TravelEstimate& e) {
  if (!e.Found) return "Travel not found (band " + FormatInt(e.Band) + "): " + e.Reason;
  return "Travel found: vertical " + FormatFixed(e.Vertical, 3) + ", horizontal " +
         FormatFixed(e.Horizontal, 3) + " pixels (band " + FormatInt(e.Band) + ", " +
         FormatCount(e.PairsUsed, "framelet pair", "framelet pairs") + ")";
}

Real TravelAsShown(Real travel) {
  return ParseReal(FormatFixed(travel, 3)).value;
}

}  // namespace quelmar
