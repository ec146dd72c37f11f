// Distortion-corrected stacks: the radial model and its table, the settings file, the filter
// choice, the width search, vertical correction with the shift, no-data pixels and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "AssemblyTestProducts.h"
#include "assembly/CameraSettings.h"
#include "assembly/Distortion.h"
#include "assembly/ProfileFile.h"
#include "assembly/RgbLibrary.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using testing::Built;
using testing::MakeImage;
using testing::PixelIs;
using testing::RowShows;
using testing::TempDir;
using testing::WriteFileBytes;
using Lines = std::vector<std::string>;

const Real kVisK1 = static_cast<Real>(-0.0099), kVisK2 = static_cast<Real>(-0.0005);
const Real kUvK1 = static_cast<Real>(-0.024), kUvK2 = static_cast<Real>(-0.007);
const Real kPitch = static_cast<Real>(0.009);

std::string Settings(const std::string& lines) {
  return "; camera geometry\r\n[Quelmar parameters]\r\n" + lines;
}

// A corrected stack whose band and shift readers note in the message area when asked.
PictureRequest Corrected(Built& b, const std::string& ini, int32_t band, Real vt, bool vertical,
                         int32_t shift, bool invert = false) {
  PictureRequest r = testing::StackOf(band, vt, 0, invert);
  r.CorrectDistortion = true;
  r.CorrectVertically = vertical;
  r.SettingsPath = ini;
  r.ReadBand = [band, &b] { return b.port.AppendLine("<band>"), band; };
  r.ReadShift = [shift, &b] { return b.port.AppendLine("<shift>"), shift; };
  return r;
}

TEST(AssemblyRadialModel, TablesOfTheDefaultAndFlatConstants) {
  EXPECT_EQ(CorrectedRadius(98, kVisK1, kVisK2, kPitch), 99);
  EXPECT_EQ(CorrectedRadius(99, kVisK1, kVisK2, kPitch), 100);
  const RadialTable vis = BuildRadialTable(kRadiusLimit, kVisK1, kVisK2, kPitch);
  EXPECT_EQ(vis.DetectorRadii, 556);
  ASSERT_EQ(vis.Entries.size(), 805u);
  EXPECT_EQ(vis.Entries[100], static_cast<Real>(99) / 100 - 1);
  EXPECT_EQ(vis.Entries[804], static_cast<Real>(555) / 804 - 1);

  // Ultraviolet: the cap of 2000 is reached at detector radius 117 and kept (y <= 0 from 120).
  const Real uvPitch = 4 * kPitch;
  EXPECT_LT(CorrectedRadius(116, kUvK1, kUvK2, uvPitch), 2000);
  for (int32_t r : {117, 120, 138}) EXPECT_EQ(CorrectedRadius(r, kUvK1, kUvK2, uvPitch), 2000);
  const RadialTable uv = BuildRadialTable(kRadiusLimit, kUvK1, kUvK2, uvPitch);
  EXPECT_EQ(uv.State, RadialTable::Status::Usable);
  EXPECT_EQ(uv.DetectorRadii, 139);
  EXPECT_EQ(uv.Entries.size(), 2001u);

  const RadialTable flat = BuildRadialTable(kRadiusLimit, 0, 0, kPitch);
  EXPECT_EQ(flat.Entries, std::vector<Real>(556, 0));
}

TEST(AssemblyRadialModel, UnusableConstantsAreNoticedQuickly) {
  using S = RadialTable::Status;
  EXPECT_EQ(BuildRadialTable(kRadiusLimit, 1, 0, kPitch).State, S::Shrinks);  // peaks near 111
  // A slight pincushion still grows everywhere; its table just ends sooner.
  const RadialTable slight = BuildRadialTable(kRadiusLimit, 0.001L, 0, kPitch);
  EXPECT_EQ(slight.State, S::Usable);
  EXPECT_LT(slight.Entries.size(), 556u);
  EXPECT_EQ(BuildRadialTable(kRadiusLimit, 1e6L, 0, kPitch).State, S::Empty);
  // A tiny pitch means a huge radius in pixels; the full table ends the work at once.
  EXPECT_EQ(BuildRadialTable(kRadiusLimit, kVisK1, kVisK2, 3e-9L).Entries.size(), 2001u);
  EXPECT_THROW(BuildRadialTable(kRadiusLimit, kVisK1, kVisK2, 1e-12L), RangeError);
  // A tiny pitch whose corrected radius never leaves 0 is given up after a bounded search.
  EXPECT_EQ(BuildRadialTable(kRadiusLimit, kUvK1, 1e308L, 4e-9L).State, S::TooLong);
}

TEST(AssemblySettings, ProfileFileAndConversions) {
  const ProfileFile ini = ProfileFile::Parse(
      "\xEF\xBB\xBFtop=x\n[Other]\nk1_uv=7\n[ quelmar PARAMETERS ]\r\n"
      "  K1_UV \t=  -0.5  \r\nk1_uv=9\n;k2_uv=3\nVis_Band1_ID=\"415 \"\n");
  EXPECT_EQ(ini.Value("Quelmar parameters", "k1_uv"), "-0.5");
  EXPECT_EQ(ini.Value("Quelmar parameters", "k2_uv"), std::nullopt);
  EXPECT_EQ(ini.Value("Quelmar parameters", "vis_band1_id"), "415 ");
  EXPECT_EQ(ini.Value("Quelmar parameters", "top"), std::nullopt);

  TempDir dir;
  const CameraSettings none = ReadCameraSettings(dir.File("absent.ini"));
  EXPECT_EQ(none.BandOffsets[1], static_cast<Real>(-1.1));
  WriteFileBytes(dir.File("q.ini"), Settings("k1_visible=abc\nk2_visible=\nk1_uv=0,5\nk2_uv=1e-3\n"
                                             "CCD_pixel_spacing = 0.1\nNoDataColor=$FF0000\n"));
  const CameraSettings s = ReadCameraSettings(dir.File("q.ini"));
  EXPECT_EQ(s.K1Visible, static_cast<Real>(-0.0099));
  EXPECT_EQ(s.K2Visible, static_cast<Real>(-0.0005));
  EXPECT_EQ(s.K1Uv, static_cast<Real>(-0.024));
  EXPECT_EQ(s.K2Uv, static_cast<Real>(1e-3));
  EXPECT_EQ(s.CcdPixelSpacing, static_cast<Real>(0.1));  // held at double precision
  EXPECT_NE(s.CcdPixelSpacing, 0.1L);
  EXPECT_EQ(s.NoDataColor, 0xFF0000);
  for (const char* text : {"red", "", "99999999999"}) {
    WriteFileBytes(dir.File("c.ini"), Settings(std::string("NoDataColor=") + text + "\n"));
    EXPECT_EQ(ReadCameraSettings(dir.File("c.ini")).NoDataColor, 255) << text;
  }
  EXPECT_EQ(ColorToBgr(static_cast<int32_t>(0xAB123456u)),
            (std::array<uint8_t, 3>{0x12, 0x34, 0x56}));
}

TEST(AssemblySettings, FilterChoiceAndConstants) {
  const CameraSettings s;
  testing::ScriptedPort port;
  EXPECT_EQ(ChooseFilter(s, "360", port), 2);
  EXPECT_TRUE(port.Lines().empty());
  const CorrectionConstants uv = DeriveCorrectionConstants(s, 2);
  EXPECT_EQ(uv.K2, static_cast<Real>(-0.007));
  EXPECT_EQ(uv.Pitch, 4 * kPitch);
  EXPECT_NEAR(static_cast<double>(uv.OffsetPixels), -30.5556, 1e-4);
  const CorrectionConstants vis = DeriveCorrectionConstants(s, 3);
  EXPECT_EQ(vis.K1, kVisK1);
  EXPECT_NEAR(static_cast<double>(vis.OffsetPixels), 50.0, 1e-12);
}

TEST(AssemblyCorrection, ZeroCoefficientsReproduceTheUncorrectedStack) {
  TempDir dir;
  const std::string ini = dir.File("Quelmar.ini");
  WriteFileBytes(ini, Settings("k1_visible=0\nk2_visible=0\n"));
  const LoadedProduct p = MakeImage(6, 70, 704, 5);
  for (const bool invert : {false, true}) {
    Built corrected, plain;
    PictureRequest r = Corrected(corrected, ini, 1, 11, false, 5, invert);
    corrected.Run(p, r);
    r.CorrectDistortion = false;
    plain.Run(p, r);
    ASSERT_EQ(corrected.picture.Width(), 705);
    ASSERT_EQ(corrected.picture.Height(), plain.picture.Height());
    for (int32_t y = 0; y < plain.picture.Height(); ++y) {
      ASSERT_EQ(std::memcmp(corrected.picture.Row(y), plain.picture.Row(y), 704 * 3), 0) << y;
      EXPECT_TRUE(PixelIs(corrected.picture, y, 704, 0, 0, 255));  // no data: red by default
    }
    // The shift is asked once per corrected stack, after the band, even without "vertically".
    EXPECT_EQ(corrected.port.Lines(), (Lines{"<band>", "<shift>", "<band>"}));
  }
}

TEST(AssemblyCorrection, VerticalCorrectionWithShift) {
  TempDir dir;
  const std::string ini = dir.File("Quelmar.ini");
  WriteFileBytes(ini, Settings("k1_visible=0\nk2_visible=0\nNoDataColor=16711680\n"));
  const LoadedProduct p = MakeImage(4, 70, 704, 5);
  for (const auto& [shift, invert] : {std::pair{2, false}, {-1, false}, {2, true}}) {
    SCOPED_TRACE(::testing::Message() << "shift " << shift << " inverted " << invert);
    Built b;
    b.Run(p, Corrected(b, ini, 2, 11, true, shift, invert));
    ASSERT_EQ(b.picture.Height(), 3 * 11 + 14);
    for (int32_t y = 0; y < b.picture.Height(); ++y) {
      const int32_t f = std::min(y / 11, 3), line = y - 11 * f + 1;
      const int32_t shown = (invert ? 14 - line + 1 : line) + shift;  // band row shown
      if (shown < 1 || shown > 14) {
        EXPECT_TRUE(PixelIs(b.picture, y, 0, 255, 0, 0) && PixelIs(b.picture, y, 703, 255, 0, 0))
            << "row " << y << " should be blue";
      } else {
        EXPECT_TRUE(RowShows(b.picture, y, 0, p, f * 70 + 14 + shown - 1, 0, 704));
      }
    }
  }
}

// Offsets computed along a row agree with the radial model written out in extended reals,
// near the centre, along the strip and far beyond any real product's width.
TEST(AssemblyCorrection, DisplacementsFollowTheRadialModel) {
  RadialTable table = BuildRadialTable(kRadiusLimit, kVisK1, kVisK2, kPitch);
  CorrectionConstants c;
  c.OffsetPixels = static_cast<Real>(0.3);
  const std::vector<Real> entries = table.Entries;
  const DistortionGeometry g(std::move(table.Entries), c, 14, 704);
  auto expected = [&](int64_t dx, int32_t dy) {
    const Real x = static_cast<Real>(dx), y = static_cast<Real>(dy);
    const Real rho = Round(std::sqrt(x * x + y * y));
    SourceDisplacement d;
    if (!(rho < static_cast<Real>(entries.size()))) return d;
    const Real f = entries[static_cast<size_t>(rho)];
    d.HasSource = true;
    d.Dx = static_cast<int32_t>(Round(x * f));
    d.Dy = static_cast<int32_t>(Round(y * f));
    return d;
  };
  std::vector<std::pair<int64_t, int32_t>> points;
  for (int64_t dx = -2100; dx <= 2100; dx += 7)
    for (const int32_t dy : {-40, -7, 0, 1, 6, 33}) points.push_back({dx, dy});
  for (int64_t dx : {int64_t{1} << 24, (int64_t{1} << 25) + 3, int64_t{3} << 40})
    points.push_back({dx, 2});
  for (const auto& [dx, dy] : points) {
    const SourceDisplacement want = expected(dx, dy), got = g.Displacement(dx, dy);
    ASSERT_EQ(got.HasSource, want.HasSource) << dx << ", " << dy;
    ASSERT_EQ(got.Dx, want.Dx) << dx << ", " << dy;
    ASSERT_EQ(got.Dy, want.Dy) << dx << ", " << dy;
  }
  // Whole rows as SourceOffset gives them: row b lies Round(14 / 2 + 0.3 - b) from the centre.
  EXPECT_EQ(g.DeltaY(3), 4);
  EXPECT_EQ(g.SourceOffset(10, 3).Dx, expected(10 - g.OutputCentre(), 4).Dx);
}

TEST(AssemblyCorrection, DefaultGeometryWidensStrips) {
  TempDir dir;  // no settings file: the defaults
  const std::string ini = dir.File("Quelmar.ini");
  for (const int32_t band : {1, 2}) {
    Built b;
    b.Run(MakeImage(5, 8, 128, 2), Corrected(b, ini, band, 2.15L, false, 0));
    EXPECT_EQ(b.picture.Width(), 173);
    EXPECT_EQ(b.port.Lines(), (Lines{"<band>", "<shift>"}));
  }
  // A visible strip widens below twice the source width; its centre keeps the source centre
  // and no pixel of it stays white.
  const LoadedProduct vis = MakeImage(3, 70, 704, 5);
  Built b;
  b.Run(vis, Corrected(b, ini, 3, 11, false, 0));
  EXPECT_GT(b.picture.Width(), 704);
  EXPECT_LT(b.picture.Width(), 2 * 704);
  EXPECT_TRUE(RowShows(b.picture, 0, b.picture.Width() / 2, vis, 28, 352, 1));
  for (int32_t y = 0; y < b.picture.Height(); ++y)
    for (int32_t x = 0; x < b.picture.Width(); ++x)
      ASSERT_FALSE(PixelIs(b.picture, y, x, 255, 255, 255));
}

TEST(AssemblyCorrection, FallbackFilterAndEditedSettings) {
  TempDir dir;
  const std::string ini = dir.File("Quelmar.ini");
  LoadedProduct p = MakeImage(3, 14, 200, 1);
  p.BandWavelengths[0] = "3";  // a label without wavelengths
  Built first, second;
  first.Run(p, Corrected(first, ini, 1, 11, false, 0));
  EXPECT_EQ(first.port.Lines(),
            (Lines{"<band>", "Wavelength given in header (3 nm) not found in filter list",
                   "> using 604 nm geometry for distortion correction", "<shift>"}));
  // The file is read afresh: an edit between two stacks shows in the second one.
  WriteFileBytes(ini, Settings("Vis_Band3_ID=3\nk1_visible=0\nk2_visible=0\n"));
  second.Run(p, Corrected(second, ini, 1, 11, false, 0));
  EXPECT_EQ(second.port.Lines(), (Lines{"<band>", "<shift>"}));
  EXPECT_GT(first.picture.Width(), 201);
  EXPECT_EQ(second.picture.Width(), 201);
}

TEST(AssemblyCorrection, UnusableSettingsAreRefusedWithoutChangingAnything) {
  const std::pair<const char*, const char*> cases[] = {
      {"CCD_pixel_spacing=0", "CCD_pixel_spacing = 0 must be a finite number above 0"},
      {"CCD_pixel_spacing=-0.009", "CCD_pixel_spacing = -0.009 must be"},
      {"CCD_pixel_spacing=1e400", "CCD_pixel_spacing = inf must be"},
      {"CCD_pixel_spacing=9", "CCD_pixel_spacing = 9 is too large"},
      {"k1_visible=1",
       "k1_visible = 1 and k2_visible = -0.0005 (with CCD_pixel_spacing = "
       "0.009) make the corrected radius shrink"},
      {"Vis_Band1_Offset=1e309", "Vis_Band1_Offset = inf must be a finite number"},
  };
  TempDir dir;
  const std::string ini = dir.File("Quelmar.ini");
  for (const auto& [settings, says] : cases) {
    WriteFileBytes(ini, Settings(std::string(settings) + "\n"));
    Built b;
    b.displayed.Wavelength = "689";
    b.picture.Reset(9, 4);
    b.picture.Row(0)[0] = 7;
    b.Run(MakeImage(3, 70, 64, 5), Corrected(b, ini, 1, 11, true, 0));
    ASSERT_EQ(b.outcome, DisplayOutcome::Refused);
    const Lines lines = b.port.Lines();
    ASSERT_EQ(lines.size(), 2u);  // the band was asked; the shift never is
    EXPECT_NE(lines[1].find(std::string("Distortion correction not possible: ") + says),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[1].find(ini), std::string::npos);
    EXPECT_EQ(b.displayed.Wavelength, "689");
    EXPECT_FALSE(b.displayed.Stacked);
    EXPECT_EQ(b.picture.Width(), 9);
    EXPECT_EQ(b.picture.Row(0)[0], 7);
    EXPECT_TRUE(b.port.CursorRestored());
  }
}

}  // namespace
}  // namespace quelmar
