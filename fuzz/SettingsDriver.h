#pragma once
// The settings file with the correction constants: a Quelmar.ini made from the input (free text,
// or key = value lines whose values come from a table of extremes), then a corrected stack of a
// small fixed product, Find travel on it and a colour picture of it. Each may show its picture
// or travel, refuse the settings with a message line, or end with a run-time error; none may
// crash, hang or read outside the product.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>

#include "ColourCheck.h"
#include "FuzzSupport.h"
#include "assembly/CameraSettings.h"
#include "assembly/ColourComposite.h"
#include "assembly/Picture.h"
#include "assembly/PictureBuilder.h"
#include "assembly/TravelFinder.h"
#include "product/LoadedProduct.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar::fuzz {

namespace settings_detail {

inline constexpr const char* kKeys[] = {"UV_Band1_ID",
                                        "UV_Band2_ID",
                                        "Vis_Band1_ID",
                                        "Vis_Band2_ID",
                                        "Vis_Band3_ID",
                                        "Vis_Band4_ID",
                                        "Vis_Band5_ID",
                                        "CCD_pixel_spacing",
                                        "UV_Band1_Offset",
                                        "UV_Band2_Offset",
                                        "Vis_Band1_Offset",
                                        "Vis_Band2_Offset",
                                        "Vis_Band3_Offset",
                                        "Vis_Band4_Offset",
                                        "Vis_Band5_Offset",
                                        "k1_uv",
                                        "k2_uv",
                                        "k1_visible",
                                        "k2_visible",
                                        "NoDataColor",
                                        "ccd_PIXEL_spacing",
                                        "[Quelmar parameters]"};

// Values at and beyond the edges of what the correction can use.
inline constexpr const char* kValues[] = {
    "0",          "-0",        "0.009",    "-0.009",     "1e-30",
    "1e-300",     "4.9e-324",  "2.3e-308", "1e308",      "1.7976931348623157e308",
    "1e309",      "-1e309",    "1e4000",   "-1e4000",    "1e-4000",
    "5",          "5.0",       "10",       "1",          "-1",
    "1000",       "-1000",     "1e10",     "-1e10",      "1e-5",
    "0.0001",     "0.0025",    "0.05",     "0.036",      "-0.024",
    "-0.0099",    "0.5",       "-0.5",     "2147483647", "-2147483648",
    "4294967296", "$FFFFFFFF", "16711680", "321",        "360",
    "415",        "604",       "",         "abc",        "0,009",
    " 0.009 ",    "1e-9",      "3e-3"};

// A small product of every kind the correction meets, with the archive's usual wavelengths.
inline const LoadedProduct& FixedProduct(size_t kind) {
  struct Kind {
    const char* id;
    int32_t bands, frameletHeight, framelets, width;
  };
  static constexpr Kind kKinds[] = {{"M000000001CE", 7, 78, 3, 704},
                                    {"M000000002VE", 5, 70, 3, 704},
                                    {"M000000003UE", 2, 8, 6, 128},
                                    {"M000000004ME", 1, 14, 4, 1024},
                                    {"M000000005CE", 7, 78, 2, 3}};
  static std::array<LoadedProduct, 5> products = [] {
    std::array<LoadedProduct, 5> out;
    for (size_t i = 0; i < out.size(); ++i) {
      const Kind& k = kKinds[i];
      LoadedProduct& p = out[i];
      p.ProductId = k.id;
      p.HeaderLines = {std::string("PRODUCT_ID = ") + k.id, "END"};
      p.BandCount = k.bands;
      p.FrameletHeight = k.frameletHeight;
      const int32_t rows = k.frameletHeight * k.framelets + 1;  // and part of a framelet
      p.Rows.Allocate(rows, k.width);
      for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < k.width; ++c) p.Rows.Row(r)[c] = static_cast<uint8_t>(r * 7 + c);
      }
      p.RowCount = rows;
      p.FrameletCount = rows / k.frameletHeight;
      if (k.bands == 7) p.BandWavelengths = {"321", "360", "415", "566", "604", "643", "689"};
      if (k.bands == 5) p.BandWavelengths = {"415", "566", "604", "643", "689", "6", "7"};
      if (k.bands == 2) p.BandWavelengths = {"321", "360", "3", "4", "5", "6", "7"};
      if (k.bands == 1) p.BandWavelengths = {"643", "2", "3", "4", "5", "6", "7"};
    }
    return out;
  }();
  return products[kind % products.size()];
}

// The settings text: free text when the mode byte is even, else key = value lines built from
// pairs of bytes (key, value), with a section line first.
inline std::string SettingsText(InputBytes& in, bool structured) {
  if (!structured) return std::string(in.Rest());
  std::string text = "[Quelmar parameters]\r\n";
  while (!in.Rest().empty()) {
    const char* key = kKeys[in.Pick(std::size(kKeys))];
    const char* value = kValues[in.Pick(std::size(kValues))];
    text += std::string(key) + "=" + value + "\r\n";
  }
  return text;
}

}  // namespace settings_detail

// Bytes 0-4 choose the product, band, inversion, vertical correction, travels and shift; the
// rest makes the settings file.
inline void RunSettingsInput(const uint8_t* data, size_t size) {
  InputBytes in(data, size);
  const uint8_t mode = in.Byte();
  const LoadedProduct& product = settings_detail::FixedProduct(mode >> 4);
  const uint8_t bandByte = in.Byte();
  static constexpr std::array<long double, 6> kVerticalTravel = {11.0L, 2.15L,  0.0L,
                                                                 14.0L, 100.0L, 0.5L};
  static constexpr std::array<long double, 5> kHorizontalTravel = {0.0L, -1.5L, 0.4L, 3.0L, -0.25L};
  static constexpr std::array<int32_t, 8> kExtremeShifts = {std::numeric_limits<int32_t>::max(),
                                                            std::numeric_limits<int32_t>::min(),
                                                            1 << 20,
                                                            -(1 << 20),
                                                            1000,
                                                            -1000,
                                                            100,
                                                            -100};
  const uint8_t travel = in.Byte();
  const uint8_t shiftByte = in.Byte();
  const int32_t shift = (shiftByte & 0x80) ? kExtremeShifts[shiftByte % kExtremeShifts.size()]
                                           : static_cast<int32_t>(shiftByte % 32) - 16;
  // Mostly a band of the product; now and then one outside it.
  const int32_t band = (bandByte & 0xF0) == 0xF0 ? static_cast<int32_t>(bandByte & 0x0F) - 4
                                                 : 1 + bandByte % product.BandCount;

  const std::string settingsPath = ScratchFolder::Instance().File(kSettingsFileName);
  WriteScratchFile(settingsPath, settings_detail::SettingsText(in, (mode & 1) != 0));

  PictureRequest request;
  request.Stacked = true;
  request.CorrectDistortion = true;
  request.Invert = (mode & 2) != 0;
  request.CorrectVertically = (mode & 4) != 0;
  request.VerticalTravel = kVerticalTravel[travel % kVerticalTravel.size()];
  request.HorizontalTravel = kHorizontalTravel[(travel / 8) % kHorizontalTravel.size()];
  request.ReadBand = [band] { return band; };
  request.ReadShift = [shift] { return shift; };
  request.SettingsPath = settingsPath;

  SilentPort port;
  Picture picture;
  DisplayedImageInfo shown;
  DisplayOutcome outcome = DisplayOutcome::Refused;
  try {
    outcome = DisplayImage(product, request, port, shown, picture);
  } catch (const QuelmarError&) {
    // A band outside the product or a value that overflows: a run-time error with its text.
  }
  Check(port.CursorRestored(), "the busy cursor is restored after a corrected stack");
  if (outcome == DisplayOutcome::Shown) {
    Check(shown.Stacked, "a stack is recorded as stacked");
    Check(picture.Width() >= 0 && picture.Height() >= 0, "a picture has a size");
    const int64_t strip = 2 * std::max<int64_t>(product.Rows.Width(), 128);
    const auto extra =
        static_cast<int64_t>(std::fabs(request.HorizontalTravel) * product.FrameletCount + 1);
    Check(picture.Width() <= strip + extra, "a corrected strip is at most twice its start");
  }

  // Find travel on the same band with the same settings, picture options and shift.
  StripGeometry geometry;
  geometry.Band = band;
  geometry.Invert = request.Invert;
  geometry.CorrectDistortion = true;
  geometry.CorrectVertically = request.CorrectVertically;
  geometry.Shift = request.CorrectVertically ? shift : 0;
  geometry.SettingsPath = settingsPath;
  try {
    const TravelEstimate e = MeasureTravel(product, geometry, port, 1 + (travel / 128));
    Check(e.Found ? std::isfinite(static_cast<double>(e.Vertical)) &&
                        std::isfinite(static_cast<double>(e.Horizontal))
                  : !e.Reason.empty(),
          "a travel found is a number, and one not found says why");
  } catch (const QuelmarError&) {
  }
  Check(port.CursorRestored(), "the busy cursor is restored after Find travel");

  // A colour picture of the same band and two others, with the same settings, travels and shift
  // (a product of three bands or more).
  if (product.BandCount < 3) return;
  ColourRequest colour;
  const int32_t others = 1 + (travel / 64) % product.BandCount;
  colour.Bands = {band, others, 1 + (others % product.BandCount)};
  colour.VerticalTravel = request.VerticalTravel;
  colour.HorizontalTravel = request.HorizontalTravel;
  colour.Invert = request.Invert;
  colour.CorrectDistortion = true;
  colour.CorrectVertically = request.CorrectVertically;
  colour.Shift = shift;
  colour.SettingsPath = settingsPath;
  colour.Threads = 1;
  BuildAndCheckColour(product, colour, port);
}

}  // namespace quelmar::fuzz
