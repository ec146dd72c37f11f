// Colour pictures on products of known geometry: the simulator flies the camera over a coloured
// scene it keeps, the program builds a colour picture, and each channel is compared with the
// scene as its band sees it. Reference pixel (X, Y) of a corrected picture shows world
// (X - the picture's centre column, Y + 1 - H / 2 - O) of the reference band (Simulator.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/BandRowBounds.h"
#include "assembly/ColourComposite.h"
#include "assembly/PictureBuilder.h"
#include "assembly/SubpixelMatch.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/Simulated.h"
#include "support/StackTruth.h"
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

Loaded SimulateAndLoad(ProductKind kind, int32_t framelets, uint32_t seed, const TempDir& dir,
                       double travel = sim::kDefaultTravel, double drift = 0) {
  sim::SimulatorOptions options;
  options.kind = kind;
  options.framelets = framelets;
  options.seed = seed;
  options.travel = travel;
  options.drift = drift;
  Loaded l{sim::SimulateProduct(options), {}};
  l.product = testing::LoadSimulated(l.sim, dir);
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
double StackError(const Loaded& l, int32_t band, Real travel, Real across, const TempDir& dir) {
  const auto scale =
      static_cast<Real>(l.sim.bands[static_cast<size_t>(band) - 1].ultraviolet ? 4.0 : 1.0);
  return testing::CorrectedStackError(l.sim, l.product, band, travel / scale, across / scale,
                                      dir.File("no-settings-here.ini"))
      .meanError;
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
  // The first framelet lies at the left of the extra width a sideways travel adds, or at its
  // right when the travel is to the left.
  const Real across = request.HorizontalTravel;
  const auto extra = static_cast<int32_t>(
      std::nearbyintl(std::fabs(across) * static_cast<Real>(l.product.FrameletCount)));
  const int32_t centre = (result.Image.Width() - extra) / 2 + (across < 0 ? extra : 0);
  for (size_t c = 0; c < 3; ++c) {
    const sim::SimBand& band = BandOf(l, result.Channels[c].Wavelength);
    const ChannelVsTruth v =
        CompareChannel(result.Image, c, band, l.sim.scene, centre, rowToWorld, 240);
    f.meanError[c] = v.meanError;
    f.stackError[c] = StackError(l, result.Channels[c].Band, request.VerticalTravel, across, dir);
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

// A picture large enough to be sampled by two cores, each taking rows as it comes to them, is
// the same as on one core: a corrected row blends alike whether it is read for the first time or
// repeats, at a travel of whole rows (rows repeat) and at a fractional one with a horizontal
// travel (they never do); stretched, each core's count of levels adds up to the same limits.
TEST(ColourComposite, APictureIsTheSameOnOneCoreAndOnTwo) {
  TempDir dir;
  const Loaded l = SimulateAndLoad(ProductKind::CE, 130, 5, dir);
  for (const auto& [vertical, horizontal, stretch] :
       {std::tuple{11.0L, 0.0L, false}, std::tuple{10.874L, -0.312L, false},
        std::tuple{10.874L, -0.312L, true}}) {
    ColourRequest request = CorrectedRequest({3, 5, 7}, dir);
    request.VerticalTravel = vertical;
    request.HorizontalTravel = horizontal;
    request.Stretch.Enabled = stretch;
    ScriptedPort port;
    request.Threads = 1;
    const ColourResult one = BuildColourComposite(l.product, request, port);
    request.Threads = 2;
    const ColourResult two = BuildColourComposite(l.product, request, port);
    ASSERT_GE(int64_t{one.Image.Width()} * one.Image.Height(), int64_t{1} << 20);
    ASSERT_EQ(one.Image.Height(), two.Image.Height());
    ASSERT_EQ(one.Image.Stride(), two.Image.Stride());
    for (int32_t y = 0; y < one.Image.Height(); ++y) {
      ASSERT_TRUE(
          std::equal(one.Image.Row(y), one.Image.Row(y) + one.Image.Stride(), two.Image.Row(y)))
          << "travel " << vertical << ", " << horizontal << (stretch ? ", stretched" : "")
          << " row " << y;
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
  // The ultraviolet band is looked at until what is left to take out is settled.
  EXPECT_LE(f.misregistration[2], 0.05);
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

// At a travel of no whole number of rows or columns (the ground sliding sideways from framelet
// to framelet), each channel is read between the framelets' own columns, yet lies no further
// from its truth than its band's own stack, and the bands stay in register.
// QUELMAR_COLOUR_TRUTH_GRID=1 runs a grid of products (kinds and bands, travels, seeds) and prints
// the figures; it asserts nothing more.
TEST(ColourComposite, AtFractionalTravelsEachChannelIsAsCloseToTheTruthAsItsStack) {
  struct Case {
    ProductKind kind;
    std::array<int32_t, 3> bands;
    double travel, drift;
    uint32_t seed;
  };
  std::vector<Case> cases = {{ProductKind::CE, {3, 5, 7}, 10.874, -0.312, 1},
                             {ProductKind::VE, {1, 3, 5}, 9.35, 1.3, 2},
                             {ProductKind::CE, {1, 3, 5}, 12.6, 0.45, 3}};
  const bool grid = std::getenv("QUELMAR_COLOUR_TRUTH_GRID") != nullptr;
  if (grid) {
    cases.clear();
    for (const auto& [kind, bands] :
         {std::pair{ProductKind::CE, std::array<int32_t, 3>{3, 5, 7}},
          std::pair{ProductKind::CE, std::array<int32_t, 3>{1, 3, 5}},
          std::pair{ProductKind::VE, std::array<int32_t, 3>{1, 3, 5}}}) {
      for (const auto& [travel, drift] : {std::pair{11.3, 0.0}, std::pair{10.874, -0.312},
                                          std::pair{12.6, 0.45}, std::pair{9.35, 1.3}}) {
        for (uint32_t seed = 1; seed <= 3; ++seed)
          cases.push_back({kind, bands, travel, drift, seed});
      }
    }
  }
  int channels = 0, closer = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(sim::KindCode(k.kind) + " travel " + std::to_string(k.travel) + ", " +
                 std::to_string(k.drift) + " seed " + std::to_string(k.seed));
    TempDir dir;
    const Loaded l = SimulateAndLoad(k.kind, 40, k.seed, dir, k.travel, k.drift);
    ColourRequest request = CorrectedRequest(k.bands, dir);
    request.VerticalTravel = static_cast<Real>(k.travel);
    request.HorizontalTravel = static_cast<Real>(k.drift);
    ColourResult result;
    const Figures f = Measure(l, request, dir, &result);
    for (size_t c = 0; c < 3; ++c) {
      const bool uv = BandOf(l, result.Channels[c].Wavelength).ultraviolet;
      // (An ultraviolet band's stack is measured against its truth without a sideways travel
      // only.)
      const bool compared = !uv || k.drift == 0;
      channels += compared;
      closer += compared && f.meanError[c] <= f.stackError[c];
      if (grid) continue;
      if (compared) {
        EXPECT_LE(f.meanError[c], f.stackError[c]) << result.Channels[c].Wavelength;
      }
      EXPECT_LE(f.misregistration[c], uv ? 0.3 : 0.1) << result.Channels[c].Wavelength;
    }
  }
  std::printf("%d of %d channels no further from the truth than their stacks\n", closer, channels);
}

}  // namespace
}  // namespace quelmar

namespace quelmar {
namespace {

// Moves band `band`'s content of every framelet `shift(f)` columns to the left (bilinear).
void ShiftBandLeft(LoadedProduct& product, int32_t band,
                   const std::function<double(int32_t)>& shift) {
  const BandStrip strip = StripOfBand(BandRowBounds(product.BandCount, product.FrameletHeight),
                                      product.BandCount, band);
  const int32_t w = product.Rows.Width();
  std::vector<uint8_t> old(static_cast<size_t>(w));
  for (int32_t f = 0; f < product.FrameletCount; ++f) {
    const double s = shift(f);
    const auto whole = static_cast<int32_t>(std::floor(s));
    const double t = s - whole;
    for (int32_t r = strip.T; r < strip.B; ++r) {
      uint8_t* row = product.Rows.Row(f * product.FrameletHeight + r);
      std::copy(row, row + w, old.begin());
      for (int32_t c = 0; c < w; ++c) {
        const int32_t a = std::clamp(c + whole, 0, w - 1), b = std::clamp(c + whole + 1, 0, w - 1);
        row[c] = static_cast<uint8_t>(std::lround(old[a] * (1 - t) + old[b] * t));
      }
    }
  }
}

TEST(ColourComposite, OffsetsOfKnownSizeAreFoundWholeFractionalAndDrifting) {
  TempDir dir;
  Loaded l = SimulateAndLoad(ProductKind::CE, 60, 3, dir);
  // Settings that place the 689 nm band 2.37 rows from where it is: the geometry's offset is
  // wrong by that much (and its correction a little), and the measurement takes it out.
  testing::WriteFileBytes(dir.File("Quelmar.ini"),
                          "[Quelmar parameters]\r\nVis_Band5_Offset=" +
                              FormatFixed(static_cast<Real>(-0.45 + 0.009 * 2.37), 5) + "\r\n");
  ColourRequest request = CorrectedRequest({7, 5, 3}, dir);
  request.SettingsPath = dir.File("Quelmar.ini");
  ColourResult r;
  const Figures f = Measure(l, request, dir, &r);
  EXPECT_NEAR(std::fabs(r.Channels[0].Dy), 2.37, 0.2) << RegistrationLines(r)[0];
  EXPECT_LE(f.misregistration[0], 0.1);

  // The 415 nm band's content 1.6 columns to the left at framelet 30, 0.02 more in each later
  // framelet. The reference's middle row (framelet 30 of 604 nm) shows the 415 nm band of
  // framelet 34.4 (its strip lies 50 rows further on): 1.69 columns. Uncorrected, so that
  // columns of the picture are the product's columns.
  ShiftBandLeft(l.product, 3, [](int32_t frame) { return 1.6 + 0.02 * (frame - 30); });
  ScriptedPort port;
  ColourRequest uncorrected = CorrectedRequest({7, 5, 3}, dir);
  uncorrected.CorrectDistortion = uncorrected.CorrectVertically = false;
  r = BuildColourComposite(l.product, uncorrected, port);
  const ChannelRegistration& blue = r.Channels[2];
  ASSERT_TRUE(blue.Measured);
  EXPECT_NEAR(blue.Dx, -1.69, 0.15) << RegistrationLines(r)[2];
  // Framelets lie 11.3 rows apart: -0.02 columns per 11.3 rows.
  EXPECT_NEAR(blue.DxPer1000, -0.02 / 11.3 * 1000, 0.4);
  // Uncorrected, the bands keep their different distortions: a little more is left.
  EXPECT_LE(blue.Residual, 0.15);
  // Unmeasured, the channels keep the geometry's places and say so.
  ColourRequest unmeasured = CorrectedRequest({7, 5, 3}, dir);
  unmeasured.MeasureOffsets = false;
  r = BuildColourComposite(l.product, unmeasured, port);
  EXPECT_FALSE(r.Channels[2].Measured);
  EXPECT_NE(RegistrationLines(r)[2].find("placed by the camera geometry"), std::string::npos);
}

TEST(ColourComposite, StretchSpreadsEachChannelBetweenItsPercentiles) {
  TempDir dir;
  const Loaded l = SimulateAndLoad(ProductKind::VE, 30, 5, dir);
  ColourRequest request = CorrectedRequest({1, 3, 5}, dir);
  request.Stretch = {true, 2, 98};
  ScriptedPort port;
  const ColourResult r = BuildColourComposite(l.product, request, port);
  for (size_t c = 0; c < 3; ++c) {
    int64_t low = 0, high = 0, n = 0;
    for (int32_t y = 0; y < r.Image.Height(); ++y) {
      for (int32_t x = 0; x < r.Image.Width(); ++x) {
        const uint8_t* px = r.Image.Row(y) + 3 * x;
        if (NoData(px)) continue;
        ++n;
        low += px[2 - c] == 0;
        high += px[2 - c] == 255;
      }
    }
    ASSERT_GT(n, 0);
    EXPECT_NEAR(static_cast<double>(low) / n, 0.02, 0.012) << c;
    EXPECT_NEAR(static_cast<double>(high) / n, 0.02, 0.012) << c;
  }
}

// Built into a picture that held another (larger or smaller, its bytes anything), a colour picture
// is the same to the last byte of every row's padding as one built afresh, stretched or not; a
// request that cannot make one leaves the picture as it was.
TEST(ColourComposite, APictureBuiltIntoAnotherIsTheSameAsOneBuiltAfresh) {
  TempDir dir;
  const Loaded l = SimulateAndLoad(ProductKind::VE, 30, 5, dir);
  ScriptedPort port;
  for (const bool stretch : {false, true}) {
    ColourRequest request = CorrectedRequest({1, 3, 5}, dir);
    request.VerticalTravel = 10.874L;
    request.Stretch.Enabled = stretch;
    const ColourResult fresh = BuildColourComposite(l.product, request, port);
    for (const int32_t width : {fresh.Image.Width() + 7, 5}) {
      Picture into;
      into.Reset(width, fresh.Image.Height() + 3);
      for (int32_t y = 0; y < into.Height(); ++y) std::fill_n(into.Row(y), into.Stride(), 0x5A);
      const ColourResult built = BuildColourComposite(l.product, request, port, into);
      EXPECT_EQ(built.Image.Height(), 0);
      ASSERT_EQ(into.Width(), fresh.Image.Width());
      ASSERT_EQ(into.Height(), fresh.Image.Height());
      for (int32_t y = 0; y < into.Height(); ++y) {
        ASSERT_TRUE(std::equal(into.Row(y), into.Row(y) + into.Stride(), fresh.Image.Row(y)))
            << "row " << y << (stretch ? ", stretched" : "");
      }
      EXPECT_EQ(built.Channels[0].Dx, fresh.Channels[0].Dx);
    }
  }
  Picture kept;
  kept.Reset(4, 2);
  ColourRequest wrong = CorrectedRequest({1, 3, 9}, dir);
  EXPECT_THROW(BuildColourComposite(l.product, wrong, port, kept), RangeError);
  EXPECT_EQ(kept.Width(), 4);
  EXPECT_EQ(kept.Row(1)[0], 0xFF);
}

// Uncorrected vertically, the bands' rows curve apart toward the picture's sides: red lies pixels
// off green there, much more than in the middle, and the lines say so. Corrected, the bands line up
// across the width and nothing is said.
TEST(ColourComposite, BandsLineUpAcrossTheWidthOnlyCorrectedVertically) {
  TempDir dir;
  const Loaded l = SimulateAndLoad(ProductKind::CE, 40, 7, dir);
  // Red's shift against green over columns first .. first + 95 of the middle rows.
  const auto apart = [](const Picture& p, int32_t first) {
    GreyImage red(96, 200), green(96, 200);
    const int32_t top = p.Height() / 2 - 100;
    for (int32_t y = 0; y < 200; ++y) {
      for (int32_t x = 0; x < 96; ++x) {
        const uint8_t* px = p.Row(top + y) + 3 * (first + x);
        if (NoData(px)) continue;
        red.At(x, y) = px[2];
        green.At(x, y) = px[1] * 1.15f;  // about red's level
      }
    }
    ShiftSearch search;
    search.MinDx = search.MinDy = -6;
    search.MaxDx = search.MaxDy = 6;
    const ShiftEstimate e = EstimateShift(green, red, search);
    EXPECT_TRUE(e.Found()) << MatchVerdictText(e.Verdict);
    return std::hypot(e.Dx, e.Dy);
  };
  for (const bool vertically : {false, true}) {
    SCOPED_TRACE(vertically);
    ColourRequest request = CorrectedRequest({7, 5, 3}, dir);
    request.CorrectVertically = vertically;
    ScriptedPort port;
    const ColourResult r = BuildColourComposite(l.product, request, port);
    const std::vector<std::string> lines = RegistrationLines(r);
    const bool noted = lines.size() == 4 && lines[3].rfind("Not corrected vertically", 0) == 0;
    EXPECT_EQ(noted, !vertically);
    const double side = apart(r.Image, 8), middle = apart(r.Image, r.Image.Width() / 2 - 48);
    std::printf(
        "corrected vertically %d: red off green by %.2f px at the side, %.2f in the middle\n",
        vertically, side, middle);
    if (vertically) {
      EXPECT_LT(side, 0.2);
      EXPECT_LT(middle, 0.2);
    } else {
      EXPECT_GT(side, 2.0);
      EXPECT_GT(side, 3 * middle);
    }
  }
}

// The lines that say how each channel was placed: measured on one window or several, or by the
// geometry alone.
TEST(ColourComposite, RegistrationLinesSayHowEachChannelWasPlaced) {
  ColourResult r;
  r.Channels[0] = {7, "689", false, true, 0.25L, -1.5L, 0, 0.1L, 1, 0.112L, ""};
  r.Channels[1] = {5, "604", true, false, 0, 0, 0, 0, 0, 0, ""};
  r.Channels[2] = {3, "415", false, true, 0.076L, -1.121L, 0, 0, 6, 0.025L, ""};
  std::vector<std::string> lines = RegistrationLines(r);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "red: band 7 (689 nm), offset 0.250, -1.500 pixels beyond the camera geometry, "
            "drifting 0.000, 0.100 per 1000 rows (1 window, residual 0.112 pixels)");
  EXPECT_EQ(lines[1], "green: band 5 (604 nm), the reference");
  EXPECT_EQ(lines[2],
            "blue: band 3 (415 nm), offset 0.076, -1.121 pixels beyond the camera geometry (6 "
            "windows, residual 0.025 pixels)");
  r.Channels[2] = {3, "415", false, false, 0, 0, 0, 0, 0, 0, "not measured: no overlap"};
  r.CurvedRows = true;
  lines = RegistrationLines(r);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2],
            "blue: band 3 (415 nm), placed by the camera geometry (not measured: no overlap)");
}

TEST(ColourComposite, RefusesProductsAndBandsThatCannotMakeOne) {
  TempDir dir;
  const Loaded uv = SimulateAndLoad(ProductKind::UE, 8, 1, dir);
  ScriptedPort port;
  ColourRequest request;
  request.Bands = {1, 2, 3};
  EXPECT_THROW(BuildColourComposite(uv.product, request, port), RangeError);
  const Loaded ve = SimulateAndLoad(ProductKind::VE, 8, 1, dir);
  for (const auto& bands : {std::array<int32_t, 3>{1, 1, 3}, std::array<int32_t, 3>{1, 3, 6}}) {
    request.Bands = bands;
    EXPECT_THROW(ChooseColourBands(ve.product, request), RangeError);
  }
  request.Bands = {2, 4, 5};
  request.Reference = 1;
  EXPECT_THROW(ChooseColourBands(ve.product, request), RangeError);
  request.Reference = 2;
  const ColourBands chosen = ChooseColourBands(ve.product, request);
  EXPECT_EQ(chosen.Rgb, (std::array<int32_t, 3>{5, 4, 2}));
  EXPECT_EQ(chosen.Reference, 2);
  request.VerticalTravel = 0;
  EXPECT_THROW(BuildColourComposite(ve.product, request, port), RangeError);
}

}  // namespace
}  // namespace quelmar

namespace quelmar {
namespace {

// A travel that changes along the product: with one constant travel the bands drift apart
// along the strip (the drift is measured and taken out, roughly); placed by the true travel of
// each framelet pair, they stay together and no drift is left.
TEST(ColourComposite, ATravelProfileKeepsTheBandsTogetherAlongTheProduct) {
  TempDir dir;
  sim::SimulatorOptions options;
  options.kind = ProductKind::CE;
  options.framelets = 90;
  options.seed = 9;
  options.travel = 9.5;
  options.travelEnd = 12.5;
  options.drift = 0.8;
  const sim::SimulatedProduct s = sim::SimulateProduct(options);
  const std::string path = dir.File(sim::ProductFileName(s));
  testing::WriteFileBytes(path, sim::ProductFileBytes(s));
  ScriptedPort port;
  LoadedProduct product;
  ASSERT_EQ(LoadEdrProduct(path, product, port, nullptr), LoadOutcome::ImageRead);

  ColourRequest request = CorrectedRequest({7, 5, 3}, dir);
  request.VerticalTravel = 11;
  request.HorizontalTravel = 0.8;
  const ColourResult constant = BuildColourComposite(product, request, port);
  EXPECT_GT(std::fabs(constant.Channels[0].DyPer1000), 3) << RegistrationLines(constant)[0];
  for (int32_t f = 0; f + 1 < s.framelets; ++f) {
    request.Profile.Vertical.push_back(static_cast<Real>(s.PairTravel(f)));
    request.Profile.Horizontal.push_back(static_cast<Real>(s.PairDrift(f)));
  }
  const ColourResult profiled = BuildColourComposite(product, request, port);
  for (const size_t c : {size_t{0}, size_t{2}}) {
    const ChannelRegistration& r = profiled.Channels[c];
    ASSERT_TRUE(r.Measured);
    EXPECT_LT(std::fabs(r.DyPer1000), 0.3) << RegistrationLines(profiled)[c];
    EXPECT_LE(r.Residual, 0.1);
    EXPECT_LT(std::hypot(r.Dx, r.Dy), 0.3);
  }
  // The picture is as high as the profile's framelets reach.
  Real rows = 0;
  for (const Real v : request.Profile.Vertical) rows += v;
  EXPECT_EQ(profiled.Image.Height(), RoundToInt32(rows) + 14);
}

}  // namespace
}  // namespace quelmar
