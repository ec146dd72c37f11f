#include "assembly/BandSampler.h"

#include <algorithm>
#include <cmath>

#include "assembly/Distortion.h"
#include "assembly/MapRowFill.h"
#include "util/Errors.h"

namespace quelmar {

namespace {

constexpr int32_t kUvColumns = 128;  // samples of a binned ultraviolet band in a product row
// Framelets either side of the stack's that a corrected row reads at most (those further are
// read point by point).
constexpr int64_t kReach = 8;
// Rows beyond the product past which a shift leaves every point without a source.
constexpr int64_t kShiftMargin = 64;

// The filter position of a wavelength, without the messages of a corrected stack (an unknown
// wavelength takes position 5, as the correction does).
int32_t FilterOf(const CameraSettings& settings, const std::string& wavelength) {
  for (int32_t k = 0; k < kFilterCount; ++k) {
    if (settings.FilterIds[static_cast<size_t>(k)] == wavelength) return k + 1;
  }
  return kFallbackFilter;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

int64_t Fixed16(Real x) {
  const int64_t r = RoundToInt64(x * 65536);
  if (r == kRoundFailed) throw RangeError("A sample position of the colour picture is too large");
  return r;
}

}  // namespace

BandSampler::BandSampler(const LoadedProduct& product, const BandSamplerRequest& request,
                         const CameraSettings& settings, UserPort& port)
    : product_(product), request_(request) {
  if (!product.HasImage()) throw RangeError("No image data is loaded");
  const int32_t fh = product.FrameletHeight, fc = product.FrameletCount;
  if (fh <= 0 || fc <= 0) throw RangeError("The product has no framelets");
  wsrc_ = product.Rows.Width();
  strip_ = StripOfBand(BandRowBounds(product.BandCount, fh), product.BandCount, request.Band);
  wavelength_ = product.BandWavelengths[static_cast<size_t>(request.Band) - 1];
  Real& vt = request_.VerticalTravel;
  if (!(vt > 0)) {
    throw RangeError("Band " + std::to_string(request.Band) +
                     ": a colour picture needs a vertical travel above 0 (got " + FormatG3(vt) +
                     ")");
  }
  vt = std::min(vt, static_cast<Real>(fh));
  const Real ht = request_.HorizontalTravel;
  if (!std::isfinite(ht)) throw RangeError("The horizontal travel is not a finite number");

  firstColumn_ = 0;
  lastColumn_ = wsrc_ - 1;
  if (Ultraviolet() && wsrc_ > kUvColumns) {
    firstColumn_ = (wsrc_ - kUvColumns) / 2;
    lastColumn_ = firstColumn_ + kUvColumns - 1;
  }

  const int32_t filter = request.CorrectDistortion ? ChooseFilter(settings, wavelength_, port)
                                                   : FilterOf(settings, wavelength_);
  const CorrectionConstants constants = DeriveCorrectionConstants(settings, filter);
  if (auto problem = CorrectionSettingsProblem(constants, "")) throw QuelmarError(*problem);

  Real centreX = static_cast<Real>(wsrc_ / 2);
  stripWidth_ = wsrc_;
  if (request.CorrectDistortion) {
    RadialTable table = BuildRadialTable(kRadiusLimit, constants.K1, constants.K2, constants.Pitch);
    if (auto problem = RadialTableProblem(table, constants, "")) throw QuelmarError(*problem);
    corrected_ = true;
    BuildMaps(constants, std::move(table.Entries));
    centreX = static_cast<Real>(stripWidth_ / 2);
  }

  // Where the framelets lie: k x the travels, or the running sums of a profile's travels.
  const bool profiled = !request.VerticalProfile.empty();
  if (profiled && (request.VerticalProfile.size() != static_cast<size_t>(fc - 1) ||
                   request.HorizontalProfile.size() != static_cast<size_t>(fc - 1))) {
    throw RangeError("The travel profile must hold one travel per pair of framelets");
  }
  Real rows = 0, cols = 0, lowest = 0, highest = 0;
  for (int32_t f = 0; f < fc; ++f) {
    if (f > 0) {
      const auto k = static_cast<size_t>(f - 1);
      rows += profiled ? std::clamp(request.VerticalProfile[k], static_cast<Real>(0),
                                    static_cast<Real>(fh))
                       : vt;
      cols += profiled ? request.HorizontalProfile[k] : ht;
    }
    if (!std::isfinite(rows) || !std::isfinite(cols)) {
      throw RangeError("The travel profile holds a travel that is not a finite number");
    }
    const int64_t row = Fixed16(rows), col = Fixed16(cols);
    constexpr int64_t kFar = int64_t{1} << 62;  // (a travel this far fails below)
    if (profiled || row >= kFar || col >= kFar || col <= -kFar) {
      rowAt_.push_back(row);
      colAt_.push_back(col);
    } else {
      // Every framelet the same step from the one before, to the last 1/65536 pixel, so that
      // framelets that lie alike on the picture's grid are read alike.
      rowAt_.push_back(f * Fixed16(vt));
      colAt_.push_back(f * Fixed16(ht));
    }
    lowest = std::min(lowest, cols);
    highest = std::max(highest, cols);
  }
  int32_t extra = 0;
  if (!RoundFitsInt32(profiled ? highest - lowest : std::fabs(ht) * static_cast<Real>(fc), extra)) {
    throw RangeError("The extra width for a horizontal travel of " + FormatG3(ht) +
                     " does not fit in a 32-bit integer");
  }
  start_ = profiled ? -lowest : ht < 0 ? static_cast<Real>(extra) : 0;
  start16_ = Fixed16(start_);
  stackWidth_ = CheckedAdd(stripWidth_, extra);
  stackHeight_ = CheckedAdd(RoundToInt32(rows), strip_.H);

  // How far a corrected row's points reach: the framelet that holds a point's source lies as
  // many framelets from the stack's as the correction moves the row by (at the shortest travel
  // between two framelets), and a point may read that framelet's neighbours.
  if (corrected_ && fc > 1) {
    int64_t shortest = INT64_MAX, furthest = 0;
    for (size_t f = 1; f < rowAt_.size(); ++f) {
      shortest = std::min(shortest, rowAt_[f] - rowAt_[f - 1]);
    }
    for (const int64_t d : drop_) furthest = std::max(furthest, d < 0 ? -d : d);
    if (shortest > 0) reach_ = std::min<int64_t>(kReach, (furthest + kOne) / shortest + 2);
  }

  // Rows read alike (and are worth keeping for the rows that follow) where every m framelets
  // lie a whole number of rows and 1/256 columns further on, with the same steps between them,
  // for an m whose rows the row cache holds.
  rowsRepeat_ = false;
  const auto periodic = [this](size_t m) {
    const int64_t down = rowAt_[m] - rowAt_[0], across = colAt_[m] - colAt_[0];
    if (down <= 0 || down % kOne != 0 || across % 256 != 0) return false;
    for (size_t f = 1; f + m < rowAt_.size(); ++f) {
      if (rowAt_[f + m] - rowAt_[f + m - 1] != rowAt_[f] - rowAt_[f - 1] ||
          colAt_[f + m] - colAt_[f + m - 1] != colAt_[f] - colAt_[f - 1]) {
        return false;
      }
    }
    return true;
  };
  for (size_t m = 1; m < rowAt_.size() && !rowsRepeat_; ++m) {
    if (rowAt_[m] - rowAt_[0] > kOne * static_cast<int64_t>(kRepeatRows)) break;
    rowsRepeat_ = periodic(m);
  }

  // A constant travel of no whole number of rows or columns: a picture's rows are read at the
  // nearest cell (see SampleCellRow), and come back there.
  if (corrected_ && !profiled && !rowsRepeat_ && fc > 1) {
    cellRows_ = std::make_unique<CellRows>();
    const int64_t across = fc > 1 ? std::abs(colAt_[1]) : 0;
    cellMargin_ = (reach_ * across + kOne - 1) / kOne + 2;
  }
  if (corrected_ && !rowAt_.empty()) {
    const auto [lo, hi] = std::minmax_element(rowAt_.begin(), rowAt_.end());
    // A row reads a framelet's band through the map of its nearest 1/32 row: none before the
    // first map's or from just past the last one's.
    firstMapped_ = *lo + int64_t{firstMap_} * (kOne / kRowSteps) - kOne / kRowSteps / 2;
    pastMapped_ = *hi + int64_t{firstMap_ + mapCount_} * (kOne / kRowSteps) - kOne / kRowSteps / 2;
  }
  placement_.Scale = Ultraviolet() ? 4 : 1;
  placement_.CentreX = centreX + start_;
  placement_.CentreY = static_cast<Real>(strip_.H) / 2 + constants.OffsetPixels - 1;
}

void BandSampler::BuildMaps(const CorrectionConstants& constants, std::vector<Real> table) {
  DistortionGeometry geometry(table, constants, strip_.H, wsrc_);
  geometry.SearchWidth();
  stripWidth_ = geometry.Width();
  const Real outC = geometry.OutputCentre(), srcC = geometry.SourceCentre();
  mapSource_ = MapSource{std::move(table),       {},   static_cast<Real>(strip_.H) / 2,
                         constants.OffsetPixels, outC, srcC};
  for (const Real f : mapSource_.Table) mapSource_.FastTable.push_back(static_cast<double>(f));
  const auto entries = static_cast<size_t>(stripWidth_) + 1;
  // How far the middle row moves decides how far beyond the band the maps must reach.
  drop_.assign(entries, 0);
  Real lowest = 0, highest = 0;
  const Real middle = (static_cast<Real>(strip_.H) - 1) / 2;
  if (ShiftedBeyondProduct(middle)) {
    // No point has a source: no maps (the rows read find none), and no positions that far.
    drop32_.assign(drop_.begin(), drop_.end());
    firstMap_ = 0;
    mapCount_ = 0;
    maps_.reset(new MapEntry[1]);
    mapState_ = std::make_unique<std::atomic<int32_t>[]>(1);
    return;
  }
  for (size_t a = 0; a < entries; ++a) {
    Real col = 0, row = 0;
    if (!Source(static_cast<Real>(a), middle, col, row)) continue;
    const Real drop = middle - row;  // output row minus source row
    lowest = std::min(lowest, drop);
    highest = std::max(highest, drop);
    drop_[a] = RoundToInt64(drop * kOne);
  }
  drop32_.clear();
  if (std::all_of(drop_.begin(), drop_.end(),
                  [](int64_t d) { return d > INT32_MIN / 2 && d < INT32_MAX / 2; })) {
    drop32_.assign(drop_.begin(), drop_.end());
  }
  firstMap_ = static_cast<int32_t>(std::floor((lowest - 1) * kRowSteps));
  const auto lastMap = static_cast<int32_t>(std::ceil((strip_.H + highest) * kRowSteps));
  mapCount_ = lastMap - firstMap_ + 1;
  // The maps themselves are worked out when a row first needs them: a picture whose rows lie
  // at one place within the band rows needs one map in kRowSteps.
  // Left unset (and the memory untouched) until MapRow fills a row in.
  maps_.reset(new MapEntry[static_cast<size_t>(mapCount_) * entries]);
  mapState_ = std::make_unique<std::atomic<int32_t>[]>(static_cast<size_t>(mapCount_));
}

bool BandSampler::ShiftedBeyondProduct(Real middle) const {
  if (!request_.CorrectVertically) return false;
  // Beyond every row of the product, by more than the correction alone moves the middle row
  // (the row a point reads less the shift).
  const int64_t past = int64_t{product_.FrameletCount} * product_.FrameletHeight +
                       2 * int64_t{strip_.H} + kShiftMargin;
  const auto shift = static_cast<Real>(request_.Shift);
  if (std::fabs(shift) <= static_cast<Real>(past)) return false;
  Real furthest = 0;
  for (int32_t a = 0; a <= stripWidth_; ++a) {
    Real col = 0, row = 0;
    if (Source(static_cast<Real>(a), middle, col, row)) {
      furthest = std::max(furthest, std::fabs(middle - (row - shift)));
    }
  }
  return std::fabs(shift) > static_cast<Real>(past) + furthest;
}

bool BandSampler::Source(Real a, Real b, Real& col, Real& row) const {
  const MapSource& m = mapSource_;
  const Real deltaY = m.Half + m.Offset - (b + 1);
  const Real deltaX = a - m.OutputCentre;
  const Real rho = std::sqrt(deltaX * deltaX + deltaY * deltaY);
  const auto last = static_cast<Real>(m.Table.size() - 1);
  if (!(rho <= last)) return false;
  const auto i = static_cast<size_t>(rho);
  const Real t = rho - static_cast<Real>(i);
  const Real f =
      i + 1 < m.Table.size() ? m.Table[i] + (m.Table[i + 1] - m.Table[i]) * t : m.Table[i];
  col = m.SourceCentre + deltaX * (1 + f);
  row = request_.CorrectVertically ? b - deltaY * f + static_cast<Real>(request_.Shift) : b;
  return true;
}

const BandSampler::MapEntry* BandSampler::MapRow(int64_t q) const {
  const auto entries = static_cast<size_t>(stripWidth_) + 1;
  MapEntry* out = maps_.get() + static_cast<size_t>(q) * entries;
  const auto fill = [&] {
    // As Source, in doubles (a row takes hundreds of points, each kept to 1/256 pixel only).
    const MapSource& m = mapSource_;
    MapRowGeometry g;
    g.Table = m.FastTable.data();
    g.TableSize = m.FastTable.size();
    g.B = static_cast<double>(firstMap_ + q) / kRowSteps;
    g.DeltaY = static_cast<double>(m.Half + m.Offset) - (g.B + 1);
    g.OutputCentre = static_cast<double>(m.OutputCentre);
    g.SourceCentre = static_cast<double>(m.SourceCentre);
    g.Vertical = request_.CorrectVertically;
    g.Shift = static_cast<double>(request_.Shift);
    static_assert(sizeof(MapEntry) == 2 * sizeof(int32_t), "a map entry is a column and a row");
    FillMapRow(g, entries, reinterpret_cast<int32_t*>(out));
  };
  // (Not std::call_once: that wakes waiters through the kernel every time, whether any wait or
  // not, and a picture works out hundreds of map rows. Nor the atomic's own wait: where there is
  // no futex, as in the Windows build, our compiler's library can miss the wake-up and wait for
  // good.) A core that finds the row being worked out by another gives way until it is done: a
  // map row takes microseconds.
  std::atomic<int32_t>& state = mapState_[static_cast<size_t>(q)];
  for (int32_t seen = state.load(std::memory_order_acquire); seen != kMapDone;
       seen = state.load(std::memory_order_acquire)) {
    if (seen == kMapFilling) {
      std::this_thread::yield();
    } else if (state.compare_exchange_strong(seen, kMapFilling, std::memory_order_acquire)) {
      fill();
      state.store(kMapDone, std::memory_order_release);
    }
  }
  return out;
}

inline bool BandSampler::SourceOf(int64_t x, int64_t b, int32_t& col, int32_t& row) const {
  const int64_t maxStrip = int64_t{stripWidth_ - 1} * kOne;
  if (x < -kOne / 2 || x > maxStrip + kOne / 2) return false;
  const int64_t xs = std::clamp<int64_t>(x, 0, maxStrip);
  if (!corrected_) {
    col = static_cast<int32_t>(xs >> 8);
    row = static_cast<int32_t>(b >> 8);
    return true;
  }
  // The map of the nearest 1/32 row.
  const int64_t q = ((b * kRowSteps + kOne / 2) >> 16) - firstMap_;
  if (q < 0 || q >= mapCount_) return false;
  const MapEntry* map = MapRow(q);
  const auto a = static_cast<size_t>(xs >> 16);
  const int64_t t = xs & (kOne - 1);
  const MapEntry e0 = map[a], e1 = map[a + 1];
  if (e0.col == kNone || e1.col == kNone) return false;
  col = static_cast<int32_t>(e0.col + (((int64_t{e1.col} - e0.col) * t) >> 16));
  row = static_cast<int32_t>(e0.row + (((int64_t{e1.row} - e0.row) * t) >> 16));
  return true;
}

BandSampler::RowContext BandSampler::ContextOf(Real y) const {
  RowContext c;
  c.yf = Fixed16(y);
  c.start = start16_;
  c.rowStep = request_.Invert ? -std::ptrdiff_t{wsrc_} : wsrc_;
  c.topInFramelet = request_.Invert ? strip_.B - 1 : strip_.T;
  c.rowFramelet = FrameletOf(c.yf);
  return c;
}

int32_t BandSampler::ShareOf(Real y, int32_t parts) const {
  if (parts <= 1) return 0;
  const int64_t yf = Fixed16(y), cell = Cell(), cells = kOne / cell;
  const int64_t place = FloorDiv(yf - rowAt_[static_cast<size_t>(FrameletOf(yf))] + cell / 2, cell);
  // The row within the framelet, and the cell within the row.
  const int64_t row = FloorDiv(place, cells);
  const int64_t turn = row + (place - row * cells);
  return static_cast<int32_t>((turn % parts + parts) % parts);
}

int64_t BandSampler::FrameletOf(int64_t yf) const {
  // The last framelet that begins at or above the row: first where an even travel puts it,
  // then a step at a time.
  const auto last = static_cast<int64_t>(rowAt_.size()) - 1;
  int64_t f = 0;
  if (last > 0 && rowAt_.back() > 0 && yf > 0) {
    f = std::min<int64_t>(
        last, static_cast<int64_t>(static_cast<double>(yf) / static_cast<double>(rowAt_.back()) *
                                   static_cast<double>(last)));
  }
  while (f > 0 && rowAt_[static_cast<size_t>(f)] > yf) --f;
  while (f < last && rowAt_[static_cast<size_t>(f) + 1] <= yf) ++f;
  return f;
}

int16_t BandSampler::SamplePoint(const RowContext& c, int64_t x) const {
  const int32_t fc = product_.FrameletCount, fh = product_.FrameletHeight, h = strip_.H;
  const int64_t lines = product_.Rows.Lines();
  const int32_t colLo = firstColumn_ * 256, colHi = lastColumn_ * 256, rowHi = (h - 1) * 256;
  // The framelet whose band holds the point's source: the stack's, moved by how far the
  // correction reads the band's rows from elsewhere; then its neighbours.
  int64_t f = c.rowFramelet;
  if (!drop_.empty()) {
    const int64_t a =
        std::clamp<int64_t>((x - c.start - colAt_[static_cast<size_t>(f)]) >> 16, 0, stripWidth_);
    const int64_t y = c.yf - drop_[static_cast<size_t>(a)];
    while (f > 0 && y < rowAt_[static_cast<size_t>(f)]) --f;
    while (f < fc - 1 && y >= rowAt_[static_cast<size_t>(f) + 1]) ++f;
  }
  int32_t col = 0, row = 0;
  bool found = false;
  const int64_t tries[] = {f, f + 1, f - 1};
  for (const int64_t tryF : tries) {
    if (tryF < 0 || tryF >= fc) continue;
    const auto k = static_cast<size_t>(tryF);
    if (!SourceOf(x - c.start - colAt_[k], c.yf - rowAt_[k], col, row)) continue;
    if (row < -128 || row > rowHi + 128) continue;
    f = tryF;
    found = true;
    break;
  }
  if (!found || col < colLo - 128 || col > colHi + 128) return -1;
  col = std::clamp(col, colLo, colHi);
  row = std::clamp(row, 0, rowHi);
  const int64_t top = f * fh + c.topInFramelet;
  if (top >= lines || top + (h - 1) * (request_.Invert ? -1 : 1) >= lines) return -1;
  const int32_t c0 = col >> 8, fx = col & 255, r0 = row >> 8, fy = row & 255;
  const int32_t c1 = std::min(c0 + 1, lastColumn_);
  const uint8_t* s0 = product_.Rows.Row(static_cast<int32_t>(top)) + r0 * c.rowStep;
  const uint8_t* s1 = r0 + 1 <= h - 1 ? s0 + c.rowStep : s0;
  const int32_t upper = s0[c0] * (256 - fx) + s0[c1] * fx;
  const int32_t lower = s1[c0] * (256 - fx) + s1[c1] * fx;
  return static_cast<int16_t>((upper * (256 - fy) + lower * fy + 2048) >> 12);
}

void BandSampler::SampleRow(Real y, Real x0, Real dx, int32_t count, int16_t* out) const {
  const RowContext c = ContextOf(y);
  const int64_t x = Fixed16(x0), step = Fixed16(dx);
  if (corrected_) {
    SampleCorrectedRow(c, x, step, count, out);
  } else if (step <= 0 || !SamplePlainRow(c, x, step, count, out)) {
    for (int32_t i = 0; i < count; ++i) out[i] = SamplePoint(c, x + step * i);
  }
}

namespace {
constexpr uint8_t kValue = kCachedValue, kNoData = kCachedNoData, kPoint = kCachedPoint;
constexpr size_t kCachedRows = 32;
}  // namespace

void BandSampler::SampleRow(Real y, Real x0, Real dx, int32_t count, int16_t* out,
                            RowCache& cache) const {
  RowContext c = ContextOf(y);
  const int64_t x = Fixed16(x0);
  const int64_t step = Fixed16(dx);
  const bool cellRow = cellRows_ && cache.onCells_ && step > 0 && kOne % step == 0;
  if (!corrected_) {
    if (step <= 0 || !SamplePlainRow(c, x, step, count, out)) {
      for (int32_t i = 0; i < count; ++i) out[i] = SamplePoint(c, x + step * i);
    }
    return;
  }
  if (cellRow && cache.betweenCells_ && count > 0) {
    // The cells below and above the row, `weight` / 256 of the way from the one to the other.
    const int64_t top = rowAt_[static_cast<size_t>(c.rowFramelet)];
    const int64_t cell = Cell();
    const int64_t below = top + FloorDiv(c.yf - top, cell) * cell;
    const auto weight = static_cast<int32_t>(((c.yf - below) * 256 + cell / 2) / cell);
    if (weight > 0 && weight < 256) {
      const auto n = static_cast<size_t>(count);
      cache.below_.resize(n);
      cache.above_.resize(n);
      c.yf = below;
      SampleRowAt(c, x, step, count, cache.below_.data(), cache, true);
      c.yf = below + cell;
      SampleRowAt(c, x, step, count, cache.above_.data(), cache, true);
      BlendPairs(cache.below_.data(), cache.above_.data(), weight, count, out);
      return;
    }
  }
  SampleRowAt(c, x, step, count, out, cache, cellRow);
}

void BandSampler::SampleRowAt(RowContext c, int64_t x, int64_t step, int32_t count, int16_t* out,
                              RowCache& cache, bool cellRow) const {
  {
    // The row is read at the nearest 1/32 row of the stack's framelet (its maps are that fine)
    // and its first column at the nearest 1/256: rows of a band that drifts slowly along the
    // strip then read alike for long stretches. On cells, the row at the nearest cell.
    const int64_t top = rowAt_[static_cast<size_t>(c.rowFramelet)];
    const int64_t left = c.start + colAt_[static_cast<size_t>(c.rowFramelet)];
    static_assert(kOne / kRowSteps == 1 << 11, "a map row is 2048 / 65536 rows");
    if (cellRow) {
      // (The row stays with its framelet, though the cell may lie a little above it.)
      const int64_t cell = Cell();
      c.yf = top + FloorDiv(c.yf - top + cell / 2, cell) * cell;
    } else {
      c.yf = top + (((c.yf - top + kOne / kRowSteps / 2) >> 11) << 11);
      c.rowFramelet = FrameletOf(c.yf);
    }
    x = left + (((x - left + 128) >> 8) << 8);
  }
  // A row above every framelet's band or below it (a channel's rows beyond its stack, at the
  // top or bottom of a colour picture): no point has data, and nothing is worked out for it.
  if (c.yf < firstMapped_ || c.yf >= pastMapped_) {
    std::fill(out, out + std::max(count, 0), int16_t{-1});
    return;
  }
  const int64_t f0 = c.rowFramelet;
  const int32_t fc = product_.FrameletCount, fh = product_.FrameletHeight;
  // The framelets the row's points may read, all inside the product (near its ends, fewer).
  const int64_t lastTop = std::min<int64_t>(f0 + reach_, fc - 1) * fh + c.topInFramelet;
  const int64_t lastRow = lastTop + (strip_.H - 1) * (request_.Invert ? -1 : 1);
  if (count <= 0 || lastTop >= product_.Rows.Lines() || lastRow >= product_.Rows.Lines()) {
    SampleCorrectedRow(c, x, step, count, out);
    return;
  }
  const auto f = static_cast<size_t>(f0);
  const uint8_t* band = product_.Rows.Row(static_cast<int32_t>(f0 * fh + c.topInFramelet));
  FetchAhead(c, f0, ((c.yf - rowAt_[f]) >> 16) + 2, band);
  if (cellRow) {
    SampleCellRow(c, x, step, count, out, cache);
    return;
  }
  if (!rowsRepeat_) {
    // No row will come back: each is read into one scratch row.
    cache.scratch_.resize(static_cast<size_t>(count));
    SampleCorrectedRow(c, x, step, count, out, cache.scratch_.data());
    return;
  }
  // What the row's points read depends on these alone.
  std::vector<int64_t>& key = cache.key_;
  key.clear();
  key.push_back(c.yf - rowAt_[f]);
  key.push_back(x - c.start - colAt_[f]);
  key.push_back(step);
  key.push_back(count);
  for (int64_t d = -reach_; d <= reach_; ++d) {
    const int64_t k = f0 + d;
    const bool there = k >= 0 && k < fc;
    key.push_back(there ? rowAt_[static_cast<size_t>(k)] - rowAt_[f] : INT64_MIN);
    key.push_back(there ? colAt_[static_cast<size_t>(k)] - colAt_[f] : INT64_MIN);
  }
  // Rows come back in the order they were first read (a framelet's rows, then the next one's):
  // the search starts after the row found last.
  const size_t held = cache.rows_.size();
  for (size_t k = 0; k < held; ++k) {
    const size_t at = (cache.found_ + 1 + k) % held;
    RowCache::Row& row = cache.rows_[at];
    if (row.key[0] != key[0] || row.key[1] != key[1] || row.key != key) continue;
    cache.found_ = at;
    if (!row.compiled) {
      row.program.Compile(row.entries.data(), count, c.rowStep, wsrc_);
      row.compiled = true;
    }
    RunCompiledRow(c, row.program, row.entries.data(), x, step, count, out);
    return;
  }
  if (cache.rows_.size() < kCachedRows) cache.rows_.emplace_back();
  cache.found_ = cache.next_;
  RowCache::Row& row = cache.rows_[cache.next_];
  cache.next_ = (cache.next_ + 1) % kCachedRows;
  row.key = key;
  row.entries.resize(static_cast<size_t>(count));
  row.compiled = false;
  // Compiled when it first repeats: many rows never do (a travel of no whole number of rows, a
  // horizontal travel), and the blend of the reads gives what the compiled row gives.
  SampleCorrectedRow(c, x, step, count, out, row.entries.data());
}

void BandSampler::RunCompiledRow(const RowContext& c, const RowProgram& program,
                                 const CachedRead* reads, int64_t x, int64_t step, int32_t count,
                                 int16_t* out) const {
  const uint8_t* band = product_.Rows.Row(
      static_cast<int32_t>(c.rowFramelet * product_.FrameletHeight + c.topInFramelet));
  const std::ptrdiff_t before = band - product_.Rows.Row(0);
  const std::ptrdiff_t readable =
      product_.Rows.Row(0) + int64_t{product_.Rows.Lines()} * wsrc_ - band;
  if (reads == nullptr && !program.Runs(before, readable)) {
    SampleCorrectedRow(c, x, step, count, out);
    return;
  }
  if (program.Run(band, c.rowStep, before, readable, reads, count, out)) {
    for (int32_t i = 0; i < count; ++i) {
      if (reads[i].state == kPoint) out[i] = SamplePoint(c, x + step * i);
    }
  }
}

void BandSampler::ReleaseCellRows(int32_t part, int32_t parts) const {
  if (!cellRows_ || part < 0 || parts < 1) return;
  for (auto i = static_cast<size_t>(part); i < CellRows::kPlaces; i += static_cast<size_t>(parts)) {
    cellRows_->byPlace[i].store(nullptr, std::memory_order_relaxed);
  }
  const std::thread::id self = std::this_thread::get_id();
  for (size_t i = 0; i < CellRows::kSlots; ++i) {
    CellRows::Row* row = cellRows_->slots[i].load(std::memory_order_relaxed);
    if (row == nullptr || cellRows_->owners[i] != self) continue;
    cellRows_->slots[i].store(nullptr, std::memory_order_relaxed);
    delete row;
  }
}

int32_t BandSampler::CellRowsHeld() const {
  int32_t held = 0;
  if (!cellRows_) return held;
  for (size_t i = 0; i < CellRows::kSlots; ++i) {
    if (cellRows_->slots[i].load(std::memory_order_relaxed) != nullptr) ++held;
  }
  return held;
}

BandSampler::CellRows::~CellRows() {
  for (size_t i = 0; i < kSlots; ++i) delete slots[i].load(std::memory_order_relaxed);
}

BandSampler::CellRows::Row* BandSampler::CellRows::Find(uint64_t hash,
                                                        const std::vector<int64_t>& key,
                                                        size_t& slot) const {
  for (size_t probe = 0; probe < kSlots; ++probe) {
    slot = (hash + probe) & (kSlots - 1);
    Row* row = slots[slot].load(std::memory_order_acquire);
    if (row == nullptr) return nullptr;
    if (row->hash == hash && row->key == key) return row;
  }
  return nullptr;
}

void BandSampler::CellRows::Add(std::unique_ptr<Row> row, size_t slot) {
  // Into the first empty slot from where Find stopped; a row another core added meanwhile for
  // the same key stands (the two read alike).
  for (size_t probe = 0; probe < kSlots; ++probe) {
    const size_t at = (slot + probe) & (kSlots - 1);
    Row* empty = nullptr;
    if (slots[at].compare_exchange_strong(empty, row.get(), std::memory_order_acq_rel)) {
      row.release();
      owners[at] = std::this_thread::get_id();
      return;
    }
    if (empty->hash == row->hash && empty->key == row->key) return;
  }
}

void BandSampler::SampleCellRow(const RowContext& c, int64_t x, int64_t step, int32_t count,
                                int16_t* out, RowCache& cache) const {
  // One row stands for every row at this place within a framelet on a cell: the wide row, whose
  // points lie on the framelet's own columns (or, of a row whose points are a quarter of a
  // column apart, a whole number of steps from them) from cellMargin_ columns before the strip
  // to as many beyond it, past every point that any framelet around reaches. It is read (or run
  // as compiled), and each point of the row is blended from the two points of it either side
  // (taken from it where it lies on one): the row's columns then never make a row of their own,
  // however the framelets lie across.
  const int32_t fc = product_.FrameletCount;
  const auto f = static_cast<size_t>(c.rowFramelet);
  const int64_t home = c.start + colAt_[f];
  const int64_t phase = x - home - FloorDiv(x - home, kOne) * kOne;
  const int64_t sub = phase % step;  // the points lie this far past the wide row's
  const int64_t first = phase - sub - cellMargin_ * kOne;
  const auto wide = static_cast<int32_t>((stripWidth_ + 2 * cellMargin_ + 1) * (kOne / step));
  // The row's point i lies between the wide row's i + shift and the one after, `weight` / 256 of
  // the way.
  int64_t shift = (x - sub - home - first) / step;
  auto weight = static_cast<int32_t>((sub * 256 + step / 2) / step);
  if (weight == 256) {
    ++shift;
    weight = 0;
  }

  std::vector<int16_t>& row = cache.cellRow_;
  row.resize(static_cast<size_t>(wide));
  CellRows& store = *cellRows_;
  // A framelet with every neighbour there, its row on its own columns: the row at the cell's
  // place (the row lies on a cell of its framelet), where one is held there for this step.
  const int64_t place = c.yf - rowAt_[f];
  const size_t at = static_cast<size_t>(FloorDiv(place, Cell()) - CellRows::kFirstCell);
  const bool byPlace = phase == sub && c.rowFramelet >= reach_ && c.rowFramelet + reach_ < fc &&
                       at < CellRows::kPlaces;
  CellRows::Row* held = nullptr;
  if (byPlace) {
    held = store.byPlace[at].load(std::memory_order_acquire);
    if (held != nullptr && held->key[2] != step) held = nullptr;
  }
  uint64_t hash = 0;
  size_t slot = 0;
  std::vector<int64_t>& key = cache.key_;
  if (held == nullptr) {
    key.clear();
    key.push_back(place);
    key.push_back(phase - sub);
    key.push_back(step);
    for (int64_t d = -reach_; d <= reach_; ++d) {
      const int64_t k = c.rowFramelet + d;
      key.push_back(k >= 0 && k < fc ? d : INT64_MIN);  // the steps between framelets never change
    }
    // FNV-1a over the key's words, its high bits then mixed into the low ones that pick a slot
    // (the key's words are mostly multiples of a cell).
    hash = 1469598103934665603ull;
    for (const int64_t v : key) hash = (hash ^ static_cast<uint64_t>(v)) * 1099511628211ull;
    hash ^= hash >> 29;
    hash *= 0xbf58476d1ce4e5b9ull;
    hash ^= hash >> 32;
    held = store.Find(hash, key, slot);
    if (held != nullptr && byPlace) store.byPlace[at].store(held, std::memory_order_release);
  }
  if (held == nullptr) {
    // Read for the first time, and kept compiled for the rows that come back (by every core),
    // up to a limit: with its reads only where the program leaves points to them. A row kept is
    // run as compiled at once (its reads are all it needs to be recorded for).
    std::vector<RowCache::Entry>& reads = cache.cellReads_;
    reads.resize(static_cast<size_t>(wide));
    const bool keep = store.kept.load(std::memory_order_relaxed) < CellRows::kRows &&
                      store.kept.fetch_add(1, std::memory_order_relaxed) < CellRows::kRows;
    SampleCorrectedRow(c, home + first, step, wide, row.data(), reads.data(), !keep);
    if (keep) {
      auto kept = std::make_unique<CellRows::Row>();
      kept->hash = hash;
      kept->key = key;
      kept->program.Compile(reads.data(), wide, c.rowStep, wsrc_);
      kept->complete = kept->program.Complete() &&
                       std::none_of(reads.begin(), reads.end(),
                                    [](const RowCache::Entry& e) { return e.state == kPoint; });
      RunCompiledRow(c, kept->program, reads.data(), home + first, step, wide, row.data());
      if (!kept->complete) kept->entries = reads;
      store.Add(std::move(kept), slot);
    }
  } else {
    RunCompiledRow(c, held->program, held->complete ? nullptr : held->entries.data(), home + first,
                   step, wide, row.data());
  }
  // Points before and beyond the wide row have no data.
  const auto clampTo = [count](int64_t i) {
    return static_cast<int32_t>(std::clamp<int64_t>(i, 0, count));
  };
  if (weight == 0) {
    const int32_t lead = clampTo(-shift), tail = std::max(lead, clampTo(wide - shift));
    std::fill(out, out + lead, int16_t{-1});
    std::copy(row.data() + lead + shift, row.data() + tail + shift, out + lead);
    std::fill(out + tail, out + count, int16_t{-1});
    return;
  }
  // Otherwise each point is blended between its two neighbours of the wide row: points with both
  // before the wide row, with one there, with both in it, with one beyond it and with both
  // beyond it.
  const int32_t before = clampTo(-shift - 1), lead = clampTo(-shift);
  const int32_t tail = std::max(lead, clampTo(wide - 1 - shift));
  const int32_t beyond = std::max(tail, clampTo(wide - shift));
  std::fill(out, out + before, int16_t{-1});
  if (lead > before) {
    const int16_t none = -1;
    BlendPairs(&none, row.data(), weight, 1, out + before);
  }
  const int16_t* left = row.data() + lead + shift;
  BlendPairs(left, left + 1, weight, tail - lead, out + lead);
  if (beyond > tail) {
    const int16_t none = -1;
    BlendPairs(row.data() + wide - 1, &none, weight, 1, out + tail);
  }
  std::fill(out + beyond, out + count, int16_t{-1});
}

void BandSampler::SampleCorrectedRow(const RowContext& c, int64_t x, int64_t step, int32_t count,
                                     int16_t* out, RowCache::Entry* record, bool blend) const {
  // What SamplePoint works out for each point, with what depends on the framelet alone worked
  // out once per row for the framelets around the stack's: each one's map row, where its strip
  // begins and where its band lies in the product.
  const int32_t fc = product_.FrameletCount, fh = product_.FrameletHeight, h = strip_.H;
  const int64_t lines = product_.Rows.Lines();
  const int32_t colLo = firstColumn_ * 256, colHi = lastColumn_ * 256, rowHi = (h - 1) * 256;
  const int64_t maxStrip = int64_t{stripWidth_ - 1} * kOne;
  struct Near {
    int64_t q = -1;                 // its map row; -1: the row is beyond the framelet's maps
    const MapEntry* map = nullptr;  // that map row, worked out when a point first reads it
    const uint8_t* band = nullptr;  // null: the framelet's band is beyond the product
    int64_t base = 0;               // where its strip begins, 1/65536 columns
  };
  const auto mapOf = [this](Near& n) {
    if (n.map == nullptr && n.q >= 0) n.map = MapRow(n.q);
    return n.map;
  };
  std::array<Near, 2 * kReach + 1> near{};
  const int64_t f0 = c.rowFramelet;
  // Points beyond every strip around (by half a column) have no source: with a horizontal
  // travel, the stack's sides.
  int64_t reachLo = INT64_MAX, reachHi = INT64_MIN;
  for (int64_t d = -reach_; d <= reach_; ++d) {
    const int64_t k = f0 + d;
    if (k < 0 || k >= fc) continue;
    Near& n = near[static_cast<size_t>(d + kReach)];
    n.base = c.start + colAt_[static_cast<size_t>(k)];
    reachLo = std::min(reachLo, n.base - kOne / 2);
    reachHi = std::max(reachHi, n.base + maxStrip + kOne / 2);
    const int64_t q =
        (((c.yf - rowAt_[static_cast<size_t>(k)]) * kRowSteps + kOne / 2) >> 16) - firstMap_;
    if (q >= 0 && q < mapCount_) n.q = q;
    const int64_t top = k * fh + c.topInFramelet;
    if (top < lines && top + (h - 1) * (request_.Invert ? -1 : 1) < lines) {
      n.band = product_.Rows.Row(static_cast<int32_t>(top));
    }
  }
  // A row beyond the maps of every framelet around (above the product's first framelet, below
  // its last one) has no data: no point of it reads a source, one at a time or otherwise.
  if (std::all_of(near.begin(), near.end(), [](const Near& n) { return n.q < 0; })) {
    std::fill(out, out + count, int16_t{-1});
    if (record != nullptr) std::fill(record, record + count, CachedRead{0, 0, 0, 0, kNoData});
    return;
  }
  const Near& home = near[kReach];
  // The framelet whose band holds a point's source, as SamplePoint finds it: the last one that
  // begins at or above the row less the drop, walked to from `from` (a row's points change
  // framelets a few times).
  const auto frameletOf = [&](int64_t xi, int64_t from) {
    int64_t f = from;
    const int64_t a = std::clamp<int64_t>((xi - home.base) >> 16, 0, stripWidth_);
    const int64_t y = c.yf - drop_[static_cast<size_t>(a)];
    while (f > 0 && y < rowAt_[static_cast<size_t>(f)]) --f;
    while (f < fc - 1 && y >= rowAt_[static_cast<size_t>(f) + 1]) ++f;
    return f;
  };
  // Point i (at xi) of framelet f.
  const auto point = [&](int32_t i, int64_t xi, int64_t f) {
    if (f - 1 < f0 - reach_ || f + 1 > f0 + reach_) {
      out[i] = SamplePoint(c, xi);
      if (record != nullptr) record[i] = {0, 0, 0, 0, kPoint};
      return;
    }
    {
      // Most points: that framelet's source lies inside its band, away from the band's last row
      // and column, and is blended without further checks.
      Near& n = near[static_cast<size_t>(f - f0 + kReach)];
      const int64_t xp = xi - n.base;
      const MapEntry* map = n.band != nullptr && xp >= 0 && xp < maxStrip ? mapOf(n) : nullptr;
      if (map != nullptr) {
        const auto a = static_cast<size_t>(xp >> 16);
        const int64_t t = xp & (kOne - 1);
        const MapEntry e0 = map[a], e1 = map[a + 1];
        if (e0.col != kNone && e1.col != kNone) {
          const auto r = static_cast<int32_t>(e0.row + (((int64_t{e1.row} - e0.row) * t) >> 16));
          const auto q = static_cast<int32_t>(e0.col + (((int64_t{e1.col} - e0.col) * t) >> 16));
          if (r >= 0 && r < rowHi && q >= colLo && q < colHi) {
            const int32_t c0 = q >> 8, fx = q & 255, fy = r & 255;
            const uint8_t* s0 = n.band + (r >> 8) * c.rowStep;
            if (record != nullptr) {
              // The caller blends the reads (as the row's compiled program will).
              record[i] = {static_cast<int32_t>(s0 + c0 - home.band), static_cast<uint8_t>(fx),
                           static_cast<uint8_t>(fy), 1, kValue};
              return;
            }
            const uint8_t* s1 = s0 + c.rowStep;
            const int32_t upper = s0[c0] * (256 - fx) + s0[c0 + 1] * fx;
            const int32_t lower = s1[c0] * (256 - fx) + s1[c0 + 1] * fx;
            out[i] = static_cast<int16_t>((upper * (256 - fy) + lower * fy + 2048) >> 12);
            return;
          }
        }
      }
    }
    int32_t col = 0, row = 0;
    const Near* from = nullptr;
    for (const int64_t k : {f, f + 1, f - 1}) {
      if (k < 0 || k >= fc) continue;
      Near& n = near[static_cast<size_t>(k - f0 + kReach)];
      if (mapOf(n) == nullptr) continue;
      const int64_t xp = xi - n.base;
      if (xp < -kOne / 2 || xp > maxStrip + kOne / 2) continue;
      const int64_t xs = std::clamp<int64_t>(xp, 0, maxStrip);
      const auto a = static_cast<size_t>(xs >> 16);
      const int64_t t = xs & (kOne - 1);
      const MapEntry e0 = n.map[a], e1 = n.map[a + 1];
      if (e0.col == kNone || e1.col == kNone) continue;
      const auto r = static_cast<int32_t>(e0.row + (((int64_t{e1.row} - e0.row) * t) >> 16));
      if (r < -128 || r > rowHi + 128) continue;
      col = static_cast<int32_t>(e0.col + (((int64_t{e1.col} - e0.col) * t) >> 16));
      row = r;
      from = &n;
      break;
    }
    if (from == nullptr || from->band == nullptr || col < colLo - 128 || col > colHi + 128) {
      out[i] = -1;
      if (record != nullptr) record[i] = {0, 0, 0, 0, kNoData};
      return;
    }
    col = std::clamp(col, colLo, colHi);
    row = std::clamp(row, 0, rowHi);
    const int32_t c0 = col >> 8, fx = col & 255, r0 = row >> 8, fy = row & 255;
    const int32_t c1 = std::min(c0 + 1, lastColumn_);
    const uint8_t* s0 = from->band + r0 * c.rowStep;
    const uint8_t* s1 = r0 + 1 <= h - 1 ? s0 + c.rowStep : s0;
    const int32_t upper = s0[c0] * (256 - fx) + s0[c1] * fx;
    const int32_t lower = s1[c0] * (256 - fx) + s1[c1] * fx;
    out[i] = static_cast<int16_t>((upper * (256 - fy) + lower * fy + 2048) >> 12);
    if (record != nullptr) {
      record[i] = {static_cast<int32_t>(s0 + c0 - home.band), static_cast<uint8_t>(fx),
                   static_cast<uint8_t>(fy), static_cast<uint8_t>(c1 - c0), kValue};
    }
  };
  if (record == nullptr) {
    int64_t f = f0;
    for (int32_t i = 0; i < count; ++i) {
      const int64_t xi = x + step * i;
      if (xi < reachLo || xi > reachHi) {
        out[i] = -1;
        continue;
      }
      f = frameletOf(xi, f);
      point(i, xi, f);
    }
    return;
  }
  // Recording: a run of points at a time that read one framelet, its common case (the source
  // inside the band, away from its last row and column) in a loop of its own; each point's value
  // is the blend of its reads (as BlendCachedRow gives it).
  const std::ptrdiff_t before = home.band - product_.Rows.Row(0);
  const std::ptrdiff_t readable =
      product_.Rows.Row(0) + int64_t{product_.Rows.Lines()} * wsrc_ - home.band;
  const auto pointBlended = [&](int32_t k, int64_t xk, int64_t fk) {
    point(k, xk, fk);
    BlendCachedPoints(home.band, c.rowStep, record, k, k + 1, out);
  };
  int64_t f = f0;
  for (int32_t i = 0; i < count;) {
    const int64_t xi = x + step * i;
    if (xi < reachLo || xi > reachHi) {
      // No data up to reachLo, or beyond reachHi to the row's end.
      int32_t stop = i + 1;
      if (step > 0) {
        stop = xi > reachHi ? count
                            : static_cast<int32_t>(
                                  std::min<int64_t>(count, i + (reachLo - xi + step - 1) / step));
      }
      std::fill(out + i, out + stop, int16_t{-1});
      std::fill(record + i, record + stop, CachedRead{0, 0, 0, 0, kNoData});
      i = stop;
      continue;
    }
    f = frameletOf(xi, f);
    // The run: while the drop keeps the points in framelet f.
    const int64_t top = rowAt_[static_cast<size_t>(f)];
    const int64_t next = f + 1 < fc ? rowAt_[static_cast<size_t>(f) + 1] : INT64_MAX;
    int32_t end = i + 1;
    bool ended = false;
    const int64_t a0 = (xi - home.base) >> 16;
    if (step == kOne && !drop32_.empty() && a0 < stripWidth_) {
      // A column a point: the drops of the columns that follow, eight at a time, while they keep
      // the points in framelet f (lo < drop <= hi), up to the last point some strip reaches and
      // the strip's last column (beyond it, its drop stands for every point, as the walk takes
      // it). Before its first column, the first column's drop stands for every point.
      const auto bound = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
      };
      // (After the last framelet, every drop keeps the points in it.)
      const int32_t lo = next == INT64_MAX ? INT32_MIN : bound(c.yf - next);
      const int32_t hi = f > 0 ? bound(c.yf - top) : INT32_MAX;
      const int64_t reachable = (reachHi - x) / kOne + 1;  // the points at or before reachHi
      const auto last = static_cast<int32_t>(
          std::min<int64_t>({int64_t{count}, reachable, i + (stripWidth_ - a0) + 1}));
      int64_t e = i + 1;
      if (a0 + 1 < 0) {
        const int32_t d = drop32_[0];
        if (d > lo && d <= hi) {
          e = std::min<int64_t>(last, i - a0);  // point i - a0 reads column 0
        } else {
          ended = true;
        }
      }
      if (!ended) {
        const auto from = static_cast<size_t>(a0 + (e - i));
        e += LeadingInside(drop32_.data() + from, static_cast<int32_t>(last - e), lo, hi);
        ended = e < last || last == count || last == reachable;
      }
      end = static_cast<int32_t>(e);
    }
    for (; !ended && end < count; ++end) {
      const int64_t xe = x + step * end;
      if (xe > reachHi) break;
      const int64_t a = std::clamp<int64_t>((xe - home.base) >> 16, 0, stripWidth_);
      const int64_t y = c.yf - drop_[static_cast<size_t>(a)];
      if ((y < top && f > 0) || y >= next) break;
    }
    Near& n = near[static_cast<size_t>(std::clamp<int64_t>(f - f0, -kReach, kReach) + kReach)];
    const MapEntry* map =
        f - 1 >= f0 - reach_ && f + 1 <= f0 + reach_ && n.band != nullptr ? mapOf(n) : nullptr;
    if (map == nullptr) {
      for (int32_t k = i; k < end; ++k) pointBlended(k, x + step * k, f);
      i = end;
      continue;
    }
    const std::ptrdiff_t from = n.band - home.band;
    if (step == kOne) {
      // A column a point: the map's entries in a row, eight points at a time, blended at once.
      const auto* entries = reinterpret_cast<const int32_t*>(map);
      MappedRunRead to;
      to.RowHi = rowHi;
      to.ColLo = colLo;
      to.ColHi = colHi;
      to.From = static_cast<int32_t>(from);
      to.Down = static_cast<int32_t>(c.rowStep);
      to.Band = home.band;
      to.Before = before;
      to.Readable = readable;
      to.Blend = blend;
      for (int32_t k = i; k < end;) {
        k += RecordMappedRun(entries, x + step * k - n.base, maxStrip, end - k, to, record + k,
                             out + k);
        if (k < end) {
          pointBlended(k, x + step * k, f);
          ++k;
        }
      }
      i = end;
      continue;
    }
    for (int32_t k = i; k < end; ++k) {
      const int64_t xk = x + step * k, xp = xk - n.base;
      if (xp >= 0 && xp < maxStrip) {
        const auto a = static_cast<size_t>(xp >> 16);
        const int64_t t = xp & (kOne - 1);
        const MapEntry e0 = map[a], e1 = map[a + 1];
        if (e0.col != kNone && e1.col != kNone) {
          const auto r = static_cast<int32_t>(e0.row + (((int64_t{e1.row} - e0.row) * t) >> 16));
          const auto q = static_cast<int32_t>(e0.col + (((int64_t{e1.col} - e0.col) * t) >> 16));
          if (r >= 0 && r < rowHi && q >= colLo && q < colHi) {
            record[k] = {static_cast<int32_t>(from + (r >> 8) * c.rowStep + (q >> 8)),
                         static_cast<uint8_t>(q & 255), static_cast<uint8_t>(r & 255), 1, kValue};
            continue;
          }
        }
      }
      point(k, xk, f);
    }
    BlendCachedRow(home.band, c.rowStep, before, readable, record + i, end - i, out + i);
    i = end;
  }
}

}  // namespace quelmar
