#include "assembly/BandSampler.h"

#include <algorithm>
#include <cmath>

#include "assembly/Distortion.h"
#include "util/Errors.h"

namespace quelmar {

namespace {

constexpr int32_t kUvColumns = 128;  // samples of a binned ultraviolet band in a product row

// The filter position of a wavelength, without the messages of a corrected stack (an unknown
// wavelength takes position 5, as the correction does).
int32_t FilterOf(const CameraSettings& settings, const std::string& wavelength) {
  for (int32_t k = 0; k < kFilterCount; ++k) {
    if (settings.FilterIds[static_cast<size_t>(k)] == wavelength) return k + 1;
  }
  return kFallbackFilter;
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

  int32_t extra = 0;
  if (!RoundFitsInt32(std::fabs(ht) * static_cast<Real>(fc), extra)) {
    throw RangeError("The extra width for a horizontal travel of " + FormatG3(ht) +
                     " does not fit in a 32-bit integer");
  }
  start_ = ht < 0 ? static_cast<Real>(extra) : 0;
  stackWidth_ = CheckedAdd(stripWidth_, extra);
  stackHeight_ = CheckedAdd(RoundToInt32(static_cast<Real>(fc - 1) * vt), strip_.H);

  placement_.Scale = Ultraviolet() ? 4 : 1;
  placement_.CentreX = centreX + start_;
  placement_.CentreY = static_cast<Real>(strip_.H) / 2 + constants.OffsetPixels - 1;
}

void BandSampler::BuildMaps(const CorrectionConstants& constants, std::vector<Real> table) {
  DistortionGeometry geometry(table, constants, strip_.H, wsrc_);
  geometry.SearchWidth();
  stripWidth_ = geometry.Width();
  const Real outC = geometry.OutputCentre(), srcC = geometry.SourceCentre();
  const Real half = static_cast<Real>(strip_.H) / 2;
  const auto last = static_cast<Real>(table.size() - 1);
  const int32_t maps = (strip_.H - 1) * kRowSteps + 1;
  const auto entries = static_cast<size_t>(stripWidth_) + 1;
  maps_.assign(static_cast<size_t>(maps) * entries, MapEntry{kNone, 0});
  for (int32_t q = 0; q < maps; ++q) {
    const Real b = static_cast<Real>(q) / kRowSteps;  // 0-based band row
    const Real deltaY = half + constants.OffsetPixels - (b + 1);
    MapEntry* out = maps_.data() + static_cast<size_t>(q) * entries;
    for (size_t a = 0; a < entries; ++a) {
      const Real deltaX = static_cast<Real>(a) - outC;
      const Real rho = std::sqrt(deltaX * deltaX + deltaY * deltaY);
      if (!(rho <= last)) continue;
      const auto i = static_cast<size_t>(rho);
      const Real t = rho - static_cast<Real>(i);
      const Real f = i + 1 < table.size() ? table[i] + (table[i + 1] - table[i]) * t : table[i];
      const Real col = srcC + deltaX * (1 + f);
      const Real row =
          request_.CorrectVertically ? b - deltaY * f + static_cast<Real>(request_.Shift) : b;
      int32_t c = 0, r = 0;
      if (!RoundFitsInt32(col * 256, c) || !RoundFitsInt32(row * 256, r)) continue;
      out[a] = MapEntry{c, r};
    }
  }
}

void BandSampler::SampleRow(Real y, Real x0, Real dx, int32_t count, int16_t* out) const {
  std::fill(out, out + count, int16_t{-1});
  const int32_t fc = product_.FrameletCount, h = strip_.H;
  const Real vt = request_.VerticalTravel;
  // The framelet whose strip holds the row: the one a stack would take it from, or the next one
  // when the row lies in a gap between strips (travel above the band's height) but within half a
  // row of the next strip.
  Real fr = std::floor(y / vt);
  if (!(fr >= 0)) fr = 0;
  if (fr > fc - 1) fr = static_cast<Real>(fc - 1);
  auto f = static_cast<int32_t>(fr);
  Real b = y - fr * vt;
  if (b > h - static_cast<Real>(0.5) && f < fc - 1 && y - (fr + 1) * vt >= -0.5L) {
    ++f;
    b = y - (fr + 1) * vt;
  }
  if (!(b >= -0.5L && b <= h - static_cast<Real>(0.5))) return;
  b = std::clamp(b, static_cast<Real>(0), static_cast<Real>(h - 1));

  const int64_t firstRow = int64_t{f} * product_.FrameletHeight;
  const int64_t topRow = firstRow + (request_.Invert ? strip_.B - 1 : strip_.T);
  const int64_t bottomRow = firstRow + (request_.Invert ? strip_.T : strip_.B - 1);
  if (std::max(topRow, bottomRow) >= product_.Rows.Lines()) return;
  const uint8_t* top = product_.Rows.Row(static_cast<int32_t>(topRow));
  const std::ptrdiff_t rowStep = request_.Invert ? -std::ptrdiff_t{wsrc_} : wsrc_;

  const Real p = start_ + static_cast<Real>(f) * request_.HorizontalTravel;
  int64_t x = Fixed16(x0 - p);  // position in the output strip, 1/65536 pixels
  const int64_t step = Fixed16(dx);
  const int64_t maxStrip = int64_t{stripWidth_ - 1} << 16;
  const int32_t colLo = firstColumn_ * 256, colHi = lastColumn_ * 256;
  const int32_t rowHi = (h - 1) * 256;
  const MapEntry* map = nullptr;
  int32_t rowFixed = 0;
  if (corrected_) {
    const auto q = static_cast<size_t>(RoundToInt64(b * kRowSteps));
    map = maps_.data() + q * (static_cast<size_t>(stripWidth_) + 1);
  } else {
    rowFixed = RoundToInt32(b * 256);
  }
  for (int32_t i = 0; i < count; ++i, x += step) {
    if (x < -32768 || x > maxStrip + 32768) continue;
    const int64_t xs = std::clamp<int64_t>(x, 0, maxStrip);
    int32_t col = 0, row = rowFixed;
    if (map != nullptr) {
      const auto a = static_cast<size_t>(xs >> 16);
      const int64_t t = xs & 0xFFFF;
      const MapEntry e0 = map[a], e1 = map[a + 1];
      if (e0.col == kNone || e1.col == kNone) continue;
      col = static_cast<int32_t>(e0.col + (((e1.col - e0.col) * t) >> 16));
      row = static_cast<int32_t>(e0.row + (((e1.row - e0.row) * t) >> 16));
    } else {
      col = static_cast<int32_t>(xs >> 8);
    }
    if (col < colLo - 128 || col > colHi + 128 || row < -128 || row > rowHi + 128) continue;
    col = std::clamp(col, colLo, colHi);
    row = std::clamp(row, 0, rowHi);
    const int32_t c0 = col >> 8, fx = col & 255, r0 = row >> 8, fy = row & 255;
    const int32_t c1 = std::min(c0 + 1, lastColumn_);
    const uint8_t* s0 = top + r0 * rowStep;
    const uint8_t* s1 = r0 + 1 <= h - 1 ? s0 + rowStep : s0;
    const int32_t upper = s0[c0] * (256 - fx) + s0[c1] * fx;
    const int32_t lower = s1[c0] * (256 - fx) + s1[c1] * fx;
    out[i] = static_cast<int16_t>((upper * (256 - fy) + lower * fy + 2048) >> 12);
  }
}

}  // namespace quelmar
