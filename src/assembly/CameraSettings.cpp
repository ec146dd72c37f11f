#include "assembly/CameraSettings.h"

#include <string_view>

#include "assembly/ProfileFile.h"
#include "util/Errors.h"

namespace quelmar {

const std::array<const char*, kFilterCount> kFilterIdKeys = {
    "UV_Band1_ID",  "UV_Band2_ID",  "Vis_Band1_ID", "Vis_Band2_ID",
    "Vis_Band3_ID", "Vis_Band4_ID", "Vis_Band5_ID"};
const std::array<const char*, kFilterCount> kFilterOffsetKeys = {
    "UV_Band1_Offset",  "UV_Band2_Offset",  "Vis_Band1_Offset", "Vis_Band2_Offset",
    "Vis_Band3_Offset", "Vis_Band4_Offset", "Vis_Band5_Offset"};

namespace {

// A real setting: the default when the key is missing or empty or its text does not convert;
// otherwise the number taken at double precision and held as an extended real.
Real ReadReal(const ProfileFile& profile, const char* key, Real fallback) {
  const std::string text = profile.String(kSettingsSection, key, "");
  if (text.empty()) return fallback;
  const RealParse parsed = ParseReal(text);
  if (!parsed.ok()) return fallback;
  return static_cast<Real>(static_cast<double>(parsed.value));
}

}  // namespace

CameraSettings ReadCameraSettings(const std::string& path) {
  const ProfileFile profile = ProfileFile::Read(path);
  CameraSettings s;
  for (int32_t k = 0; k < kFilterCount; ++k) {
    s.FilterIds[k] = profile.String(kSettingsSection, kFilterIdKeys[k], s.FilterIds[k]);
  }
  s.CcdPixelSpacing = ReadReal(profile, "CCD_pixel_spacing", s.CcdPixelSpacing);
  for (int32_t k = 0; k < kFilterCount; ++k) {
    s.BandOffsets[k] = ReadReal(profile, kFilterOffsetKeys[k], s.BandOffsets[k]);
  }
  s.K1Uv = ReadReal(profile, "k1_uv", s.K1Uv);
  s.K2Uv = ReadReal(profile, "k2_uv", s.K2Uv);
  s.K1Visible = ReadReal(profile, "k1_visible", s.K1Visible);
  s.K2Visible = ReadReal(profile, "k2_visible", s.K2Visible);
  const Int32Parse color = ParseInt32(profile.String(kSettingsSection, "NoDataColor", "255"));
  s.NoDataColor = color.ok() ? color.value : 255;
  return s;
}

int32_t ChooseFilter(const CameraSettings& settings, const std::string& wavelength,
                     UserPort& port) {
  for (int32_t k = 0; k < kFilterCount; ++k) {
    if (settings.FilterIds[k] == wavelength) return k + 1;
  }
  port.AppendLine("Wavelength given in header (" + wavelength + " nm) not found in filter list");
  port.AppendLine("> using " + settings.FilterIds[kFallbackFilter - 1] +
                  " nm geometry for distortion correction");
  return kFallbackFilter;
}

CorrectionConstants DeriveCorrectionConstants(const CameraSettings& settings, int32_t filterIndex) {
  if (filterIndex < 1 || filterIndex > kFilterCount) {
    throw RangeError("Filter position " + std::to_string(filterIndex) + " is outside 1 to 7");
  }
  CorrectionConstants c;
  c.FilterIndex = filterIndex;
  c.Ultraviolet = filterIndex <= 2;
  c.Spacing = settings.CcdPixelSpacing;
  if (c.Ultraviolet) {
    c.K1 = settings.K1Uv;
    c.K2 = settings.K2Uv;
    c.Pitch = static_cast<Real>(4.0) * settings.CcdPixelSpacing;
    c.K1Key = "k1_uv";
    c.K2Key = "k2_uv";
  } else {
    c.K1 = settings.K1Visible;
    c.K2 = settings.K2Visible;
    c.Pitch = settings.CcdPixelSpacing;
    c.K1Key = "k1_visible";
    c.K2Key = "k2_visible";
  }
  c.Offset = settings.BandOffsets[filterIndex - 1];
  c.OffsetKey = kFilterOffsetKeys[filterIndex - 1];
  // With an unusable pitch the offset in pixels is meaningless; the correction refuses such
  // settings before using it, so nothing divides by zero here.
  c.OffsetPixels = c.Pitch > 0 ? c.Offset / c.Pitch : 0;
  return c;
}

}  // namespace quelmar
