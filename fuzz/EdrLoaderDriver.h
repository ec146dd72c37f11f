#pragma once
// A whole product file: the loader reads it over a product that already holds an earlier load,
// then, when an image was read, the raw picture (plain and inverted) and a small stack, with or
// without distortion correction, are built from it; the travel of the stack's band is measured
// with the same options and stacked with, and a product of three bands or more is made into a
// colour picture.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "ColourCheck.h"
#include "FuzzSupport.h"
#include "assembly/ColourComposite.h"
#include "assembly/Picture.h"
#include "assembly/PictureBuilder.h"
#include "assembly/TravelFinder.h"
#include "product/EdrLoader.h"
#include "product/LoadedProduct.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar::fuzz {

namespace loader_detail {

// What an earlier load of a seven-band product left: the new load replaces it field by field.
inline void FillEarlierProduct(LoadedProduct& product) {
  product.ProductId = "M100000000CE";
  product.HeaderLines = {"PRODUCT_ID = M100000000CE", "END"};
  product.BandCount = 7;
  product.FrameletHeight = 78;
  product.Rows.Allocate(156, 16);
  for (int32_t r = 0; r < 156; ++r) {
    for (int32_t c = 0; c < 16; ++c) product.Rows.Row(r)[c] = static_cast<uint8_t>(r + c);
  }
  product.RowCount = 156;
  product.FrameletCount = 2;
  product.BandWavelengths = {"321", "360", "415", "566", "604", "643", "689"};
}

inline void CheckLoadedProduct(const LoadedProduct& p) {
  Check(p.RowCount >= 0 && p.FrameletCount >= 0, "counts are not negative");
  if (!p.HasImage()) {
    Check(p.RowCount == 0, "no image means no rows counted");
    return;
  }
  Check(p.Rows.Width() > 0, "an image has samples in its rows");
  Check(p.RowCount <= p.Rows.Lines(), "RowCount never exceeds the rows held");
  Check(p.FrameletHeight > 0, "an image comes with a framelet height");
  Check(p.FrameletCount == p.RowCount / p.FrameletHeight, "framelets are the whole ones read");
  Check(p.BandCount == 1 || p.BandCount == 2 || p.BandCount == 5 || p.BandCount == 7,
        "band count is 1, 2, 5 or 7");
}

inline DisplayOutcome Build(const LoadedProduct& product, const PictureRequest& request,
                            SilentPort& port, DisplayedImageInfo& shown, Picture& picture) {
  DisplayOutcome outcome = DisplayOutcome::Refused;
  try {
    outcome = DisplayImage(product, request, port, shown, picture);
  } catch (const QuelmarError&) {
    // A run-time error ends the build with a clear message; the cursor must be back.
  }
  Check(port.CursorRestored(), "the busy cursor is restored after every picture");
  return outcome;
}

}  // namespace loader_detail

// The last bytes of the input choose how the picture is built; the whole input is the file.
inline void RunEdrLoaderInput(const uint8_t* data, size_t size) {
  const std::string path = ScratchFolder::Instance().File("product.IMG");
  WriteScratchFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

  SilentPort port;
  LoadedProduct product;
  loader_detail::FillEarlierProduct(product);
  int32_t preparedBands = -1;
  bool loaded = false;
  try {
    const LoadOutcome outcome =
        LoadEdrProduct(path, product, port, [&](int32_t bands) { preparedBands = bands; });
    loaded = outcome == LoadOutcome::ImageRead;
    Check(outcome != LoadOutcome::ImageRead || product.HasImage() || product.RowCount == 0,
          "a load that read an image keeps it");
    Check(outcome == LoadOutcome::NoHeader || preparedBands == product.BandCount,
          "the fields are prepared for the product's band count");
  } catch (const QuelmarError&) {
    Check(!product.HasImage() && product.RowCount == 0 && product.FrameletCount == 0,
          "a load that failed leaves no image behind");
  }
  Check(port.CursorRestored(), "the busy cursor is restored after a load");
  loader_detail::CheckLoadedProduct(product);
  if (!loaded || !product.HasImage()) return;

  // Picture choices from the tail of the input (the head is the label).
  const uint8_t* tail = size >= 4 ? data + size - 4 : data;
  InputBytes choice(tail, size >= 4 ? 4 : size);
  static constexpr std::array<long double, 9> kVerticalTravel = {0.0L,  1.0L,  2.15L, 2.5L, 11.0L,
                                                                 14.0L, -1.0L, 1e6L,  0.49L};
  static constexpr std::array<long double, 6> kHorizontalTravel = {0.0L,  0.4L,  -1.5L,
                                                                   -0.5L, 2.75L, -3.0L};

  SilentPort picturePort;
  Picture picture;
  DisplayedImageInfo shown;
  PictureRequest raw;
  raw.Stacked = false;
  raw.VerticalTravel = product.FrameletHeight;
  raw.SettingsPath = ScratchFolder::Instance().File("no-settings-here.ini");
  for (const bool invert : {false, true}) {
    raw.Invert = invert;
    if (loader_detail::Build(product, raw, picturePort, shown, picture) == DisplayOutcome::Shown) {
      Check(picture.Width() == product.Rows.Width(), "a raw picture is as wide as a row");
      Check(static_cast<int64_t>(picture.Height()) ==
                static_cast<int64_t>(product.FrameletCount) * product.FrameletHeight,
            "a raw picture shows every whole framelet");
      Check(!shown.Stacked && shown.Inverted == invert, "the record describes the raw picture");
    }
  }

  PictureRequest stack;
  stack.Stacked = true;
  const uint8_t flags = choice.Byte();
  stack.Invert = (flags & 1) != 0;
  stack.CorrectDistortion = (flags & 2) != 0;
  stack.CorrectVertically = (flags & 4) != 0;
  const int32_t band = 1 + static_cast<int32_t>(choice.Byte() % product.BandCount);
  // Shifts of a few rows, and now and then the largest either way that the shift field takes.
  const uint8_t shiftByte = choice.Byte();
  const int32_t shift = shiftByte == 0x7F   ? INT32_MAX
                        : shiftByte == 0x80 ? INT32_MIN
                                            : static_cast<int8_t>(shiftByte) / 16;
  stack.VerticalTravel = kVerticalTravel[flags / 8 % kVerticalTravel.size()];
  stack.HorizontalTravel = kHorizontalTravel[choice.Pick(kHorizontalTravel.size())];
  stack.ReadBand = [band] { return band; };
  stack.ReadShift = [shift] { return shift; };
  stack.SettingsPath = raw.SettingsPath;
  loader_detail::Build(product, stack, picturePort, shown, picture);

  // Find travel on the stack's band, then a stack with what it found (its travels, or its
  // profile).
  StripGeometry geometry;
  geometry.Band = band;
  geometry.Invert = stack.Invert;
  geometry.CorrectDistortion = stack.CorrectDistortion;
  geometry.CorrectVertically = stack.CorrectDistortion && stack.CorrectVertically;
  geometry.Shift = geometry.CorrectVertically ? shift : 0;
  geometry.SettingsPath = raw.SettingsPath;
  const uint8_t more = choice.Byte();
  try {
    const TravelEstimate e = MeasureTravel(product, geometry, picturePort, 1 + more % 2);
    const int32_t pairs = std::max(0, product.FrameletCount - 1);
    Check(e.Pairs == pairs && e.PairsUsed >= 0 && e.PairsUsed <= e.Pairs,
          "the pairs used are pairs of the product");
    if (e.Found) {
      Check(std::isfinite(static_cast<double>(e.Vertical)) &&
                std::isfinite(static_cast<double>(e.Horizontal)) && e.PairsUsed > 0,
            "a travel found is a number, found on some pairs");
      Check(e.Profile.size() == static_cast<size_t>(pairs) &&
                e.SmoothVertical.size() == static_cast<size_t>(pairs) &&
                e.SmoothHorizontal.size() == static_cast<size_t>(pairs),
            "the profile has a value for every pair");
      Check(!TravelMessage(e).empty(), "a travel found is reported");
      PictureRequest found = stack;
      found.VerticalTravel = e.Vertical;
      found.HorizontalTravel = e.Horizontal;
      if ((more & 2) != 0) found.Profile = ProfileOf(e);
      loader_detail::Build(product, found, picturePort, shown, picture);
    } else {
      Check(!e.Reason.empty(), "a travel not found says why");
    }
  } catch (const QuelmarError&) {
  }
  Check(picturePort.CursorRestored(), "the busy cursor is restored after Find travel");

  // Colour: the default bands, or three picked ones (which may repeat), at the stack's travel.
  if (product.BandCount < 3) return;
  ColourRequest colour;
  const auto defaults = DefaultColourBands(product);
  if (defaults && (more & 1) == 0) {
    colour.Bands = *defaults;
  } else {
    colour.Bands = {1 + (more / 4) % product.BandCount, 1 + (more / 32) % product.BandCount, band};
  }
  colour.VerticalTravel = stack.VerticalTravel;
  colour.HorizontalTravel = stack.HorizontalTravel;
  colour.Invert = stack.Invert;
  colour.CorrectDistortion = geometry.CorrectDistortion;
  colour.CorrectVertically = geometry.CorrectVertically;
  colour.Shift = geometry.Shift;
  colour.SettingsPath = raw.SettingsPath;
  colour.Stretch.Enabled = (flags & 8) != 0;
  colour.Threads = 1 + more % 2;
  BuildAndCheckColour(product, colour, picturePort);
}

}  // namespace quelmar::fuzz
