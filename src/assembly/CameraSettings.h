#pragma once
// The camera geometry the distortion correction needs, from the optional settings file
// "Quelmar.ini" beside the program (section "Quelmar parameters"), and the choice of the filter
// whose geometry applies to the band being stacked.
#include <array>
#include <cstdint>
#include <string>

#include "util/Numbers.h"
#include "util/UserPort.h"

namespace quelmar {

inline constexpr const char* kSettingsFileName = "Quelmar.ini";
inline constexpr const char* kSettingsSection = "Quelmar parameters";

// Filter positions 1..7 (entry k - 1 holds position k): two ultraviolet, five visible.
inline constexpr int32_t kFilterCount = 7;
inline constexpr int32_t kFallbackFilter = 5;  // Vis_Band3_ID, used for unknown wavelengths

// Keys of the settings file, by filter position.
extern const std::array<const char*, kFilterCount> kFilterIdKeys;
extern const std::array<const char*, kFilterCount> kFilterOffsetKeys;

struct CameraSettings {
  // Wavelength texts of the filter positions, compared with the product's BandWavelengths.
  std::array<std::string, kFilterCount> FilterIds{"321", "360", "415", "566", "604", "643", "689"};
  // Detector pixel pitch, in the length unit of the offsets (and of the 5.0 radius limit).
  Real CcdPixelSpacing = static_cast<Real>(0.009);
  // Distance of each filter's band centre from the optical centre, across the framelet.
  std::array<Real, kFilterCount> BandOffsets{static_cast<Real>(1.0),  static_cast<Real>(-1.1),
                                             static_cast<Real>(0.45), static_cast<Real>(0.225),
                                             static_cast<Real>(0.0),  static_cast<Real>(-0.225),
                                             static_cast<Real>(-0.45)};
  // Second- and third-order radial coefficients, ultraviolet and visible.
  Real K1Uv = static_cast<Real>(-0.024);
  Real K2Uv = static_cast<Real>(-0.007);
  Real K1Visible = static_cast<Real>(-0.0099);
  Real K2Visible = static_cast<Real>(-0.0005);
  // Colour of output pixels without source data (bits 0-7 red, 8-15 green, 16-23 blue).
  int32_t NoDataColor = 255;
};

// Reads the settings file afresh. A missing file, section or key, an empty value or a real that
// does not convert leaves the default in force, silently; a NoDataColor that does not convert
// gives 255. Reals are taken at double precision, as the file's values always were.
CameraSettings ReadCameraSettings(const std::string& path);

// The first filter position (1..7) whose identifier equals `wavelength` exactly. When none does,
// appends "Wavelength given in header (<wavelength> nm) not found in filter list" and
// "> using <Vis_Band3_ID> nm geometry for distortion correction", and gives position 5.
int32_t ChooseFilter(const CameraSettings& settings, const std::string& wavelength, UserPort& port);

// The constants the correction uses for one filter position.
struct CorrectionConstants {
  int32_t FilterIndex = kFallbackFilter;
  bool Ultraviolet = false;  // positions 1 and 2
  Real K1 = 0;               // k1_uv or k1_visible
  Real K2 = 0;               // k2_uv or k2_visible
  Real Spacing = 0;          // CCD_pixel_spacing as read
  Real Pitch = 0;            // effective pitch: 4 x spacing for the binned ultraviolet
  Real Offset = 0;           // the filter's band offset as read
  Real OffsetPixels = 0;     // Offset / Pitch, not rounded
  const char* K1Key = "";    // the keys the values came from, for messages
  const char* K2Key = "";
  const char* OffsetKey = "";
};

// k1, k2, the effective pitch and the band offset in pixels for `filterIndex` (1..7).
CorrectionConstants DeriveCorrectionConstants(const CameraSettings& settings, int32_t filterIndex);

}  // namespace quelmar
