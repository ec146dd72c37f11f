#include "Simulator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "SimMath.h"
#include "SyntheticIndex.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar::sim {

namespace {

// The seven filter positions, as the program's settings list them.
struct FilterPosition {
  const char* wavelength;
  bool ultraviolet;
  double offset;  // band centre from the optical centre, in the pitch's unit
  double gain;    // response: the Moon is darker in the ultraviolet, a little redder in the red
};
constexpr std::array<FilterPosition, 7> kFilters = {{
    {"321", true, 1.0, 0.62},
    {"360", true, -1.1, 0.75},
    {"415", false, 0.45, 0.88},
    {"566", false, 0.225, 0.96},
    {"604", false, 0.0, 1.0},
    {"643", false, -0.225, 1.03},
    {"689", false, -0.45, 1.06},
}};

constexpr double kMoonRadiusKm = 1737.4;
constexpr double kGroundSpeedMPerMs = 1.6;  // ground speed of the orbit, metres per millisecond
constexpr int32_t kMargin = 4;              // scene pixels kept around everything a band sees

enum Salt : uint64_t {
  kObservationSalt = 0x6F6273ULL,
  kNoiseSalt = 0x6E6F697365ULL,
  kSceneSalt = 0x7363656E65ULL,
  kIdSalt = 0x6964ULL,
};

double WrapLongitude(double lon) {
  return lon - 360.0 * std::floor(lon / 360.0);
}

// One band's view: for every detector sample of every band row, the world offsets (x, -y) from
// the first framelet's optical axis of the points averaged into it.
struct BandView {
  int32_t samplesPerPixel = 1;
  std::vector<double> offsets;  // [row][column][sample] x, then -y
};

BandView ViewOf(const SimBand& band, int32_t width) {
  BandView view;
  view.samplesPerPixel = band.ultraviolet ? 16 : 1;
  view.offsets.reserve(static_cast<size_t>(band.height) * band.columns * view.samplesPerPixel * 2);
  for (int32_t b = 1; b <= band.height; ++b) {
    for (int32_t c = band.firstColumn; c < band.firstColumn + band.columns; ++c) {
      if (!band.ultraviolet) {
        const IdealOffset p = IdealOffsetOf(band, width, c, b);
        view.offsets.push_back(p.x);
        view.offsets.push_back(-p.y);
        continue;
      }
      // A binned pixel: 4 x 4 sample points spread over its area.
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          const IdealOffset p =
              IdealOffsetOf(band, width, c + (sx - 1.5) / 4.0, b + (sy - 1.5) / 4.0);
          view.offsets.push_back(p.x);
          view.offsets.push_back(-p.y);
        }
      }
    }
  }
  return view;
}

struct Bounds {
  double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
};

Observation Observe(const SimulatorOptions& o, const Bounds& firstFramelet, double lastShift,
                    double meanTravel) {
  Random rng(Hash(o.seed, kObservationSalt, static_cast<uint64_t>(o.kind)));
  Observation ob;
  const int64_t day = DaysSinceYearOne(2009, 7, 1) + static_cast<int64_t>(rng.Uniform() * 1600);
  const auto msOfDay = static_cast<int64_t>(rng.Uniform() * 86400000.0);
  ob.startMs = day * 86400000 + msOfDay;
  ob.orbit = 200 + static_cast<int32_t>((day - DaysSinceYearOne(2009, 7, 1)) * 12.6);
  ob.altitudeKm = 38.0 + 20.0 * rng.Uniform();
  ob.resolutionM = ob.altitudeKm * 1.5;  // the visible pixel's 1.5 mrad field
  ob.frameDelayMs =
      static_cast<int32_t>(std::floor(meanTravel * ob.resolutionM / kGroundSpeedMPerMs + 0.5));
  ob.endMs = ob.startMs + static_cast<int64_t>(o.framelets) * ob.frameDelayMs;
  ob.centreLat = -60.0 + 120.0 * rng.Uniform();
  ob.centreLon = 360.0 * rng.Uniform();
  ob.incidenceDeg = 64.0 + 14.0 * rng.Uniform();
  ob.sunElevationDeg = 90.0 - ob.incidenceDeg;
  ob.subSolarLat = -1.54 + 3.08 * rng.Uniform();
  // The sun stands east of the scene (the scene is lit from its +x side, east), as far from the
  // centre as the incidence says.
  ob.subSolarLon =
      WrapLongitude(ob.centreLon + SunLongitudeEast(ob.centreLat, ob.subSolarLat, ob.incidenceDeg));
  ob.spacecraftLat = ob.centreLat - 0.05 + 0.1 * rng.Uniform();
  ob.spacecraftLon = WrapLongitude(ob.centreLon - 0.05 + 0.1 * rng.Uniform());
  ob.centreLon = WrapLongitude(ob.centreLon);

  // North up (the orbit descends: later framelets lie further south), east to the right.
  const double degPerPixel = ob.resolutionM / 1000.0 / kMoonRadiusKm * (180.0 / kPi);
  const double lonPerPixel = degPerPixel / CosDeg(ob.centreLat);
  const double midY = lastShift / 2.0;
  const auto lat = [&](double y) { return ob.centreLat - (y - midY) * degPerPixel; };
  const auto lon = [&](double x) { return WrapLongitude(ob.centreLon + x * lonPerPixel); };
  const double top = firstFramelet.minY, bottom = firstFramelet.maxY + lastShift;
  ob.upperLeftLat = ob.upperRightLat = lat(top);
  ob.lowerLeftLat = ob.lowerRightLat = lat(bottom);
  ob.upperLeftLon = ob.lowerLeftLon = lon(firstFramelet.minX);
  ob.upperRightLon = ob.lowerRightLon = lon(firstFramelet.maxX);
  return ob;
}

// The triangular detector noise of a sample: -1, 0 or +1 grey level.
int NoiseAt(uint64_t noiseSeed, int32_t row, int32_t column) {
  const uint64_t h =
      LatticeHash(noiseSeed, static_cast<uint64_t>(row), static_cast<uint64_t>(column));
  return static_cast<int>(h & 1) - static_cast<int>((h >> 1) & 1);
}

}  // namespace

std::string KindCode(ProductKind kind) {
  switch (kind) {
    case ProductKind::ME:
      return "ME";
    case ProductKind::VE:
      return "VE";
    case ProductKind::UE:
      return "UE";
    case ProductKind::CE:
      break;
  }
  return "CE";
}

std::optional<ProductKind> KindFromCode(std::string_view code) {
  for (ProductKind k : {ProductKind::ME, ProductKind::VE, ProductKind::UE, ProductKind::CE}) {
    if (code == KindCode(k)) return k;
  }
  return std::nullopt;
}

std::string DefaultProductId(uint32_t seed, ProductKind kind) {
  const uint64_t digits = Hash(seed, kIdSalt, static_cast<uint64_t>(kind)) % 100000000u;
  std::string text = FormatInt(static_cast<int64_t>(digits));
  text.insert(0, 8 - text.size(), '0');
  return "M1" + text + KindCode(kind);
}

std::string OptionsProblem(const SimulatorOptions& o) {
  if (o.framelets < 1 || o.framelets > kMaxFramelets) {
    return "the number of framelets must be between 1 and " + FormatInt(kMaxFramelets) + " (got " +
           FormatInt(o.framelets) + ")";
  }
  if (!(o.travel >= kMinTravel && o.travel <= kMaxTravel)) {
    return "the travel must be between " + FormatG3(kMinTravel) + " and " + FormatG3(kMaxTravel) +
           " rows per framelet (got " + FormatG3(o.travel) + ")";
  }
  if (o.travelEnd && !(*o.travelEnd >= kMinTravel && *o.travelEnd <= kMaxTravel)) {
    return "the travel at the end must be between " + FormatG3(kMinTravel) + " and " +
           FormatG3(kMaxTravel) + " rows per framelet (got " + FormatG3(*o.travelEnd) + ")";
  }
  if (!(o.drift >= -kMaxDrift && o.drift <= kMaxDrift)) {
    return "the drift must be between " + FormatG3(-kMaxDrift) + " and " + FormatG3(kMaxDrift) +
           " columns per framelet (got " + FormatG3(o.drift) + ")";
  }
  if (o.kind == ProductKind::ME) {
    if (o.width != 0 && o.width != 704 && o.width != 1024) {
      return "a monochrome (ME) product is 1024 or 704 samples wide (got " + FormatInt(o.width) +
             ")";
    }
  } else if (o.width != 0 && o.width != 704) {
    return "a " + KindCode(o.kind) + " product is 704 samples wide (got " + FormatInt(o.width) +
           "); only monochrome (ME) products may be 1024 wide";
  }
  if (!o.productId.empty()) {
    const std::string& id = o.productId;
    const bool plain = std::all_of(id.begin(), id.end(), [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
    if (!plain || id.size() < 3 || id.size() > 15) {
      return "the product id \"" + id +
             "\" must be 3 to 15 capital letters and digits (it also names the files)";
    }
    if (id.compare(id.size() - 2, 2, KindCode(o.kind)) != 0) {
      return "the product id \"" + id + "\" must end in " + KindCode(o.kind) + ", the product kind";
    }
  }
  return {};
}

std::vector<SimBand> BandsOf(ProductKind kind, int32_t width) {
  std::vector<int> positions;
  switch (kind) {
    case ProductKind::ME:
      positions = {5};
      break;
    case ProductKind::VE:
      positions = {2, 3, 4, 5, 6};
      break;
    case ProductKind::UE:
      positions = {0, 1};
      break;
    case ProductKind::CE:
      positions = {0, 1, 2, 3, 4, 5, 6};
      break;
  }
  std::vector<SimBand> bands;
  int32_t row = 0;
  for (int p : positions) {
    const FilterPosition& f = kFilters[static_cast<size_t>(p)];
    SimBand b;
    b.wavelength = f.wavelength;
    b.firstRow = row;
    b.height = f.ultraviolet ? 4 : 14;
    b.ultraviolet = f.ultraviolet;
    b.offsetPixels = f.offset / (f.ultraviolet ? 4.0 * kPixelPitch : kPixelPitch);
    b.gain = f.gain;
    b.colour = ColourOfWavelength(std::strtod(f.wavelength, nullptr));
    b.firstColumn = f.ultraviolet ? kUvFirstColumn : 0;
    b.columns = f.ultraviolet ? kUvSamples : width;
    row += b.height;
    bands.push_back(b);
  }
  return bands;
}

IdealOffset IdealOffsetOf(const SimBand& band, int32_t width, double column, double bandRow) {
  const double pitch = band.ultraviolet ? 4.0 * kPixelPitch : kPixelPitch;
  const double k1 = band.ultraviolet ? kK1Uv : kK1Visible;
  const double k2 = band.ultraviolet ? kK2Uv : kK2Visible;
  const double dx = column - static_cast<double>(width / 2);
  const double dy = band.height / 2.0 + band.offsetPixels - bandRow;
  const double r = std::sqrt(dx * dx + dy * dy) * pitch;
  const double scale = (band.ultraviolet ? 4.0 : 1.0) / (1.0 + r * r * (r * k2 + k1));
  return {dx * scale, dy * scale};
}

SimulatedProduct SimulateProduct(const SimulatorOptions& options) {
  const std::string problem = OptionsProblem(options);
  if (!problem.empty()) throw RangeError(problem);

  SimulatedProduct p;
  p.kind = options.kind;
  p.seed = options.seed;
  p.productId =
      options.productId.empty() ? DefaultProductId(options.seed, options.kind) : options.productId;
  p.width = options.width != 0 ? options.width : (options.kind == ProductKind::ME ? 1024 : 704);
  p.framelets = options.framelets;
  p.travel = options.travel;
  p.drift = options.drift;
  for (int32_t f = 0; f < p.framelets; ++f) {
    p.frameletX.push_back(f * p.drift);
    if (!options.travelEnd || f == 0) {
      p.frameletY.push_back(f * p.travel);
      continue;
    }
    // Pair f - 1 travels its share of the way from the first travel to the last.
    const double share = p.framelets > 2 ? (f - 1) / static_cast<double>(p.framelets - 2) : 0.0;
    p.frameletY.push_back(p.frameletY.back() + p.travel + (*options.travelEnd - p.travel) * share);
  }
  p.bands = BandsOf(options.kind, p.width);
  for (const SimBand& b : p.bands) p.frameletHeight += b.height;

  std::vector<BandView> views;
  Bounds seen;
  for (const SimBand& b : p.bands) {
    views.push_back(ViewOf(b, p.width));
    const std::vector<double>& v = views.back().offsets;
    for (size_t i = 0; i < v.size(); i += 2) {
      seen.minX = std::min(seen.minX, v[i]);
      seen.maxX = std::max(seen.maxX, v[i]);
      seen.minY = std::min(seen.minY, v[i + 1]);
      seen.maxY = std::max(seen.maxY, v[i + 1]);
    }
  }
  const double lastShift = p.frameletY.back();
  const double meanTravel =
      p.framelets > 1 && options.travelEnd ? lastShift / (p.framelets - 1) : p.travel;
  p.observation = Observe(options, seen, lastShift, meanTravel);
  const double driftLeft = std::min(0.0, p.frameletX.back());
  const double driftRight = std::max(0.0, p.frameletX.back());

  SceneRequest scene;
  scene.seed = Hash(options.seed, kSceneSalt);
  scene.originX = static_cast<int32_t>(std::floor(seen.minX + driftLeft)) - kMargin;
  scene.originY = static_cast<int32_t>(std::floor(seen.minY)) - kMargin;
  scene.width =
      static_cast<int32_t>(std::ceil(seen.maxX + driftRight)) + kMargin + 1 - scene.originX;
  scene.height =
      static_cast<int32_t>(std::ceil(seen.maxY + lastShift)) + kMargin + 1 - scene.originY;
  scene.sunElevationDeg = p.observation.sunElevationDeg;
  p.scene = RenderScene(scene);

  p.image.assign(static_cast<size_t>(p.Lines()) * static_cast<size_t>(p.width), 0);
  const uint64_t noiseSeed = Hash(options.seed, kNoiseSalt);
  for (int32_t f = 0; f < p.framelets; ++f) {
    const double shift = p.frameletY[static_cast<size_t>(f)];
    const double sideways = p.frameletX[static_cast<size_t>(f)];
    for (size_t k = 0; k < p.bands.size(); ++k) {
      const SimBand& band = p.bands[k];
      const BandView& view = views[k];
      const double* at = view.offsets.data();
      for (int32_t b = 0; b < band.height; ++b) {
        const int32_t row = f * p.frameletHeight + band.firstRow + b;
        uint8_t* out = p.image.data() + static_cast<size_t>(row) * p.width;
        for (int32_t c = band.firstColumn; c < band.firstColumn + band.columns; ++c) {
          double sum = 0.0;
          for (int32_t s = 0; s < view.samplesPerPixel; ++s, at += 2) {
            sum += p.scene.SampleWorldInBand(at[0] + sideways, at[1] + shift, band.colour);
          }
          const double value = band.gain * sum / view.samplesPerPixel + NoiseAt(noiseSeed, row, c);
          out[c] = static_cast<uint8_t>(std::clamp(std::floor(value + 0.5), 0.0, 255.0));
        }
      }
    }
  }
  return p;
}

}  // namespace quelmar::sim
