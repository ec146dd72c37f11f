#include "assembly/ColourComposite.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "assembly/BandSampler.h"
#include "assembly/CameraSettings.h"
#include "assembly/ColourRegistration.h"
#include "assembly/ColourRowPack.h"
#include "assembly/RgbLibrary.h"
#include "util/Errors.h"
#include "util/ProcessorFeatures.h"
#include "util/RunParts.h"

namespace quelmar {

namespace {

constexpr int32_t kLevels = 255 * 16 + 1;  // sample values x 16
constexpr int64_t kRowsTaken = 32;         // rows a core takes at a time

std::optional<Real> WavelengthNumber(const std::string& text) {
  const RealParse r = ParseReal(text);
  if (text.empty() || !r.ok()) return std::nullopt;
  return r.value;
}

// How often each level (x 16) of every channel comes, counted over the pixels where all three
// channels have data: a core counts the rows it samples, and the counts add up.
struct LevelCounts {
  std::array<std::vector<int64_t>, 3> Histograms;
  int64_t Counted = 0;
  LevelCounts() {
    for (auto& h : Histograms) h.assign(kLevels, 0);
  }
  void Add(const std::array<const int16_t*, 3>& in, int32_t width) {
    const int16_t *r = in[0], *g = in[1], *b = in[2];
    int64_t* hr = Histograms[0].data();
    int64_t* hg = Histograms[1].data();
    int64_t* hb = Histograms[2].data();
    for (int32_t x = 0; x < width; ++x) {
      if (r[x] < 0 || g[x] < 0 || b[x] < 0) continue;
      ++hr[std::min<int32_t>(r[x], kLevels - 1)];
      ++hg[std::min<int32_t>(g[x], kLevels - 1)];
      ++hb[std::min<int32_t>(b[x], kLevels - 1)];
      ++Counted;
    }
  }
  void Add(const LevelCounts& other) {
    for (size_t c = 0; c < 3; ++c) {
      for (size_t v = 0; v < Histograms[c].size(); ++v) Histograms[c][v] += other.Histograms[c][v];
    }
    Counted += other.Counted;
  }
};

// The per-channel levels (x 16) that the stretch maps to 0 and 255.
std::array<std::array<int32_t, 2>, 3> StretchLimits(const LevelCounts& counts,
                                                    const ColourStretch& stretch) {
  std::array<std::array<int32_t, 2>, 3> limits{};
  for (size_t c = 0; c < 3; ++c) {
    const auto level = [&](Real percent) {
      const auto wanted = static_cast<int64_t>(percent / 100 * static_cast<Real>(counts.Counted));
      int64_t sum = 0;
      for (int32_t v = 0; v < kLevels; ++v) {
        sum += counts.Histograms[c][static_cast<size_t>(v)];
        if (sum > wanted) return v;
      }
      return kLevels - 1;
    };
    limits[c] = {level(stretch.LowPercent), level(stretch.HighPercent)};
    if (limits[c][1] <= limits[c][0]) limits[c][1] = limits[c][0] + 1;
  }
  return limits;
}

// Each channel's grey level for every sample level (x 16), stretched between its limits.
using StretchTables = std::array<std::array<uint8_t, kLevels>, 3>;
StretchTables TablesOf(const std::array<std::array<int32_t, 2>, 3>& limits) {
  StretchTables tables{};
  for (size_t c = 0; c < 3; ++c) {
    const auto& l = limits[c];
    for (int32_t level = 0; level < kLevels; ++level) {
      const int32_t v = (level - l[0]) * 255 * 16 / (l[1] - l[0]);
      tables[c][static_cast<size_t>(level)] =
          static_cast<uint8_t>(std::clamp((v + 8) >> 4, 0, 255));
    }
  }
  return tables;
}

// One row of the picture from the channels' samples (values x 16, red first, -1 for no data),
// through the stretch's tables when there are any.
void ComposeRow(const std::array<const int16_t*, 3>& in, const StretchTables* tables,
                const std::array<uint8_t, 3>& noData, int32_t width, uint8_t* out) {
  const int16_t *r = in[0], *g = in[1], *b = in[2];
  if (tables == nullptr) {
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
      px[2 - c] = (*tables)[c][static_cast<size_t>(std::min<int32_t>(in[c][x], kLevels - 1))];
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

int32_t ColourTravelBand(const LoadedProduct& product, const ColourBands& chosen) {
  const std::vector<int32_t> bounds = BandRowBounds(product.BandCount, product.FrameletHeight);
  const auto visible = [&](int32_t b) {
    return bounds[static_cast<size_t>(b)] - bounds[static_cast<size_t>(b) - 1] != 4;
  };
  return visible(chosen.Reference) ? chosen.Reference : chosen.Rgb[0];
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
  const unsigned cores =
      request.Threads > 0 ? static_cast<unsigned>(request.Threads) : ProcessorCores();
  const auto allCores = static_cast<int32_t>(std::clamp(cores, 1u, 8u));
  // Every core takes part (started once for the whole picture): in reading the reference's
  // windows, once for both channels; in measuring the two other channels, at once where there
  // are two cores; and in sampling a large picture.
  const int32_t parts =
      request.MeasureOffsets || int64_t{width} * height >= (int64_t{1} << 20) ? allCores : 1;
  ReferenceWindows windows =
      request.MeasureOffsets ? ReferenceWindowsOf(width, height) : ReferenceWindows{};
  const std::array<size_t, 2> others{ref == 0 ? size_t{1} : 0, ref == 2 ? size_t{1} : 2};
  if (!request.MeasureOffsets) {
    for (const size_t c : others) result.Channels[c].Note = "not measured";
  }
  const auto measure = [&](int32_t k) {
    for (int32_t j = 0; j < 2; ++j) {
      if (parts >= 2 && j != k) continue;
      const size_t c = others[static_cast<size_t>(j)];
      RegisterChannel(*samplers[c], windows, width, height, transforms[c], result.Channels[c]);
    }
  };

  const std::array<uint8_t, 3> noData = ColorToBgr(settings.NoDataColor);
  picture.Resize(width, height);
  const auto finishRow = [&](int32_t y) {
    std::fill(picture.Row(y) + 3 * width, picture.Row(y) + picture.Stride(), uint8_t{0});
  };
  // The stretch needs every channel's levels before the first pixel is written: the rows are
  // read twice, first for their levels (counted by each core, then added up), then for their
  // pixels (read again, rather than kept: reading a row is quicker than keeping and fetching
  // back the samples of three channels, and the memory stays free).
  const bool stretched = request.Stretch.Enabled;
  std::vector<LevelCounts> counts(stretched ? static_cast<size_t>(parts) : 0);
  std::unique_ptr<StretchTables> tables;
  std::array<std::atomic<int64_t>, 2> nextRow{};  // per reading of the rows
  // A core's rows one channel at a time: a band's rows read one after another keep its
  // framelets and what reads them at hand (the three bands' rows in turn would not fit the
  // processor's nearest cache). Then the rows' pixels (or their levels counted).
  const auto sampleRows = [&](int32_t part, bool count) {
    const auto w = static_cast<size_t>(width);
    std::vector<int16_t> rows(w * 3 * static_cast<size_t>(kRowsTaken));
    std::array<BandSampler::RowCache, 3> caches;
    for (BandSampler::RowCache& cache : caches) cache.ReadOnCells();
    std::atomic<int64_t>& next = nextRow[count ? 0 : 1];
    for (;;) {
      const int64_t first = next.fetch_add(kRowsTaken, std::memory_order_relaxed);
      if (first >= height) return;
      const auto last = static_cast<int32_t>(std::min<int64_t>(height, first + kRowsTaken));
      const auto rowOf = [&](size_t c, int32_t y) {
        return rows.data() + (static_cast<size_t>(y - first) * 3 + c) * w;
      };
      for (size_t c = 0; c < 3; ++c) {
        for (auto y = static_cast<int32_t>(first); y < last; ++y) {
          SampleChannelRow(*samplers[c], transforms[c], width, y, rowOf(c, y), caches[c]);
        }
      }
      for (auto y = static_cast<int32_t>(first); y < last; ++y) {
        const std::array<const int16_t*, 3> row{rowOf(0, y), rowOf(1, y), rowOf(2, y)};
        if (count) {
          counts[static_cast<size_t>(part)].Add(row, width);
        } else {
          ComposeRow(row, tables.get(), noData, width, picture.Row(y));
          finishRow(y);
        }
      }
    }
  };
  // The windows, then the channels measured, then the picture's rows (their levels first for a
  // stretch), each step begun once all are done with the one before. Then the rows the bands
  // kept on cells go, every core giving back those it compiled once all are done (a core that
  // fails leaves the others to go on without it). The cores beyond this one are the program's
  // helper threads, started once (see KeptPartsCrew).
  PartsMeeting meeting(parts);
  KeptPartsCrew crew(parts - 1);
  crew->Run(parts, [&](int32_t k) {
    try {
      if (request.MeasureOffsets) {
        ReadReferenceWindows(reference, transforms[ref], k, parts, windows);
        meeting.ArriveAndWait();
        measure(k);
        meeting.ArriveAndWait();
      }
      if (stretched) {
        sampleRows(k, true);
        meeting.ArriveAndWait();
        if (k == 0) {
          for (size_t j = 1; j < counts.size(); ++j) counts[0].Add(counts[j]);
          tables =
              std::make_unique<StretchTables>(TablesOf(StretchLimits(counts[0], request.Stretch)));
        }
        meeting.ArriveAndWait();
      }
      sampleRows(k, false);
    } catch (...) {
      meeting.ArriveAndLeave();
      throw;
    }
    meeting.ArriveAndWait();
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
      line += " (" + FormatCount(r.Windows, "window", "windows") + ", residual " +
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
