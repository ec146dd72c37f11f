// Colour registration where the windows cannot tell the offset: a flat product (one grey level
// everywhere) and one whose bands hold unrelated noise. The picture is still made, every channel
// placed by the camera geometry, and the registration lines say why.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/ColourComposite.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/Simulated.h"
#include "support/TestFiles.h"

namespace quelmar {
namespace {

using testing::ScriptedPort;
using testing::TempDir;

LoadedProduct ColourProduct(const TempDir& dir) {
  return testing::LoadSimulated(sim::ProductKind::CE, 40, 23, dir);
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

}  // namespace
}  // namespace quelmar
