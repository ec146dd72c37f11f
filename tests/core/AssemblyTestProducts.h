#pragma once
// Synthetic products for the picture-builder tests. Every sample stays below 200, so white
// (255) always means "no strip here"; columns 0 and 1 of each row spell its row number
// (row % 200, row / 200), so a picture row tells which product row it shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "assembly/PictureBuilder.h"
#include "support/ScriptedPort.h"

namespace quelmar::testing {

inline uint8_t SampleAt(int32_t row, int32_t col) {
  if (col < 2) return static_cast<uint8_t>(col == 0 ? row % 200 : (row / 200) % 200);
  return static_cast<uint8_t>((row * 13 + col * 7) % 200);
}

// `framelets` framelets of `frameletHeight` rows of `width` samples plus `extraRows` rows of an
// incomplete framelet; the camera's wavelengths for 2, 5 and 7 bands, "643" for one band.
inline LoadedProduct MakeImage(int32_t framelets, int32_t frameletHeight, int32_t width,
                               int32_t bandCount, int32_t extraRows = 0) {
  LoadedProduct p;
  p.RowCount = framelets * frameletHeight + extraRows;
  p.Rows.Allocate(p.RowCount, width);
  for (int32_t r = 0; r < p.RowCount; ++r)
    for (int32_t c = 0; c < width; ++c) p.Rows.Row(r)[c] = SampleAt(r, c);
  p.FrameletHeight = frameletHeight;
  p.FrameletCount = framelets;
  p.BandCount = bandCount;
  const char* all[] = {"321", "360", "415", "566", "604", "643", "689"};
  const int first = bandCount == 5 ? 2 : 0;
  for (int k = 0; k < 7; ++k) p.BandWavelengths[k] = std::to_string(k + 1);
  for (int k = 0; k < bandCount && k + first < 7; ++k) p.BandWavelengths[k] = all[k + first];
  if (bandCount == 1) p.BandWavelengths[0] = "643";
  return p;
}

// One build with its port, record and picture.
struct Built {
  ScriptedPort port;
  DisplayedImageInfo displayed;
  Picture picture;
  DisplayOutcome outcome = DisplayOutcome::NoImage;
  void Run(const LoadedProduct& p, const PictureRequest& r) {
    outcome = DisplayImage(p, r, port, displayed, picture);
  }
};

inline PictureRequest StackOf(int32_t band, Real vt, Real ht = 0, bool invert = false) {
  PictureRequest r;
  r.Stacked = true;
  r.Invert = invert;
  r.VerticalTravel = vt;
  r.HorizontalTravel = ht;
  r.ReadBand = [band] { return band; };
  return r;
}

// The product row shown by picture row y for a strip starting at `column`, or -1.
inline int32_t ShownRow(const Picture& pic, int32_t y, int32_t column) {
  const uint8_t* px = pic.Row(y) + 3 * column;
  if (px[0] != px[1] || px[0] != px[2] || px[0] == 255 || px[3] == 255) return -1;
  return px[0] + 200 * px[3];
}

inline bool PixelIs(const Picture& pic, int32_t y, int32_t x, uint8_t b, uint8_t g, uint8_t r) {
  const uint8_t* px = pic.Row(y) + 3 * x;
  return px[0] == b && px[1] == g && px[2] == r;
}

// Picture row y, from `column` on, shows `count` samples of product row `row` from `first` on.
inline ::testing::AssertionResult RowShows(const Picture& pic, int32_t y, int32_t column,
                                           const LoadedProduct& p, int32_t row, int32_t first,
                                           int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t v = p.Rows.Row(row)[first + i];
    if (!PixelIs(pic, y, column + i, v, v, v)) {
      return ::testing::AssertionFailure()
             << "picture row " << y << " column " << column + i << " is not product row " << row;
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace quelmar::testing
