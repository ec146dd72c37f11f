#include "assembly/Distortion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "util/Errors.h"

namespace quelmar {

namespace {

// Detector radii examined before a table that has not filled is given up as unusable. Settings
// in any sensible unit fill the table (2000 corrected radii) within a few thousand radii: the
// defaults need 555; only absurd coefficients with a tiny pitch get this far.
constexpr int32_t kMaxDetectorRadii = int32_t{1} << 20;
// Map entries kept for the lines of a corrected strip (32 MB); further lines are built per row.
constexpr int64_t kMaxCachedEntries = int64_t{1} << 22;
// Ground pixels from the optical centre a strip may reach: a thousand times a detector's width.
constexpr double kMaxGroundRadius = 1 << 20;

// A setting's value as the file would write it (shortest text of the double it was read as).
std::string SettingText(Real value) {
  char buf[64];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, static_cast<double>(value), std::chars_format::general);
  return std::string(buf, r.ptr);
}

std::string SeeFile(const std::string& settingsPath) {
  return " (see " + (settingsPath.empty() ? std::string(kSettingsFileName) : settingsPath) + ")";
}

[[noreturn]] void ThrowDoesNotFit(const char* what) {
  throw RangeError(std::string("Distortion correction: ") + what +
                   " does not fit in a 32-bit integer; check the camera settings");
}

inline int32_t RoundOrThrow(Real x, const char* what) {
  int32_t r;
  if (!RoundFitsInt32(x, r)) ThrowDoesNotFit(what);
  return r;
}

// Round(sqrt(n)) for 0 <= n < 2^51, in integers. The square root of such an integer never lies
// halfway between two integers, nor within 2^-29 of such a point, far more than the error of an
// extended square root (below 2^-38): both give the integer k with k^2 - k < n <= k^2 + k.
int64_t RoundedSquareRoot(int64_t n) {
  auto k = static_cast<int64_t>(std::sqrt(static_cast<double>(n)) + 0.5);
  while (k * k + k < n) ++k;
  while (k > 0 && k * k - k >= n) --k;
  return k;
}

constexpr int64_t kIntegerRadiusLimit = int64_t{1} << 25;  // |dx|, |dy| below it: n < 2^51

}  // namespace

int32_t CorrectedRadius(int32_t r, Real k1, Real k2, Real pitch) {
  const Real x = static_cast<Real>(r) * pitch;
  const Real y = x * x * (x * k2 + k1) + static_cast<Real>(1.0);
  if (!(y > 0)) return kMaxCorrectedRadius;
  const Real c = Round(static_cast<Real>(r) / y);
  if (!(c < kMaxCorrectedRadius)) return kMaxCorrectedRadius;
  return static_cast<int32_t>(RoundToInt64(c));
}

RadialTable BuildRadialTable(Real radiusLimit, Real k1, Real k2, Real pitch) {
  RadialTable t;
  t.DetectorRadii = RoundOrThrow(radiusLimit / pitch, "the radius limit in pixels");
  t.Entries.reserve(kMaxCorrectedRadius + 1);
  t.Entries.assign(1, 0);
  int32_t i = 0;
  int32_t previous = 0;
  for (int32_t d = 1; d < t.DetectorRadii; ++d) {
    if (d > kMaxDetectorRadii) {
      t.State = RadialTable::Status::TooLong;
      return t;
    }
    const int32_t c = CorrectedRadius(d, k1, k2, pitch);
    if (c < previous) {
      t.State = RadialTable::Status::Shrinks;
      t.ShrinkRadius = d;
      return t;
    }
    previous = c;
    if (c > i) {
      // Every corrected radius from the last one written up to c takes the factor of c.
      const Real f = static_cast<Real>(d) / static_cast<Real>(c) - 1;
      while (i < c) {
        ++i;
        t.Entries.push_back(f);
      }
    }
    if (i >= kMaxCorrectedRadius) break;  // the table is full; later radii add nothing
  }
  if (t.Entries.size() < 2) t.State = RadialTable::Status::Empty;
  return t;
}

std::optional<std::string> CorrectionSettingsProblem(const CorrectionConstants& c,
                                                     const std::string& settingsPath) {
  const std::string head = "Distortion correction not possible: ";
  if (!(c.Spacing > 0) || !std::isfinite(c.Spacing) || !std::isfinite(c.Pitch)) {
    return head + "CCD_pixel_spacing = " + SettingText(c.Spacing) +
           " must be a finite number above 0" + SeeFile(settingsPath);
  }
  const struct {
    const char* key;
    Real value;
  } values[] = {{c.K1Key, c.K1}, {c.K2Key, c.K2}, {c.OffsetKey, c.Offset}};
  for (const auto& v : values) {
    if (!std::isfinite(v.value)) {
      return head + v.key + " = " + SettingText(v.value) + " must be a finite number" +
             SeeFile(settingsPath);
    }
  }
  if (!std::isfinite(c.OffsetPixels)) {
    return head + c.OffsetKey + " = " + SettingText(c.Offset) +
           " and CCD_pixel_spacing = " + SettingText(c.Spacing) +
           " give no usable band offset in pixels" + SeeFile(settingsPath);
  }
  return std::nullopt;
}

std::optional<std::string> GroundReachProblem(double farthest, const CorrectionConstants& c,
                                              const std::string& settingsPath) {
  if (farthest <= kMaxGroundRadius) return std::nullopt;
  return "Distortion correction not possible: " + std::string(c.OffsetKey) + " = " +
         SettingText(c.Offset) + " with CCD_pixel_spacing = " + SettingText(c.Spacing) +
         " puts the band over " + FormatInt(static_cast<int64_t>(kMaxGroundRadius)) +
         " pixels from the optical centre" + SeeFile(settingsPath);
}

std::optional<std::string> RadialTableProblem(const RadialTable& table,
                                              const CorrectionConstants& c,
                                              const std::string& settingsPath) {
  const std::string head = "Distortion correction not possible: ";
  const std::string coefficients = c.K1Key + std::string(" = ") + SettingText(c.K1) + " and " +
                                   c.K2Key + " = " + SettingText(c.K2) +
                                   " (with CCD_pixel_spacing = " + SettingText(c.Spacing) + ")";
  switch (table.State) {
    case RadialTable::Status::Usable:
      return std::nullopt;
    case RadialTable::Status::Shrinks:
      return head + coefficients +
             " make the corrected radius shrink as the detector radius grows (from detector "
             "radius " +
             std::to_string(table.ShrinkRadius) + " pixels on)" + SeeFile(settingsPath);
    case RadialTable::Status::Empty:
      if (table.DetectorRadii <= 1) {
        return head + "CCD_pixel_spacing = " + SettingText(c.Spacing) +
               " is too large: the radius limit of 5 spans less than 2 pixels" +
               SeeFile(settingsPath);
      }
      return head + coefficients + " give no corrected radius above 0" + SeeFile(settingsPath);
    case RadialTable::Status::TooLong:
      return head + coefficients + " do not fill the correction table within " +
             std::to_string(kMaxDetectorRadii) + " pixels of the optical centre" +
             SeeFile(settingsPath);
  }
  return std::nullopt;
}

DistortionGeometry::DistortionGeometry(std::vector<Real> table, const CorrectionConstants& c,
                                       int32_t bandHeight, int32_t sourceWidth)
    : table_(std::move(table)),
      offsetPixels_(c.OffsetPixels),
      h_(bandHeight),
      srcC_(sourceWidth / 2),
      outC_(sourceWidth / 2),
      width_(c.Ultraviolet ? 128 : sourceWidth) {}

int32_t DistortionGeometry::DeltaY(int32_t b) const {
  return RoundOrThrow(static_cast<Real>(h_) / 2 + offsetPixels_ - b,
                      "the vertical distance from the optical centre");
}

SourceDisplacement DistortionGeometry::SourceOffset(int32_t a, int32_t b) const {
  return Displacement(static_cast<int64_t>(a) - outC_, DeltaY(b));
}

SourceDisplacement DistortionGeometry::Displacement(int64_t deltaX, int32_t deltaY) const {
  const Real dx = static_cast<Real>(deltaX);
  const Real dy = static_cast<Real>(deltaY);
  SourceDisplacement out;
  size_t rho;
  if (deltaX > -kIntegerRadiusLimit && deltaX < kIntegerRadiusLimit &&
      deltaY > -kIntegerRadiusLimit && deltaY < kIntegerRadiusLimit) {
    const int64_t rounded = RoundedSquareRoot(deltaX * deltaX + int64_t{deltaY} * deltaY);
    if (rounded >= static_cast<int64_t>(table_.size())) return out;
    rho = static_cast<size_t>(rounded);
  } else {
    const Real r = Round(std::sqrt(dx * dx + dy * dy));
    if (!(r < static_cast<Real>(table_.size()))) return out;
    rho = static_cast<size_t>(RoundToInt64(r));
  }
  const Real f = table_[rho];
  out.HasSource = true;
  out.Dx = RoundOrThrow(dx * f, "a horizontal displacement");
  out.Dy = RoundOrThrow(dy * f, "a vertical displacement");
  return out;
}

void DistortionGeometry::SearchWidth() {
  const int32_t w0 = width_;
  while (width_ < int64_t{2} * w0) {
    const SourceDisplacement o = SourceOffset(width_, 0);
    if (!o.HasSource) break;
    if (int64_t{2} * o.Dx + width_ > w0) break;
    ++width_;
    outC_ = width_ / 2;
  }
  outC_ = width_ / 2;
}

void DistortionGeometry::CheckRange(int32_t firstRow, int32_t lastRow) const {
  Real largestFactor = 0;
  for (const Real f : table_) largestFactor = std::max(largestFactor, std::fabs(f));
  const int64_t farthestColumn = std::max<int64_t>(outC_, int64_t{width_} - 1 - outC_);
  int64_t farthestRow = 0;
  for (const int32_t b : {firstRow, lastRow}) {
    const int32_t deltaY = RoundOrThrow(static_cast<Real>(h_) / 2 + offsetPixels_ - b,
                                        "the vertical distance from the optical centre");
    farthestRow = std::max<int64_t>(farthestRow, std::abs(int64_t{deltaY}));
  }
  RoundOrThrow(static_cast<Real>(farthestColumn) * largestFactor, "a horizontal displacement");
  RoundOrThrow(static_cast<Real>(farthestRow) * largestFactor, "a vertical displacement");
}

CorrectedRowMap::CorrectedRowMap(const DistortionGeometry& geometry, const BandStrip& strip,
                                 int32_t sourceWidth, bool invert, bool correctVertically,
                                 int32_t shift, int32_t lines)
    : geometry_(geometry),
      strip_(strip),
      sourceWidth_(sourceWidth),
      invert_(invert),
      vertical_(correctVertically),
      shift_(shift),
      width_(geometry.Width()),
      lines_(std::max(lines, 0)),
      cachedLines_(0) {
  if (lines_ == 0) return;
  // Band rows the lines stand for: 1..lines, or H..H-lines+1 turned over.
  const int32_t first = invert_ ? strip_.H - lines_ + 1 : 1;
  const int32_t last = invert_ ? strip_.H : lines_;
  geometry_.CheckRange(first, last);
  const int64_t perLine = std::max<int64_t>(width_, 1);
  cachedLines_ = static_cast<int32_t>(
      std::min<int64_t>(lines_, std::max<int64_t>(1, kMaxCachedEntries / perLine)));
  cache_.resize(static_cast<size_t>(cachedLines_) * static_cast<size_t>(width_));
  for (int32_t L = 1; L <= cachedLines_; ++L) {
    BuildLine(L, cache_.data() + static_cast<size_t>(L - 1) * static_cast<size_t>(width_));
  }
  if (cachedLines_ < lines_) scratch_.resize(static_cast<size_t>(width_));
}

const int64_t* CorrectedRowMap::Line(int32_t L) {
  if (L < 1 || L > lines_) throw RangeError("Corrected line " + std::to_string(L) + " unknown");
  if (L <= cachedLines_) {
    return cache_.data() + static_cast<size_t>(L - 1) * static_cast<size_t>(width_);
  }
  BuildLine(L, scratch_.data());
  return scratch_.data();
}

void CorrectedRowMap::BuildLine(int32_t L, int64_t* out) const {
  const int32_t b = invert_ ? strip_.H - L + 1 : L;
  const int64_t outC = geometry_.OutputCentre();
  const int64_t srcC = geometry_.SourceCentre();
  const int32_t deltaY = geometry_.DeltaY(b);
  for (int32_t i = 0; i < width_; ++i) {
    const SourceDisplacement o = geometry_.Displacement(i - outC, deltaY);
    const int64_t column = i - outC + o.Dx + srcC;
    const int64_t bandRow = vertical_ ? int64_t{b} - (int64_t{o.Dy} - shift_) : int64_t{b};
    if (!o.HasSource || bandRow < 1 || bandRow > strip_.H || column < 0 || column >= sourceWidth_) {
      out[i] = -1;
    } else {
      out[i] = (int64_t{strip_.T} + bandRow - 1) * sourceWidth_ + column;
    }
  }
}

}  // namespace quelmar
