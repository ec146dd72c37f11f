#pragma once
// The simulator's ground: a procedural lunar scene on a grid of visible-band pixels. Heights come
// from rolling terrain and craters of many sizes (power-law size classes, bowls, rims, flat floors
// and central peaks for the largest); the albedo varies in broad dark patches, fine texture and
// bright halos around fresh craters; a low sun from the +x side (east) lights it, with cast
// shadows, so relief shows as it does in the camera's images.
//
// Heights and albedo are functions of world coordinates and the seed only, so a larger grid over
// the same seed holds the same ground where the two overlap (only shadows cast from beyond a
// grid's east edge are missing from it).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quelmar::sim {

// A band's colour relative to the grey scene (which is the 643 nm band's): factor
// 1 + Mare x mare + Highland x (1 - mare) + Fresh x fresh, with mare and fresh from 0 to 1.
// Mare basalts are bluer than the highlands, and fresh ejecta bluer still.
struct BandColour {
  double Mare = 0, Highland = 0, Fresh = 0;
  bool Grey() const { return Mare == 0 && Highland == 0 && Fresh == 0; }
};
BandColour ColourOfWavelength(double nanometres);

struct GroundScene {
  // World coordinates (visible pixels) of grid pixel (0, 0); grid column c is world x
  // originX + c, grid row r is world y originY + r.
  int32_t originX = 0;
  int32_t originY = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> grey;  // row-major grey levels, width x height
  // Colour: how much of each pixel is mare (0 highland .. 255 mare) and how fresh its ejecta are
  // (0 none .. 255 the freshest halo); row-major like grey.
  std::vector<uint8_t> mare;
  std::vector<uint8_t> fresh;

  uint8_t At(int32_t column, int32_t row) const {
    return grey[static_cast<size_t>(row) * static_cast<size_t>(width) +
                static_cast<size_t>(column)];
  }
  // True when world (x, y) is a grid pixel.
  bool ContainsWorld(int32_t x, int32_t y) const {
    return x >= originX && y >= originY && x - originX < width && y - originY < height;
  }
  uint8_t AtWorld(int32_t x, int32_t y) const { return At(x - originX, y - originY); }
  // Bilinear grey level at world (x, y); positions beyond the grid take its nearest edge.
  double SampleWorld(double x, double y) const;

  // The same in one band: each grid pixel's grey level times the band's colour factor there.
  double SampleWorldInBand(double x, double y, const BandColour& colour) const;
  // One grid pixel's grey level in a band.
  double InBand(int32_t column, int32_t row, const BandColour& colour) const;
};

struct SceneRequest {
  uint64_t seed = 1;
  int32_t originX = 0, originY = 0;
  int32_t width = 0, height = 0;
  double sunElevationDeg = 20.0;  // the sun stands this high above the +x (east) horizon
};

// Renders the scene; RangeError when the grid is empty or too large to hold.
GroundScene RenderScene(const SceneRequest& request);

}  // namespace quelmar::sim
