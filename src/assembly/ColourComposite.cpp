#include "assembly/ColourComposite.h"

#include <algorithm>
#include <barrier>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "assembly/BandSampler.h"
#include "assembly/CameraSettings.h"
#include "assembly/ColourRegistration.h"
#include "assembly/ColourRowPack.h"
#include "assembly/RgbLibrary.h"
#include "util/Errors.h"
#include "util/RunParts.h"

namespace quelmar {

namespace {

constexpr int32_t kLevels = 255 * 16 + 1;  // sample values x 16

std::optional<Real> WavelengthNumber(const std::string& text) {
  const RealParse r = ParseReal(text);
  if (text.empty() || !r.ok()) return std::nullopt;
  return r.value;
}

// The per-channel levels (x 16) that the stretch maps to 0 and 255, from the pixels where all
// three channels have data.
std::array<std::array<int32_t, 2>, 3> StretchLimits(
    const std::array<std::vector<int16_t>, 3>& planes, const ColourStretch& stretch) {
  std::array<std::array<int32_t, 2>, 3> limits{};
  std::array<std::vector<int64_t>, 3> histograms;
  for (auto& h : histograms) h.assign(kLevels, 0);
  int64_t counted = 0;
  const size_t n = planes[0].size();
  for (size_t i = 0; i < n; ++i) {
    if (planes[0][i] < 0 || planes[1][i] < 0 || planes[2][i] < 0) continue;
    for (size_t c = 0; c < 3; ++c) ++histograms[c][static_cast<size_t>(planes[c][i])];
    ++counted;
  }
  for (size_t c = 0; c < 3; ++c) {
    const auto level = [&](Real percent) {
      const auto wanted = static_cast<int64_t>(percent / 100 * static_cast<Real>(counted));
      int64_t sum = 0;
      for (int32_t v = 0; v < kLevels; ++v) {
        sum += histograms[c][static_cast<size_t>(v)];
        if (sum > wanted) return v;
      }
      return kLevels - 1;
    };
    limits[c] = {level(stretch.LowPercent), level(stretch.HighPercent)};
    if (limits[c][1] <= limits[c][0]) limits[c][1] = limits[c][0] + 1;
  }
  return limits;
}

// One row of the picture from the channels' samples (values x 16, red first, -1 for no data),
// through the stretch's limits when there are any.
void ComposeRow(const std::array<const int16_t*, 3>& in,
                const std::array<std::array<int32_t, 2>, 3>* limits,
                const std::array<uint8_t, 3>& noData, int32_t width, uint8_t* out) {
  const int16_t *r = in[0], *g = in[1], *b = in[2];
  if (limits == nullptr) {
    PackColourRow(r, g, b, noData, width, out);
    return;
  }
  for (int32_t x = 0; x < width; ++x) {
    uint8_t* px = out + 3 * x;
    if (r[x] < 0 || g[x] < 0 || b[x] < 0) {
      px[0] = noData[0];
      px[1] = noData[1];
      px[2] = noData[2];
      continue;
    }
    for (size_t c = 0; c < 3; ++c) {
      const auto& l = (*limits)[c];
      const int32_t v = (in[c][x] - l[0]) * 255 * 16 / (l[1] - l[0]);
      px[2 - c] = static_cast<uint8_t>(std::clamp((v + 8) >> 4, 0, 255));
    }
  }
}

}  // namespace

std::optional<std::array<int32_t, 3>> DefaultColourBands(const LoadedProduct& product) {
  std::array<int32_t, 3> bands{};
  const char* const wanted[] = {"689", "604", "415"};
  const int32_t count = std::clamp(product.BandCount, 0, 7);
  for (size_t c = 0; c < 3; ++c) {
    bands[c] = 0;
    for (int32_t b = 1; b <= count; ++b) {
      if (product.BandWavelengths[static_cast<size_t>(b) - 1] == wanted[c]) bands[c] = b;
    }
    if (bands[c] == 0) return std::nullopt;
  }
  return bands;
}

std::string ColourFileName(const std::string& productId, const ColourResult& result) {
  return productId + "_" + result.Wavelengths[0] + "_" + result.Wavelengths[1] + "_" +
         result.Wavelengths[2] + "nm.bmp";
}

ColourBands ChooseColourBands(const LoadedProduct& product, const ColourRequest& request) {
  if (product.BandCount < 3) {
    throw RangeError("A colour picture needs a product with three bands or more; " +
                     product.ProductId + " has " + std::to_string(product.BandCount));
  }
  std::array<int32_t, 3> bands = request.Bands;
  for (int32_t b : bands) {
    if (b < 1 || b > product.BandCount || b > 7) {
      throw RangeError("Band " + std::to_string(b) + " is not a band of " + product.ProductId +
                       " (1 to " + std::to_string(std::min(product.BandCount, 7)) + ")");
    }
  }
  if (bands[0] == bands[1] || bands[1] == bands[2] || bands[0] == bands[2]) {
    throw RangeError("A colour picture needs three different bands");
  }
  // Longest wavelength first; bands lower in the framelet hold longer wavelengths.
  const auto wl = [&](int32_t b) {
    return WavelengthNumber(product.BandWavelengths[static_cast<size_t>(b) - 1]);
  };
  std::sort(bands.begin(), bands.end(), [&](int32_t a, int32_t b) {
    const auto wa = wl(a), wb = wl(b);
    if (wa && wb && *wa != *wb) return *wa > *wb;
    return a > b;
  });
  ColourBands chosen{bands, bands[1]};
  if (request.Reference != 0) {
    if (std::find(bands.begin(), bands.end(), request.Reference) == bands.end()) {
      throw RangeError("The reference band " + std::to_string(request.Reference) +
                       " is not one of the three bands");
    }
    chosen.Reference = request.Reference;
  }
  return chosen;
}

ColourResult BuildColourComposite(const LoadedProduct& product, const ColourRequest& request,
                                  UserPort& port) {
  Picture picture;
  ColourResult result = BuildColourComposite(product, request, port, picture);
  result.Image = std::move(picture);
  return result;
}

ColourResult BuildColourComposite(const LoadedProduct& product, const ColourRequest& request,
                                  UserPort& port, Picture& picture) {
  if (!product.HasImage()) throw RangeError("Need to load readable image data");
  const ColourBands chosen = ChooseColourBands(product, request);
  const CameraSettings settings = ReadCameraSettings(request.SettingsPath);
  if (!std::isfinite(request.VerticalTravel) || !std::isfinite(request.HorizontalTravel)) {
    throw RangeError("The travel of a colour picture must be a finite number");
  }
  if (!(request.Stretch.LowPercent >= 0 &&
        request.Stretch.LowPercent < request.Stretch.HighPercent &&
        request.Stretch.HighPercent <= 100)) {
    throw RangeError("The stretch needs percentiles 0 <= P1 < P2 <= 100");
  }

  BusyCursor busy(port);
  // Ultraviolet bands (4 rows, binned 4 x 4) travel a quarter of the visible bands' travel.
  const std::vector<int32_t> bounds = BandRowBounds(product.BandCount, product.FrameletHeight);
  std::array<std::unique_ptr<BandSampler>, 3> samplers;
  size_t ref = 0;
  for (size_t c = 0; c < 3; ++c) {
    BandSamplerRequest r;
    r.Band = chosen.Rgb[c];
    const bool uv =
        bounds[static_cast<size_t>(r.Band)] - bounds[static_cast<size_t>(r.Band) - 1] == 4;
    r.VerticalTravel = uv ? request.VerticalTravel / 4 : request.VerticalTravel;
    r.HorizontalTravel = uv ? request.HorizontalTravel / 4 : request.HorizontalTravel;
    for (const Real v : request.Profile.Vertical) r.VerticalProfile.push_back(uv ? v / 4 : v);
    for (const Real h : request.Profile.Horizontal) r.HorizontalProfile.push_back(uv ? h / 4 : h);
    r.Invert = request.Invert;
    r.CorrectDistortion = request.CorrectDistortion;
    r.CorrectVertically = request.CorrectVertically;
    r.Shift = request.Shift;
    samplers[c] = std::make_unique<BandSampler>(product, r, settings, port);
    if (r.Band == chosen.Reference) ref = c;
  }
  const BandSampler& reference = *samplers[ref];
  const int32_t width = reference.StackWidth(), height = reference.StackHeight();

  ColourResult result;
  result.CurvedRows = !request.CorrectVertically;
  result.Bands = chosen.Rgb;
  result.Reference = chosen.Reference;
  std::array<std::vector<int16_t>, 3> planes;
  std::array<ChannelTransform, 3> transforms;
  for (size_t c = 0; c < 3; ++c) {
    const BandSampler& s = *samplers[c];
    result.Wavelengths[c] = s.Wavelength();
    ChannelRegistration& record = result.Channels[c];
    record.Band = s.Band();
    record.Wavelength = s.Wavelength();
    record.Reference = c == ref;
    transforms[c] = PredictedTransform(reference.Placement(), s.Placement(), height);
  }
  const unsigned cores = request.Threads > 0 ? static_cast<unsigned>(request.Threads)
                                             : std::thread::hardware_concurrency();
  // The reference's windows are sampled once for both channels (by every core), then the two
  // other channels are measured at once where there are two cores.
  const ReferenceWindows windows =
      request.MeasureOffsets
          ? SampleReferenceWindows(reference, transforms[ref], width, height,
                                   static_cast<int32_t>(std::clamp(cores, 1u, 8u)))
          : ReferenceWindows{};
  const std::array<size_t, 2> others{ref == 0 ? size_t{1} : 0, ref == 2 ? size_t{1} : 2};
  const auto measure = [&](int32_t k) {
    for (int32_t j = 0; j < 2; ++j) {
      if (cores >= 2 && j != k) continue;
      const size_t c = others[static_cast<size_t>(j)];
      if (request.MeasureOffsets) {
        RegisterChannel(*samplers[c], windows, width, height, transforms[c], result.Channels[c]);
      } else {
        result.Channels[c].Note = "not measured";
      }
    }
  };
  RunParts(cores >= 2 && request.MeasureOffsets ? 2 : 1, measure);

  const std::array<uint8_t, 3> noData = ColorToBgr(settings.NoDataColor);
  if (request.Stretch.Enabled) {
    // The stretch needs every channel's levels before the first pixel is written.
    for (size_t c = 0; c < 3; ++c) {
      planes[c] = SampleChannel(*samplers[c], transforms[c], width, 0, height);
    }
    const auto limits = StretchLimits(planes, request.Stretch);
    picture.Resize(width, height);
    for (int32_t y = 0; y < height; ++y) {
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(width);
      ComposeRow({planes[0].data() + at, planes[1].data() + at, planes[2].data() + at}, &limits,
                 noData, width, picture.Row(y));
      std::fill(picture.Row(y) + 3 * width, picture.Row(y) + picture.Stride(), uint8_t{0});
    }
    return result;
  }
  picture.Resize(width, height);
  // Row by row: the three channels' samples of a row, then its pixels; a large picture by every
  // core at once, each taking a band of rows.
  const auto compose = [&](int32_t first, int32_t last) {
    std::vector<int16_t> rows(static_cast<size_t>(width) * 3);
    const std::array<int16_t*, 3> row{rows.data(), rows.data() + width, rows.data() + 2 * width};
    std::array<BandSampler::RowCache, 3> caches;
    for (BandSampler::RowCache& cache : caches) cache.ReadOnCells();
    for (int32_t y = first; y < last; ++y) {
      for (size_t c = 0; c < 3; ++c) {
        SampleChannelRow(*samplers[c], transforms[c], width, y, row[c], caches[c]);
      }
      ComposeRow({row[0], row[1], row[2]}, nullptr, noData, width, picture.Row(y));
      std::fill(picture.Row(y) + 3 * width, picture.Row(y) + picture.Stride(), uint8_t{0});
    }
  };
  const int32_t parts = int64_t{width} * height < (int64_t{1} << 20)
                            ? 1
                            : static_cast<int32_t>(std::clamp(cores, 1u, 8u));
  // Then the rows the bands kept on cells go, every core giving back its share once all are done
  // (a core that fails leaves the others to go on without it).
  std::barrier done(parts);
  RunParts(parts, [&](int32_t k) {
    try {
      compose(static_cast<int32_t>(int64_t{height} * k / parts),
              static_cast<int32_t>(int64_t{height} * (k + 1) / parts));
    } catch (...) {
      done.arrive_and_drop();
      throw;
    }
    done.arrive_and_wait();
    for (const auto& s : samplers) s->ReleaseCellRows(k, parts);
  });
  return result;
}

std::vector<std::string> RegistrationLines(const ColourResult& result) {
  static const char* const kColour[] = {"red", "green", "blue"};
  std::vector<std::string> lines;
  for (size_t c = 0; c < 3; ++c) {
    const ChannelRegistration& r = result.Channels[c];
    std::string line =
        std::string(kColour[c]) + ": band " + std::to_string(r.Band) + " (" + r.Wavelength + " nm)";
    if (r.Reference) {
      line += ", the reference";
    } else if (r.Measured) {
      line += ", offset " + FormatFixed(r.Dx, 3) + ", " + FormatFixed(r.Dy, 3) +
              " pixels beyond the camera geometry";
      if (r.DxPer1000 != 0 || r.DyPer1000 != 0) {
        line += ", drifting " + FormatFixed(r.DxPer1000, 3) + ", " + FormatFixed(r.DyPer1000, 3) +
                " per 1000 rows";
      }
      line += " (" + std::to_string(r.Windows) + " windows, residual " +
              FormatFixed(r.Residual, 3) + " pixels)";
    } else {
      line += ", placed by the camera geometry (" + r.Note + ")";
    }
    lines.push_back(line);
  }
  if (result.CurvedRows) {
    lines.push_back(
        "Not corrected vertically, the bands part toward the sides: correct vertically to line "
        "them up.");
  }
  return lines;
}

}  // namespace quelmar
