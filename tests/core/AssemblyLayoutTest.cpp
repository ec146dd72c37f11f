// Raw and stacked pictures: layout, inversion, travels, and the record of what is shown.
#include <gtest/gtest.h>

#include <vector>

#include "AssemblyTestProducts.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using testing::Built;
using testing::MakeImage;
using testing::PixelIs;
using testing::RowShows;
using testing::ShownRow;
using testing::StackOf;

PictureRequest Raw(bool invert) {
  PictureRequest r;
  r.Invert = invert;
  r.VerticalTravel = 3;  // a raw picture ignores the travels
  r.HorizontalTravel = 2;
  return r;
}

std::vector<int32_t> ShownRows(const Picture& pic) {
  std::vector<int32_t> rows;
  for (int32_t y = 0; y < pic.Height(); ++y) rows.push_back(ShownRow(pic, y, 0));
  return rows;
}

TEST(AssemblyRaw, ShowsFrameletsInOrderOrTurnedOver) {
  const LoadedProduct p = MakeImage(10, 14, 1024, 1, 5);  // 5 rows that are never shown
  for (const bool invert : {false, true}) {
    Built b;
    b.displayed.Wavelength = "566";
    b.displayed.Stacked = true;
    b.Run(p, Raw(invert));
    ASSERT_EQ(b.outcome, DisplayOutcome::Shown);
    ASSERT_EQ(b.picture.Width(), 1024);
    ASSERT_EQ(b.picture.Height(), 140);
    for (int32_t y = 0; y < 140; ++y) {
      ASSERT_TRUE(RowShows(b.picture, y, 0, p, invert ? y / 14 * 14 + 13 - y % 14 : y, 0, 1024));
    }
    if (invert) {
      EXPECT_EQ(ShownRows(b.picture)[14], 27);
    }
    EXPECT_FALSE(b.displayed.Stacked);
    EXPECT_EQ(b.displayed.Inverted, invert);
    EXPECT_EQ(b.displayed.Wavelength, "566");  // the last stack's values stay
    EXPECT_TRUE(b.port.CursorRestored());
  }
}

TEST(AssemblyRaw, NothingLoadedLeavesTheRecordAndEmptiesThePicture) {
  Built b;
  b.picture.Reset(30, 20);
  b.displayed.Wavelength = "415";
  b.displayed.Stacked = true;
  for (const PictureRequest& r : {Raw(true), StackOf(1, 11)}) {
    b.Run(LoadedProduct(), r);
    EXPECT_EQ(b.outcome, DisplayOutcome::NoImage);
    EXPECT_EQ(b.picture.Width() + b.picture.Height(), 0);
    EXPECT_EQ(b.displayed.Wavelength, "415");
    EXPECT_TRUE(b.displayed.Stacked);
    EXPECT_FALSE(b.displayed.Inverted);
  }
  EXPECT_EQ(b.port.Lines(), std::vector<std::string>(2, "Need to load readable image data"));
}

TEST(AssemblyStack, RowsPerFrameletFollowTheRoundedTravel) {
  struct Case {
    int32_t framelets, height, bands, band;
    Real vt;
    int32_t pictureHeight;
    std::vector<int32_t> starts;  // picture row where each of the first framelets begins
  };
  const Case cases[] = {
      {10, 8, 2, 1, 2.15L, 23, {0, 2, 4, 6, 9, 11}},  // 2, 2, 2, 3, 2 rows
      {10, 8, 2, 1, 2.5L, 26, {0, 2, 5, 8, 10}},      // halves to even: 2, 3, 3, 2
      {100, 70, 5, 1, 11, 1103, {0, 11, 22, 33}},
      {10, 8, 2, 2, 0, 4, {}},  // only the last framelet's strip
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "travel " << static_cast<double>(c.vt));
    Built b;
    b.Run(MakeImage(c.framelets, c.height, 16, c.bands), StackOf(c.band, c.vt));
    ASSERT_EQ(b.picture.Height(), c.pictureHeight);
    const std::vector<int32_t> rows = ShownRows(b.picture);
    const int32_t t = c.band == 1 ? 0 : 4, h = c.bands == 5 ? 14 : 4;
    for (size_t f = 0; f < c.starts.size(); ++f) {
      EXPECT_EQ(rows[c.starts[f]], static_cast<int32_t>(f) * c.height + t) << "framelet " << f;
    }
    for (int32_t y = 0; y < h; ++y) {
      EXPECT_EQ(rows[c.pictureHeight - h + y], (c.framelets - 1) * c.height + t + y);
    }
  }
}

TEST(AssemblyStack, TravelBeyondTheBandAndInvertedStrips) {
  const LoadedProduct p = MakeImage(5, 78, 16, 7);
  struct Case {
    int32_t band;
    Real vt;
    bool invert;
    std::vector<std::pair<int32_t, int32_t>> rows;  // picture row -> product row
  };
  const Case cases[] = {
      // Band 1 (4 rows) with a travel of 14 shows rows 0..13 of each framelet (bands 2, 3).
      {1, 14, false, {{0, 0}, {4, 4}, {13, 13}, {14, 78}, {55, 3 * 78 + 13}, {56, 312}, {59, 315}}},
      {3, 11, true, {{0, 21}, {10, 11}, {11, 78 + 21}, {4 * 11 + 13, 4 * 78 + 8}}},
      // Turned over, the rows before the band follow, clamped to the first product row.
      {1, 14, true, {{0, 3}, {3, 0}, {4, 0}, {13, 0}, {14, 78 + 3}, {18, 77}}},
  };
  for (const Case& c : cases) {
    Built b;
    b.Run(p, StackOf(c.band, c.vt, 0, c.invert));
    const std::vector<int32_t> rows = ShownRows(b.picture);
    for (const auto& [y, row] : c.rows)
      EXPECT_EQ(rows.at(y), row) << "band " << c.band << " y " << y;
  }
}

TEST(AssemblyStack, HorizontalTravelPlacesEachFramelet) {
  struct Case {
    Real ht;
    int32_t extra;
    std::vector<int32_t> columns;
  };
  const Case cases[] = {{-1.5L, 15, {15, 14, 12, 10, 9, 8, 6, 4, 3, 2}},
                        {0.4L, 4, {0, 0, 1, 1, 2, 2, 2, 3, 3, 4}}};
  const LoadedProduct p = MakeImage(10, 14, 64, 1);
  for (const Case& c : cases) {
    Built b;
    b.Run(p, StackOf(1, 14, c.ht));
    ASSERT_EQ(b.picture.Width(), 64 + c.extra);
    for (int32_t f = 0; f < 10; ++f) {
      int32_t first = 0;
      while (PixelIs(b.picture, f * 14, first, 255, 255, 255)) ++first;
      EXPECT_EQ(first, c.columns[f]) << "framelet " << f + 1;
      EXPECT_TRUE(RowShows(b.picture, f * 14, first, p, f * 14, 0, 64));
      for (int32_t x = first + 64; x < b.picture.Width(); ++x)
        EXPECT_TRUE(PixelIs(b.picture, f * 14, x, 255, 255, 255));
    }
  }
}

// A picture is built over whatever the previous command left in the same block (a raw picture,
// a wider stack): every byte of the new one, margins and row padding included, must be what a
// build into an empty picture gives.
TEST(AssemblyStack, APictureBuiltOverAnotherIsTheSameAsOneBuiltAfresh) {
  const LoadedProduct p = MakeImage(10, 14, 63, 1);
  // Corrected with the built-in camera settings (no settings file there), horizontally and in
  // both directions.
  auto corrected = [](bool vertical, Real ht) {
    PictureRequest r = StackOf(1, 11, ht);
    r.CorrectDistortion = true;
    r.CorrectVertically = vertical;
    r.ReadShift = [] { return 0; };
    r.SettingsPath = "no such folder/Quelmar.ini";
    return r;
  };
  const PictureRequest requests[] = {
      Raw(false),          StackOf(1, 14, -1.5L),  StackOf(1, 3, 0.4L), Raw(true),
      corrected(false, 0), corrected(true, -1.5L), corrected(true, 0),  StackOf(1, 14, 0.4L),
      StackOf(1, 0),       StackOf(1, 5, 2, true)};
  Built reused;
  for (const PictureRequest& r : requests) {
    reused.Run(p, r);
    Built fresh;
    fresh.Run(p, r);
    ASSERT_EQ(fresh.outcome, DisplayOutcome::Shown);
    ASSERT_EQ(reused.picture.Width(), fresh.picture.Width());
    ASSERT_EQ(reused.picture.Height(), fresh.picture.Height());
    const size_t bytes = static_cast<size_t>(fresh.picture.Stride()) * fresh.picture.Height();
    EXPECT_EQ(std::vector<uint8_t>(reused.picture.Data(), reused.picture.Data() + bytes),
              std::vector<uint8_t>(fresh.picture.Data(), fresh.picture.Data() + bytes))
        << "travel " << static_cast<double>(r.VerticalTravel) << ", "
        << static_cast<double>(r.HorizontalTravel) << (r.Stacked ? " stacked" : " raw");
    // Nothing is written past a row's last pixel: the padding stays white.
    for (int32_t y = 0; y < fresh.picture.Height(); ++y) {
      for (int32_t b = fresh.picture.Width() * 3; b < fresh.picture.Stride(); ++b)
        ASSERT_EQ(fresh.picture.Row(y)[b], 0xFF) << "row " << y << ", byte " << b;
    }
  }
}

TEST(AssemblyStack, RecordsWhatIsShownAndClampsTheTravel) {
  struct Case {
    Real vt;
    bool correct, vertical;
    Real recordedVt;
    int32_t height;
    const char* note;
  };
  const Case cases[] = {
      {20, false, true, 8, 5 * 8 + 4, "Uncorrected for distortion"},
      {-3, false, false, 0, 4, "Uncorrected for distortion"},
      {2.15L, true, false, 2.15L, 15, "Corrected for horizontal distortion"},
      {2.15L, true, true, 2.15L, 15, "Corrected for horizontal and vertical distortion"},
  };
  for (const Case& c : cases) {
    PictureRequest r = StackOf(2, c.vt, -0.25, true);
    r.CorrectDistortion = c.correct;
    r.CorrectVertically = c.vertical;
    Built b;
    b.Run(MakeImage(6, 8, 128, 2), r);
    ASSERT_EQ(b.outcome, DisplayOutcome::Shown);
    EXPECT_EQ(b.picture.Height(), c.height);
    // The structured binding pins the record's field order as well as its values.
    const auto& [wavelength, vStep, hStep, isStacked, uvBand, inverted, note] = b.displayed;
    EXPECT_EQ(wavelength, "360");
    EXPECT_EQ(vStep, c.recordedVt);
    EXPECT_EQ(hStep, -0.25L);
    EXPECT_TRUE(isStacked && uvBand && inverted);
    EXPECT_EQ(note, c.note);
  }
}

TEST(AssemblyStack, FewerRowsThanOneFrameletDrawNothing) {
  const LoadedProduct mono = MakeImage(0, 14, 50, 1, 10), colour = MakeImage(0, 78, 50, 7, 30);
  const std::tuple<const LoadedProduct*, PictureRequest, int32_t> cases[] = {
      {&mono, Raw(false), 0}, {&mono, StackOf(1, 11), 3}, {&colour, StackOf(1, 11), 0}};
  for (const auto& [p, r, height] : cases) {
    Built b;
    b.Run(*p, r);
    EXPECT_EQ(b.picture.Width(), 50);
    ASSERT_EQ(b.picture.Height(), height);  // 14 - 11; 4 - 11 would be negative
    for (int32_t y = 0; y < height; ++y) EXPECT_TRUE(PixelIs(b.picture, y, 0, 255, 255, 255));
  }
}

TEST(AssemblyStack, BadBandsAndLayoutsLeavePictureAndRecordAlone) {
  const LoadedProduct colour = MakeImage(3, 78, 32, 7);
  const LoadedProduct short7 = MakeImage(3, 40, 32, 7);  // band 7 would start below a framelet
  LoadedProduct broken = MakeImage(3, 14, 32, 1), eight = MakeImage(2, 14, 32, 1);
  broken.FrameletCount = 4;  // more rows than were read
  eight.BandCount = 8;
  const std::tuple<const LoadedProduct*, PictureRequest, const char*> cases[] = {
      {&colour, StackOf(0, 11), "Band 0 is outside the bands of this product (1 to 7)"},
      {&colour, StackOf(8, 11), "Band 8 is outside"},
      {&eight, StackOf(8, 11), "(1 to 7)"},
      {&short7, StackOf(7, 11), "Band 7 has no rows"},
      {&colour, StackOf(1, 11, 1e12L), "extra width"},
      {&broken, Raw(false), "inconsistent"},
  };
  for (const auto& [p, r, says] : cases) {
    Built b;
    b.picture.Reset(7, 3);
    b.displayed.Wavelength = "415";
    try {
      b.Run(*p, r);
      ADD_FAILURE() << "no error for: " << says;
    } catch (const RangeError& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
    EXPECT_EQ(b.picture.Width(), 7);
    EXPECT_EQ(b.displayed.Wavelength, "415");
    EXPECT_TRUE(b.port.CursorRestored());
  }
}

}  // namespace
}  // namespace quelmar
