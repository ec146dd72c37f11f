#pragma once
// A colour picture of one product: three of its bands, each read at sub-pixel precision from the
// framelets themselves, registered on the reference band's stack grid and combined into one
// 24-bit picture (red from the longest wavelength, blue from the shortest).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "assembly/Picture.h"
#include "assembly/TravelProfile.h"
#include "product/LoadedProduct.h"
#include "util/Numbers.h"
#include "util/UserPort.h"

namespace quelmar {

struct ColourStretch {
  bool Enabled = false;  // false: the samples as they are
  Real LowPercent = 1;   // per channel, the levels at these percentiles become 0 and 255
  Real HighPercent = 99;
};

struct ColourRequest {
  std::array<int32_t, 3> Bands{3, 5, 7};  // 1-based band numbers, in any order
  int32_t Reference = 0;                  // a band of the three; 0: the middle wavelength
  // Travel of the visible bands, rows and columns per framelet; ultraviolet bands (binned 4 x 4)
  // travel a quarter of it.
  Real VerticalTravel = 11;
  Real HorizontalTravel = 0;
  // A travel that varies along the product (visible bands' rows and columns per framelet pair),
  // used in place of the two above; empty: the constant travels.
  TravelProfile Profile;
  bool Invert = false;
  bool CorrectDistortion = false;
  bool CorrectVertically = false;
  int32_t Shift = 0;
  std::string SettingsPath;
  ColourStretch Stretch;
  bool MeasureOffsets = true;  // false: the offsets the camera geometry predicts, unmeasured
  int32_t Threads = 0;         // cores sampling the picture at once; 0: every core
};

// One channel's registration on the reference grid, in reference pixels: how far the band's
// ground lies from where the camera geometry puts it (to the right and down), at the picture's
// middle row and as a change per 1000 rows, and what remained after taking it into account.
struct ChannelRegistration {
  int32_t Band = 0;
  std::string Wavelength;
  bool Reference = false;
  bool Measured = false;  // false: the geometry's offset, not measured (see Note)
  Real Dx = 0, Dy = 0;    // correction at the picture's middle row
  Real DxPer1000 = 0, DyPer1000 = 0;
  int32_t Windows = 0;  // windows along the strip that gave a match
  Real Residual = 0;    // misregistration left, pixels (median over the windows)
  std::string Note;     // why a channel could not be measured
};

struct ColourResult {
  Picture Image;
  std::array<int32_t, 3> Bands{};  // red, green, blue
  std::array<std::string, 3> Wavelengths;
  int32_t Reference = 0;
  std::array<ChannelRegistration, 3> Channels;  // red, green, blue
  // Not corrected vertically: each band's rows curve as the camera bends them, each band
  // differently, so one offset lines the bands up in the middle of the picture only.
  bool CurvedRows = false;
};

// The bands of 689, 604 and 415 nm (red, green, blue), when the product has all three.
std::optional<std::array<int32_t, 3>> DefaultColourBands(const LoadedProduct& product);

// The name Save proposes: "<PRODUCT_ID>_<wlR>_<wlG>_<wlB>nm.bmp".
std::string ColourFileName(const std::string& productId, const ColourResult& result);

// The three bands in red, green, blue order (longest wavelength first; band order where the
// wavelengths do not read as numbers), and the reference band. RangeError (with the reason) for
// bands outside the product, repeated bands, a product with fewer than three bands or a
// reference that is not one of the three.
struct ColourBands {
  std::array<int32_t, 3> Rgb{};
  int32_t Reference = 0;
};
ColourBands ChooseColourBands(const LoadedProduct& product, const ColourRequest& request);

// The band a colour picture's travel is measured on: the reference where it is a visible band,
// else the red one (the picture's travel is the visible bands'; ultraviolet bands travel a
// quarter of it).
int32_t ColourTravelBand(const LoadedProduct& product, const ColourBands& chosen);

// Builds the colour picture. The message lines (settings problems, unknown wavelengths) go to
// the port; errors are thrown as for a stack, before anything is returned.
ColourResult BuildColourComposite(const LoadedProduct& product, const ColourRequest& request,
                                  UserPort& port);
// The same into `picture`, whose storage it keeps where the new picture fits in it (as a stack
// does, a window that shows one picture after another does not ask the system for fresh memory
// each time): the result's Image stays empty. The errors above, and a picture too large, leave
// `picture` as it was.
ColourResult BuildColourComposite(const LoadedProduct& product, const ColourRequest& request,
                                  UserPort& port, Picture& picture);

// The lines that report a colour picture's registration, one per channel, and a note when its
// rows are not corrected vertically.
std::vector<std::string> RegistrationLines(const ColourResult& result);

}  // namespace quelmar
