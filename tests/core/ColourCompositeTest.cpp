// Colour pictures on products of known geometry: the simulator flies the camera over a coloured
// scene it keeps, the program builds a colour picture, and each channel is compared with the
// scene as its band sees it. Reference pixel (X, Y) of a corrected picture shows world
// (X - the picture's centre column, Y + 1 - H / 2 - O) of the reference band (Simulator.h).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/ColourComposite.h"
#include "assembly/PictureBuilder.h"
#include "assembly/SubpixelMatch.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using sim::ProductKind;
using testing::ScriptedPort;
using testing::TempDir;

struct Loaded {
  sim::SimulatedProduct sim;
  LoadedProduct product;
};

Loaded SimulateAndLoad(ProductKind kind, int32_t framelets, uint32_t seed, const TempDir& dir) {
  sim::SimulatorOptions options;
  options.kind = kind;
  options.framelets = framelets;
  options.seed = seed;
  Loaded l{sim::SimulateProduct(options), {}};
  const std::string path = dir.File(sim::ProductFileName(l.sim));
  testing::WriteFileBytes(path, sim::ProductFileBytes(l.sim));
  ScriptedPort port;
  EXPECT_EQ(LoadEdrProduct(path, l.product, port, nullptr), LoadOutcome::ImageRead);
  return l;
}

ColourRequest CorrectedRequest(std::array<int32_t, 3> bands, const TempDir& dir) {
  ColourRequest r;
  r.Bands = bands;
  r.VerticalTravel = static_cast<Real>(sim::kDefaultTravel);
  r.CorrectDistortion = true;
  r.CorrectVertically = true;
  r.SettingsPath = dir.File("no-settings-here.ini");
  return r;
}

const sim::SimBand& BandOf(const Loaded& l, const std::string& wavelength) {
  for (const sim::SimBand& b : l.sim.bands) {
    if (b.wavelength == wavelength) return b;
  }
  throw RangeError("no band " + wavelength);
}

bool NoData(const uint8_t* px) {
  return px[0] == 0 && px[1] == 0 && px[2] == 255;  // the default no-data colour, red
}

// Channel c (0 red) of the picture and its band's truth, as grey images over the picture's grid
// (world = picture position - centre), limited to columns within `half` of the centre. An
// ultraviolet band's truth is the scene at its own resolution.
struct ChannelVsTruth {
  GreyImage picture, truth;
  double meanError = 0;
  int64_t pixels = 0;
};
ChannelVsTruth CompareChannel(const Picture& p, size_t c, const sim::SimBand& band,
                              const sim::GroundScene& scene, int32_t centreX, int32_t rowToWorld,
                              int32_t half) {
  ChannelVsTruth r{GreyImage(2 * half, p.Height()), GreyImage(2 * half, p.Height())};
  double sum = 0;
  for (int32_t y = 0; y < p.Height(); ++y) {
    for (int32_t i = 0; i < 2 * half; ++i) {
      const int32_t x = centreX - half + i, wx = i - half, wy = y + rowToWorld;
      if (x < 0 || x >= p.Width() || !scene.ContainsWorld(wx, wy)) continue;
      const uint8_t* px = p.Row(y) + 3 * x;
      if (NoData(px)) continue;
      double truth = 0;
      if (band.ultraviolet) {
        // What the binned band can show: the mean over the 4 x 4 pixels of one of its pixels.
        for (int sy = 0; sy < 4; ++sy) {
          for (int sx = 0; sx < 4; ++sx) {
            truth +=
                band.gain * scene.SampleWorldInBand(wx + sx - 1.5, wy + sy - 1.5, band.colour) / 16;
          }
        }
      } else {
        truth = band.gain * scene.InBand(wx - scene.originX, wy - scene.originY, band.colour);
      }
      r.picture.At(i, y) = px[2 - c];
      r.truth.At(i, y) = static_cast<float>(std::min(truth, 255.0));
      sum += std::abs(px[2 - c] - std::min(truth, 255.0));
      ++r.pixels;
    }
  }
  r.meanError = r.pixels > 0 ? sum / static_cast<double>(r.pixels) : 1e9;
  return r;
}

// Mean absolute error of the band's own corrected stack against its truth (an ultraviolet
// band's pixel against the mean of the 4 x 4 visible pixels it covers).
double StackError(const Loaded& l, int32_t band, const TempDir& dir) {
  const sim::SimBand& b = l.sim.bands[static_cast<size_t>(band) - 1];
  const double scale = b.ultraviolet ? 4.0 : 1.0;
  PictureRequest r;
  r.Stacked = true;
  r.VerticalTravel = static_cast<Real>(sim::kDefaultTravel / scale);
  r.CorrectDistortion = r.CorrectVertically = true;
  r.ReadBand = [band] { return band; };
  r.ReadShift = [] { return 0; };
  r.SettingsPath = dir.File("no-settings-here.ini");
  ScriptedPort port;
  DisplayedImageInfo displayed;
  Picture picture;
  EXPECT_EQ(DisplayImage(l.product, r, port, displayed, picture), DisplayOutcome::Shown);
  if (!b.ultraviolet) {
    const auto rowToWorld = static_cast<int32_t>(std::lround(1 - b.height / 2.0 - b.offsetPixels));
    return CompareChannel(picture, 0, b, l.sim.scene, picture.Width() / 2, rowToWorld, 256)
        .meanError;
  }
  double sum = 0;
  int64_t n = 0;
  const sim::GroundScene& scene = l.sim.scene;
  for (int32_t v = 0; v < picture.Height(); ++v) {
    for (int32_t u = 0; u < picture.Width(); ++u) {
      const uint8_t* px = picture.Row(v) + 3 * u;
      if (NoData(px)) continue;
      const double wx = scale * (u - picture.Width() / 2);
      const double wy = scale * (v + 1 - b.height / 2.0 - b.offsetPixels);
      if (!scene.ContainsWorld(static_cast<int32_t>(wx) - 2, static_cast<int32_t>(wy) - 2) ||
          !scene.ContainsWorld(static_cast<int32_t>(wx) + 2, static_cast<int32_t>(wy) + 2)) {
        continue;
      }
      double truth = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          truth += scene.SampleWorldInBand(wx + sx - 1.5, wy + sy - 1.5, b.colour) / 16;
        }
      }
      sum += std::abs(px[0] - std::min(b.gain * truth, 255.0));
      ++n;
    }
  }
  return n > 0 ? sum / static_cast<double>(n) : 1e9;
}

struct Figures {
  double meanError[3];
  double stackError[3];
  double misregistration[3];  // against the reference channel, pixels
};

// Builds the colour picture and measures it against the truth: each channel's error, and each
// channel's sub-pixel shift against its truth relative to the reference channel's.
Figures Measure(const Loaded& l, const ColourRequest& request, const TempDir& dir,
                ColourResult* out = nullptr) {
  ScriptedPort port;
  ColourResult result = BuildColourComposite(l.product, request, port);
  const sim::SimBand& ref = BandOf(l, result.Channels[1].Wavelength);
  EXPECT_TRUE(result.Channels[1].Reference);
  const auto rowToWorld =
      static_cast<int32_t>(std::lround(1 - ref.height / 2.0 - ref.offsetPixels));
  Figures f{};
  double shift[3][2] = {};
  ShiftSearch search;
  search.Step = 2;
  for (size_t c = 0; c < 3; ++c) {
    const sim::SimBand& band = BandOf(l, result.Channels[c].Wavelength);
    const ChannelVsTruth v = CompareChannel(result.Image, c, band, l.sim.scene,
                                            result.Image.Width() / 2, rowToWorld, 240);
    f.meanError[c] = v.meanError;
    f.stackError[c] = StackError(l, result.Channels[c].Band, dir);
    const ShiftEstimate e = EstimateShift(v.truth, v.picture, search);
    EXPECT_TRUE(e.Found()) << MatchVerdictText(e.Verdict);
    shift[c][0] = e.Dx;
    shift[c][1] = e.Dy;
  }
  for (size_t c = 0; c < 3; ++c) {
    f.misregistration[c] = std::hypot(shift[c][0] - shift[1][0], shift[c][1] - shift[1][1]);
    std::printf("%s nm: error %.2f (its stack %.2f), misregistration %.3f px; %s\n",
                result.Channels[c].Wavelength.c_str(), f.meanError[c], f.stackError[c],
                f.misregistration[c], RegistrationLines(result)[c].c_str());
  }
  if (out != nullptr) *out = std::move(result);
  return f;
}

TEST(ColourComposite, VisibleBandsRegisterWithinATenthOfAPixel) {
  for (const auto& [kind, bands] : {std::pair{ProductKind::CE, std::array<int32_t, 3>{3, 5, 7}},
                                    std::pair{ProductKind::VE, std::array<int32_t, 3>{5, 1, 3}}}) {
    SCOPED_TRACE(sim::KindCode(kind));
    TempDir dir;
    const Loaded l = SimulateAndLoad(kind, 40, 7, dir);
    const Figures f = Measure(l, CorrectedRequest(bands, dir), dir);
    for (size_t c = 0; c < 3; ++c) {
      EXPECT_LE(f.misregistration[c], 0.1);
      EXPECT_LE(f.meanError[c], f.stackError[c]);
    }
  }
}

TEST(ColourComposite, UltravioletWithVisibleRegistersWithinAThirdOfAPixel) {
  TempDir dir;
  const Loaded l = SimulateAndLoad(ProductKind::CE, 40, 11, dir);
  ColourResult result;
  // 321 nm is blue, 604 nm red, 415 nm the reference.
  const Figures f = Measure(l, CorrectedRequest({5, 1, 3}, dir), dir, &result);
  EXPECT_EQ(result.Bands, (std::array<int32_t, 3>{5, 3, 1}));
  for (size_t c = 0; c < 3; ++c) {
    EXPECT_LE(f.misregistration[c], 0.3);
    EXPECT_LE(f.meanError[c], f.stackError[c] * 1.05);
  }
  // The ultraviolet band covers 512 visible columns around the centre: beyond them, no data.
  const Picture& p = result.Image;
  const int32_t centre = p.Width() / 2, middle = p.Height() / 2;
  EXPECT_TRUE(NoData(p.Row(middle) + 3 * (centre - 300)));
  EXPECT_TRUE(NoData(p.Row(middle) + 3 * (centre + 300)));
  EXPECT_FALSE(NoData(p.Row(middle) + 3 * (centre - 200)));
  EXPECT_FALSE(NoData(p.Row(middle) + 3 * (centre + 200)));
  EXPECT_EQ(ColourFileName(l.product.ProductId, result),
            l.product.ProductId + "_604_415_321nm.bmp");
}

}  // namespace
}  // namespace quelmar
