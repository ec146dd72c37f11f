// Colour registration where the windows cannot tell the offset: a flat product (one grey level
// everywhere) and one whose bands hold unrelated noise. The picture is still made, every channel
// placed by the camera geometry, and the registration lines say why. And the reference band's
// windows read by several cores.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/BandSampler.h"
#include "assembly/ColourComposite.h"
#include "assembly/ColourRegistration.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/Simulated.h"
#include "support/TestFiles.h"
#include "util/RunParts.h"

namespace quelmar {
namespace {

using testing::ScriptedPort;
using testing::TempDir;

LoadedProduct ColourProduct(const TempDir& dir) {
  return testing::LoadSimulated(sim::ProductKind::CE, 40, 23, dir);
}

// The reference's windows, read by `parts` threads at once.
ReferenceWindows ReadByThreads(const BandSampler& reference, const ChannelTransform& transform,
                               int32_t width, int32_t height, int32_t parts) {
  ReferenceWindows windows = ReferenceWindowsOf(width, height);
  RunParts(parts,
           [&](int32_t k) { ReadReferenceWindows(reference, transform, k, parts, windows); });
  return windows;
}

TEST(ColourRegistration, WindowsThatCannotTellLeaveTheChannelsWhereTheGeometryPutsThem) {
  TempDir dir;
  for (const bool noise : {false, true}) {
    LoadedProduct product = ColourProduct(dir);
    ASSERT_TRUE(product.HasImage());
    uint32_t seed = 99;
    for (int32_t y = 0; y < product.Rows.Lines(); ++y) {
      uint8_t* row = product.Rows.Row(y);
      for (int32_t x = 0; x < product.Rows.Width(); ++x) {
        seed = seed * 1103515245u + 12345u;
        row[x] = noise ? static_cast<uint8_t>(seed >> 24) : 90;
      }
    }
    for (const bool corrected : {false, true}) {
      ColourRequest request;
      request.Bands = {3, 5, 7};
      request.CorrectDistortion = request.CorrectVertically = corrected;
      request.SettingsPath = dir.File("no-settings-here.ini");
      ScriptedPort port;
      const ColourResult result = BuildColourComposite(product, request, port);
      EXPECT_GT(result.Image.Width(), 0);
      for (const size_t c : {size_t{0}, size_t{2}}) {
        const ChannelRegistration& r = result.Channels[c];
        EXPECT_FALSE(r.Measured) << RegistrationLines(result)[c];
        EXPECT_EQ(r.Dx, 0);
        EXPECT_EQ(r.Dy, 0);
        const std::string why = noise ? "not measured: " : "not measured: no texture";
        EXPECT_EQ(r.Note.rfind(why, 0), 0u) << r.Note;
        EXPECT_NE(RegistrationLines(result)[c].find("placed by the camera geometry"),
                  std::string::npos);
      }
    }
  }
}

// The cores share the reference's window rows out by their place within the framelet (so that
// no two of them work out how one place reads): every row is read, by one core, as one core
// alone reads it, and each core gets about its share, at a travel of whole rows and at others,
// a visible and an ultraviolet band alike.
TEST(ColourRegistration, ReferenceWindowsReadByTwoCoresAreTheWindowsOneReads) {
  TempDir dir;
  // Long enough for an ultraviolet band's stack to hold several windows.
  const LoadedProduct product = testing::LoadSimulated(sim::ProductKind::CE, 100, 23, dir);
  ASSERT_TRUE(product.HasImage());
  ScriptedPort port;
  const CameraSettings settings = ReadCameraSettings(dir.File("no-settings-here.ini"));
  for (const int32_t band : {5, 1}) {
    for (const Real travel : {11.0L, 10.874L, 11.3L}) {
      BandSamplerRequest request;
      request.Band = band;
      const Real share = band <= 2 ? 4 : 1;  // ultraviolet bands travel a quarter as far
      request.VerticalTravel = travel / share;
      request.HorizontalTravel = -0.312L / share;
      request.CorrectDistortion = request.CorrectVertically = true;
      const BandSampler sampler(product, request, settings, port);
      const int32_t width = sampler.StackWidth(), height = sampler.StackHeight();
      ChannelTransform transform;
      transform.MiddleRow = static_cast<Real>(height - 1) / 2;
      const ReferenceWindows one = ReadByThreads(sampler, transform, width, height, 1);
      const ReferenceWindows two = ReadByThreads(sampler, transform, width, height, 2);
      ASSERT_EQ(one.Images.size(), two.Images.size());
      ASSERT_GE(one.Images.size(), 2u) << "band " << band;
      for (size_t w = 0; w < one.Images.size(); ++w) {
        const std::vector<float>&a = one.Images[w].Values, &b = two.Images[w].Values;
        ASSERT_EQ(a.size(), b.size());
        size_t values = 0;
        for (size_t i = 0; i < a.size(); ++i) {
          ASSERT_TRUE(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))
              << "band " << band << " travel " << static_cast<double>(travel) << " window " << w;
          values += std::isnan(a[i]) ? 0 : 1;
        }
        EXPECT_GT(values, a.size() / 2);
      }
      std::array<int32_t, 2> rows{};
      for (int32_t y = 0; y < height; ++y) ++rows[static_cast<size_t>(sampler.ShareOf(y, 2))];
      EXPECT_GT(rows[0], height / 3)
          << "band " << band << " travel " << static_cast<double>(travel);
      EXPECT_GT(rows[1], height / 3)
          << "band " << band << " travel " << static_cast<double>(travel);
    }
  }
}

}  // namespace
}  // namespace quelmar
