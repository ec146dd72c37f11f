#pragma once
// Removal of the camera's radial distortion from a stacked band: the radial model, the table of
// correction factors by corrected radius, the source of every output point, the search for the
// output strip's width, and the per-picture map from output pixels to source samples.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "assembly/BandRowBounds.h"
#include "assembly/CameraSettings.h"
#include "util/Numbers.h"

namespace quelmar {

inline constexpr int32_t kMaxCorrectedRadius = 2000;  // the table has at most 2001 entries
inline constexpr Real kRadiusLimit = 5.0;             // in the pitch's length unit

// The corrected radius, in whole pixels and at most 2000, of detector radius r (pixels), for the
// radial model 1 + k1 x^2 + k2 x^3 with x = r * pitch.
int32_t CorrectedRadius(int32_t r, Real k1, Real k2, Real pitch);

struct RadialTable {
  enum class Status {
    Usable,
    Shrinks,  // the corrected radius fell as the detector radius grew
    Empty,    // no detector radius gave a corrected radius above 0
    TooLong,  // a tiny pitch with coefficients that keep the table from filling
  };
  // Entry rho (0..N-1): the factor f that takes an output point at corrected radius rho to its
  // source point at (1 + f) times its offset from the optical centre. Entry 0 is 0.
  std::vector<Real> Entries;
  int32_t DetectorRadii = 0;  // n = Round(R / pitch)
  Status State = Status::Usable;
  int32_t ShrinkRadius = 0;  // the first detector radius whose corrected radius fell
};

// The table for detector radii 1..n-1 with n = Round(radiusLimit / pitch). Stops once the table
// holds all 2001 entries; notes (and stops at) the first fall of the corrected radius before
// that. RangeError when n does not fit in 32 bits. The pitch must be above 0.
RadialTable BuildRadialTable(Real radiusLimit, Real k1, Real k2, Real pitch);

// One clear message line when the settings cannot give a correction (a pitch that is not a
// number above 0; a coefficient or the band's offset that is not finite), or nothing.
std::optional<std::string> CorrectionSettingsProblem(const CorrectionConstants& c,
                                                     const std::string& settingsPath);
// One clear message line when the table shows the settings unusable, or nothing.
std::optional<std::string> RadialTableProblem(const RadialTable& table,
                                              const CorrectionConstants& c,
                                              const std::string& settingsPath);
// One clear message line when a band's strip, laid out on the ground, reaches further from the
// optical centre than any detector could see (`farthest` pixels: a band offset or pitch far out
// of range), or nothing.
std::optional<std::string> GroundReachProblem(double farthest, const CorrectionConstants& c,
                                              const std::string& settingsPath);

struct SourceDisplacement {
  bool HasSource = false;  // false when the corrected radius lies beyond the table
  int32_t Dx = 0;
  int32_t Dy = 0;
};

// The geometry of one corrected stack: the table, the band's height and offset, the centres
// and the output strip width.
class DistortionGeometry {
 public:
  DistortionGeometry(std::vector<Real> table, const CorrectionConstants& c, int32_t bandHeight,
                     int32_t sourceWidth);

  // Displacement from output column a (0-based within the strip) and band row b (1-based from
  // the band's first stored row; 0 is the row above it) to its source point.
  SourceDisplacement SourceOffset(int32_t a, int32_t b) const;
  // The same from the column's offset from the output centre and the row's vertical distance
  // from the optical centre (DeltaY), for callers that walk a whole row.
  SourceDisplacement Displacement(int64_t deltaX, int32_t deltaY) const;
  int32_t DeltaY(int32_t b) const;
  // Widens the strip while the column just right of it still maps inside the starting width
  // (128 for an ultraviolet filter, the source width otherwise), never to twice that width.
  void SearchWidth();

  int32_t Width() const { return width_; }
  int32_t OutputCentre() const { return outC_; }
  int32_t SourceCentre() const { return srcC_; }
  int32_t BandHeight() const { return h_; }
  int32_t TableSize() const { return static_cast<int32_t>(table_.size()); }
  // RangeError unless every displacement for band rows firstRow..lastRow fits in 32 bits, so
  // that no later SourceOffset over the strip can fail.
  void CheckRange(int32_t firstRow, int32_t lastRow) const;

 private:
  std::vector<Real> table_;
  Real offsetPixels_;
  int32_t h_;
  int32_t srcC_;
  int32_t outC_;
  int32_t width_;
};

// For each output line L (1..lines) of a framelet and each strip column: the source sample as
// an offset from the first sample of the framelet's first row (row * source width + column), or
// -1 for the no-data colour. It depends only on the line and the column, never on the framelet,
// so it is built once per picture.
class CorrectedRowMap {
 public:
  CorrectedRowMap(const DistortionGeometry& geometry, const BandStrip& strip, int32_t sourceWidth,
                  bool invert, bool correctVertically, int32_t shift, int32_t lines);

  // The map of line L (1..lines). Lines beyond the cached ones are built into a scratch row,
  // valid until the next call.
  const int64_t* Line(int32_t L);
  int32_t Width() const { return width_; }

 private:
  void BuildLine(int32_t L, int64_t* out) const;

  const DistortionGeometry& geometry_;
  BandStrip strip_;
  int32_t sourceWidth_;
  bool invert_;
  bool vertical_;
  int32_t shift_;
  int32_t width_;
  int32_t lines_;
  int32_t cachedLines_;
  std::vector<int64_t> cache_;
  std::vector<int64_t> scratch_;
};

}  // namespace quelmar
