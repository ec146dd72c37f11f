#pragma once
// wacsim's model: a push-frame Wide Angle Camera flying over a procedural lunar scene, writing
// the framelets of one EDR product.
//
// Geometry (the one the program's stacking and distortion correction undo, with their default
// settings):
// - A framelet holds the product's bands one under the other: 14-row visible bands, and 4-row
//   ultraviolet bands binned 4 x 4 whose 128 samples sit in columns 288..415 of a 704-sample row
//   (zero outside).
// - The optical centre is at column width div 2. A band of height H whose centre lies O of its
//   own pixels from the optical centre (the settings' band offset / pitch) has its row b
//   (counted from 1 at the band's top), column c at detector offset (c - width div 2,
//   H / 2 + O - b) from it, the second axis pointing toward the band's first rows.
// - Radial distortion: the detector pixel at radius d (pixels) shows the ideal point at radius
//   d / (1 + k1 (d s)^2 + k2 (d s)^3) in the same direction (s the pitch, 4 x 0.009 for the
//   binned ultraviolet bands).
// - World coordinates are visible pixels on the ground. Framelet f (from 0) sees the ideal point
//   (x, y) (visible pixels; an ultraviolet pixel counts 4) at world (x + f x drift,
//   f x travel - y) (with a changing travel, the sum of the travels before it): the ground moves
//   toward the framelet's first rows, so stacks need no inversion.
//   Stacking a visible band's rows with the true travel thus lays world row Y at picture row
//   Y - 1 + H / 2 + O (within half a row: framelet positions are rounded), and a corrected
//   stack lays world column X at picture column X + its output centre column.
// - Grey levels are the scene's in the band's colour (mare, highland and fresh ejecta differ from
//   band to band; the 643 nm band sees the grey scene), bilinearly sampled (the ultraviolet bands
//   average 4 x 4 samples over each binned pixel), times the band's response, plus a little
//   detector noise.
//
// Everything is deterministic: the same options give the same bytes everywhere.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Scene.h"

namespace quelmar::sim {

enum class ProductKind { ME, VE, UE, CE };

std::string KindCode(ProductKind kind);  // "ME", "VE", "UE", "CE"
std::optional<ProductKind> KindFromCode(std::string_view code);

// The camera constants the simulator flies with: the default geometry settings of the program.
inline constexpr double kPixelPitch = 0.009;
inline constexpr double kK1Visible = -0.0099, kK2Visible = -0.0005;
inline constexpr double kK1Uv = -0.024, kK2Uv = -0.007;
// Samples of an ultraviolet band in a product row, and where they begin.
inline constexpr int32_t kUvSamples = 128;
inline constexpr int32_t kUvFirstColumn = 288;

inline constexpr int32_t kMaxFramelets = 1000;
inline constexpr double kMinTravel = 1.0, kMaxTravel = 14.0;
inline constexpr double kDefaultTravel = 11.3;
inline constexpr double kMaxDrift = 3.0;

struct SimulatorOptions {
  ProductKind kind = ProductKind::CE;
  int32_t framelets = 100;
  double travel = kDefaultTravel;  // visible rows per framelet; ultraviolet bands: a quarter
  // The travel between the last two framelets: the travel changes linearly from `travel`
  // (first pair) to it along the product, as an elliptical orbit's altitude does. None: constant.
  std::optional<double> travelEnd;
  // Visible columns the ground moves sideways per framelet (-3 to 3): later framelets see the
  // ground further to the left, so a stack lays them further right.
  double drift = 0;
  uint32_t seed = 1;
  int32_t width = 0;      // samples per row: 0 gives 1024 for ME and 704 for the others
  std::string productId;  // empty: made from the seed and the kind
};

// The options' problem in a sentence, or empty when they are usable.
std::string OptionsProblem(const SimulatorOptions& options);
// The product id used when none is given: "M1" + 8 digits from the seed and kind + the kind.
std::string DefaultProductId(uint32_t seed, ProductKind kind);

struct SimBand {
  std::string wavelength;  // "415", as the label lists it
  int32_t firstRow = 0;    // within the framelet
  int32_t height = 0;      // 14 visible, 4 ultraviolet
  bool ultraviolet = false;
  double offsetPixels = 0;  // O: band centre from the optical centre, in the band's own pixels
  double gain = 1;          // the band's response to the scene's grey level
  int32_t firstColumn = 0;  // the band's samples in a product row
  int32_t columns = 0;
  BandColour colour;  // the band's colour relative to the grey scene
};

// The bands of a product kind, top of the framelet first.
std::vector<SimBand> BandsOf(ProductKind kind, int32_t width);

// Where a detector point looks: the ideal point's offset from the optical axis in visible pixels,
// x to the right and y toward the band's first rows. `column` may be fractional (sub-samples).
struct IdealOffset {
  double x, y;
};
IdealOffset IdealOffsetOf(const SimBand& band, int32_t width, double column, double bandRow);

// The observation as the archive's index describes it.
struct Observation {
  int64_t startMs = 0;  // milliseconds since 0001-01-01T00:00:00.000
  int64_t endMs = 0;
  int32_t frameDelayMs = 0;
  int32_t orbit = 0;
  double centreLat = 0, centreLon = 0;  // the principal point: mid observation, optical axis
  double subSolarLat = 0, subSolarLon = 0;
  double spacecraftLat = 0, spacecraftLon = 0, altitudeKm = 0;
  double upperLeftLat = 0, upperLeftLon = 0, upperRightLat = 0, upperRightLon = 0;
  double lowerLeftLat = 0, lowerLeftLon = 0, lowerRightLat = 0, lowerRightLon = 0;
  double incidenceDeg = 0, sunElevationDeg = 0, resolutionM = 0;
};

struct SimulatedProduct {
  std::string productId;
  ProductKind kind = ProductKind::CE;
  uint32_t seed = 0;
  int32_t width = 0;
  int32_t frameletHeight = 0;
  int32_t framelets = 0;
  double travel = 0;  // visible rows per framelet (between the first two framelets)
  double drift = 0;   // visible columns per framelet
  // Where each framelet looks: framelet f sees the ideal point (x, y) at world
  // (x + frameletX[f], frameletY[f] - y). Constant travel: frameletY[f] = f x travel.
  std::vector<double> frameletX, frameletY;
  std::vector<SimBand> bands;
  std::vector<uint8_t> image;  // framelets x frameletHeight rows of width samples
  GroundScene scene;           // the ground truth
  Observation observation;

  int32_t Lines() const { return framelets * frameletHeight; }
  // The true travel between framelets f and f + 1 (from 0), in visible rows and columns.
  double PairTravel(int32_t f) const {
    return frameletY[static_cast<size_t>(f) + 1] - frameletY[static_cast<size_t>(f)];
  }
  double PairDrift(int32_t f) const {
    return frameletX[static_cast<size_t>(f) + 1] - frameletX[static_cast<size_t>(f)];
  }
  const uint8_t* Row(int32_t row) const {
    return image.data() + static_cast<size_t>(row) * static_cast<size_t>(width);
  }
};

// Flies the camera over a fresh scene. RangeError (with the options' problem) for unusable
// options.
SimulatedProduct SimulateProduct(const SimulatorOptions& options);

}  // namespace quelmar::sim
