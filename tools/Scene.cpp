#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "SimMath.h"
#include "util/Errors.h"

namespace quelmar::sim {

namespace {

// Grids above this many pixels are refused (about 1 GB of working memory).
constexpr int64_t kMaxScenePixels = int64_t{100} * 1000 * 1000;

// Craters are scattered tile by tile, each tile with its own random sequence, so that the craters
// at a place do not depend on how large the grid is.
constexpr int32_t kTile = 256;
// Size classes: radius kSmallestRadius x sqrt(2)^k. Per class the number per pixel halves, which
// is the cumulative size-frequency law N(>D) ~ D^-2 of a cratered surface in equilibrium.
constexpr int kSizeClasses = 14;
constexpr double kSmallestRadius = 1.0;
constexpr double kSmallestDensity = 0.005;  // craters per square pixel in class 0
// Above this radius craters get flat floors and central peaks.
constexpr double kComplexRadius = 40.0;

// Salts that keep the random streams of the scene's parts apart.
enum Salt : uint64_t {
  kTerrainSalt = 0x7465727261696EULL,
  kAlbedoSalt = 0x616C6265646FULL,
  kMariaSalt = 0x6D61726961ULL,
  kTextureSalt = 0x74657874ULL,
  kCraterSalt = 0x637261746572ULL,
};

// Rolling terrain: four octaves of value noise, heights in pixels. Each octave's lattice is
// turned by its own angle, so that no ridges line up with the rows or the columns (a low sun
// along the rows would pick them out).
double BaseHeight(uint64_t seed, double x, double y) {
  static constexpr double kPeriod[] = {480.0, 160.0, 56.0, 18.0};
  static constexpr double kAmplitude[] = {28.0, 9.0, 3.0, 0.8};
  static constexpr double kCos[] = {0.8660254, 0.5, 0.9659258, 0.2588190};  // 30, 60, 15, 75 deg
  static constexpr double kSin[] = {0.5, 0.8660254, 0.2588190, 0.9659258};
  double h = 0.0;
  for (int o = 0; o < 4; ++o) {
    const double u = (kCos[o] * x - kSin[o] * y) / kPeriod[o];
    const double v = (kSin[o] * x + kCos[o] * y) / kPeriod[o];
    const double n = ValueNoise(Hash(seed, kTerrainSalt, static_cast<uint64_t>(o)), u, v);
    h += kAmplitude[o] * (n - 0.5) * 2.0;
  }
  return h;
}

// How much of the ground at (x, y) is mare, 0 to 1.
double MariaAt(uint64_t seed, double x, double y) {
  const double m = ValueNoise(Hash(seed, kMariaSalt), x / 620.0, y / 620.0);
  return SmoothStep(std::clamp((m - 0.42) / 0.16, 0.0, 1.0));
}

// Normal albedo: broad dark patches (maria), mottling and fine regolith texture.
double BaseAlbedo(uint64_t seed, double x, double y) {
  const double maria = MariaAt(seed, x, y);
  const double mottle =
      ValueNoise(Hash(seed, kAlbedoSalt), (0.8 * x + 0.6 * y) / 70.0, (0.8 * y - 0.6 * x) / 70.0) -
      0.5;
  const double fine = ValueNoise(Hash(seed, kTextureSalt), x / 2.7, y / 2.7) - 0.5;
  return 0.55 * (1.0 - 0.42 * maria) * (1.0 + 0.3 * mottle) * (1.0 + 0.1 * fine);
}

struct Crater {
  double x, y, radius, depth, rim, peak, halo;
  bool complex;
};

// Height of the crater's profile at distance x (in radii) from its centre: a parabolic bowl (or a
// flat floor with a central peak) up to the rim crest at x = 1, then a flank falling as the cube
// of the distance to x = 2.
double Profile(const Crater& c, double x) {
  if (x >= 2.0) return 0.0;
  if (x >= 1.0) {
    const double t = 2.0 - x;
    return c.rim * t * t * t;
  }
  if (!c.complex) return -c.depth + (c.depth + c.rim) * x * x;
  constexpr double kFloor = 0.45;
  double h = -c.depth;
  if (x > kFloor) {
    const double t = (x - kFloor) / (1.0 - kFloor);
    h += (c.depth + c.rim) * t * t;
  }
  if (x < 0.2) {
    const double t = 1.0 - x / 0.2;
    h += c.peak * t * t;
  }
  return h;
}

Crater MakeCrater(Random& rng, int32_t tileX, int32_t tileY, double classRadius) {
  Crater c{};
  c.x = (static_cast<double>(tileX) + rng.Uniform()) * kTile;
  c.y = (static_cast<double>(tileY) + rng.Uniform()) * kTile;
  c.radius = classRadius * (1.0 + 0.41421356 * rng.Uniform());
  const double freshness = rng.Uniform();  // 1: just formed; 0: worn down
  c.complex = c.radius >= kComplexRadius;
  if (c.complex) {
    c.depth = c.radius * 0.2 * (0.5 + 0.5 * freshness);
    c.peak = c.depth * (0.25 + 0.3 * rng.Uniform());
  } else {
    c.depth = c.radius * 0.36 * (0.35 + 0.65 * freshness);
  }
  c.rim = c.depth * (0.08 + 0.17 * freshness);
  // The freshest small craters keep a bright halo of ejecta.
  c.halo = (freshness > 0.85 && c.radius < 30.0) ? 0.5 * (freshness - 0.85) / 0.15 : 0.0;
  return c;
}

class SceneBuilder {
 public:
  explicit SceneBuilder(const SceneRequest& r)
      : r_(r),
        count_(static_cast<size_t>(r.width) * static_cast<size_t>(r.height)),
        height_(count_),
        albedo_(count_),
        mare_(count_),
        fresh_(count_) {}

  GroundScene Build() {
    FillBase();
    for (int k = kSizeClasses - 1; k >= 0; --k) ScatterClass(k);
    GroundScene scene;
    scene.originX = r_.originX;
    scene.originY = r_.originY;
    scene.width = r_.width;
    scene.height = r_.height;
    scene.grey.resize(count_);
    Shade(scene.grey);
    scene.mare.resize(count_);
    scene.fresh.resize(count_);
    for (size_t i = 0; i < count_; ++i) {
      scene.mare[i] =
          static_cast<uint8_t>(std::floor(std::clamp(mare_[i], 0.0f, 1.0f) * 255 + 0.5));
      // Halos reach 0.5 at the freshest crater's rim.
      scene.fresh[i] =
          static_cast<uint8_t>(std::floor(std::clamp(fresh_[i] * 2.0f, 0.0f, 1.0f) * 255 + 0.5));
    }
    return scene;
  }

 private:
  size_t Index(int32_t col, int32_t row) const {
    return static_cast<size_t>(row) * static_cast<size_t>(r_.width) + static_cast<size_t>(col);
  }

  void FillBase() {
    for (int32_t row = 0; row < r_.height; ++row) {
      const double y = r_.originY + row;
      for (int32_t col = 0; col < r_.width; ++col) {
        const double x = r_.originX + col;
        height_[Index(col, row)] = static_cast<float>(BaseHeight(r_.seed, x, y));
        albedo_[Index(col, row)] = static_cast<float>(BaseAlbedo(r_.seed, x, y));
        mare_[Index(col, row)] = static_cast<float>(MariaAt(r_.seed, x, y));
      }
    }
  }

  void ScatterClass(int k) {
    double classRadius = kSmallestRadius;
    double density = kSmallestDensity;
    for (int i = 0; i < k; ++i) {
      classRadius *= 1.41421356237309505;
      density *= 0.5;
    }
    const double reach = 2.5 * 1.41421356 * classRadius;  // farthest a crater of the class acts
    const double expected = density * kTile * kTile;
    const auto whole = static_cast<int32_t>(expected);
    const double fraction = expected - whole;
    const auto firstTile = [&](double from) {
      return static_cast<int32_t>(std::floor((from - reach) / kTile));
    };
    const int32_t tx0 = firstTile(r_.originX), ty0 = firstTile(r_.originY);
    const int32_t tx1 = firstTile(r_.originX + r_.width + 2 * reach);
    const int32_t ty1 = firstTile(r_.originY + r_.height + 2 * reach);
    for (int32_t ty = ty0; ty <= ty1; ++ty) {
      for (int32_t tx = tx0; tx <= tx1; ++tx) {
        Random rng(Hash(r_.seed, kCraterSalt, static_cast<uint64_t>(k),
                        Hash(static_cast<uint64_t>(static_cast<int64_t>(tx)),
                             static_cast<uint64_t>(static_cast<int64_t>(ty)))));
        const int32_t n = whole + (rng.Uniform() < fraction ? 1 : 0);
        for (int32_t i = 0; i < n; ++i) Stamp(MakeCrater(rng, tx, ty, classRadius));
      }
    }
  }

  // Adds the crater's profile to the heights and its halo to the albedo.
  void Stamp(const Crater& c) {
    const double reach = (c.halo > 0.0 ? 2.5 : 2.0) * c.radius;
    const auto lo = [](double v, int32_t origin) {
      return static_cast<int32_t>(std::max(std::ceil(v) - origin, 0.0));
    };
    const auto hi = [](double v, int32_t origin, int32_t size) {
      return static_cast<int32_t>(std::min(std::floor(v) - origin, size - 1.0));
    };
    const int32_t c0 = lo(c.x - reach, r_.originX), c1 = hi(c.x + reach, r_.originX, r_.width);
    const int32_t r0 = lo(c.y - reach, r_.originY), r1 = hi(c.y + reach, r_.originY, r_.height);
    for (int32_t row = r0; row <= r1; ++row) {
      const double dy = (r_.originY + row) - c.y;
      for (int32_t col = c0; col <= c1; ++col) {
        const double dx = (r_.originX + col) - c.x;
        const double x = std::sqrt(dx * dx + dy * dy) / c.radius;
        const size_t i = Index(col, row);
        height_[i] += static_cast<float>(Profile(c, x));
        if (c.halo > 0.0 && x < 2.5) {
          const double t = 1.0 - x / 2.5;
          albedo_[i] += static_cast<float>(c.halo * t * t);
          fresh_[i] += static_cast<float>(c.halo * t * t);
        }
      }
    }
  }

  // Lunar-Lambert reflectance under a sun at the +x horizon's given elevation, seen from
  // straight above, scaled so that level ground shows its albedo; cast shadows by scanning each
  // row from the sun's side while keeping the height of the shadow line.
  void Shade(std::vector<uint8_t>& grey) const {
    const double se = SinDeg(r_.sunElevationDeg), ce = CosDeg(r_.sunElevationDeg);
    const double shadowDrop = se / ce;  // the shadow line's fall per pixel
    constexpr double kLimb = 0.6;
    const double flat = kLimb * 2.0 * se / (se + 1.0) + (1.0 - kLimb) * se;
    const int32_t w = r_.width, h = r_.height;
    for (int32_t row = 0; row < h; ++row) {
      const int32_t up = std::max(row - 1, 0), down = std::min(row + 1, h - 1);
      double shadowLine = -1e300;
      for (int32_t col = w - 1; col >= 0; --col) {
        const size_t i = Index(col, row);
        const double here = height_[i];
        shadowLine -= shadowDrop;
        const bool shadowed = here < shadowLine;
        if (!shadowed) shadowLine = here;
        const int32_t left = std::max(col - 1, 0), right = std::min(col + 1, w - 1);
        const double hx = (height_[Index(right, row)] - height_[Index(left, row)]) /
                          static_cast<double>(std::max(right - left, 1));
        const double hy = (height_[Index(col, down)] - height_[Index(col, up)]) /
                          static_cast<double>(std::max(down - up, 1));
        const double norm = std::sqrt(1.0 + hx * hx + hy * hy);
        const double mu0 = (se - hx * ce) / norm, mu = 1.0 / norm;
        double light = 0.0;
        if (!shadowed && mu0 > 0.0) {
          light = (kLimb * 2.0 * mu0 / (mu0 + mu) + (1.0 - kLimb) * mu0) / flat;
        }
        // A little light scattered from the lit ground around keeps shadows from pure black.
        const double value = 6.0 + albedo_[i] * (175.0 * light + 14.0);
        grey[i] = static_cast<uint8_t>(std::clamp(std::floor(value + 0.5), 0.0, 255.0));
      }
    }
  }

  const SceneRequest r_;
  const size_t count_;
  std::vector<float> height_;
  std::vector<float> albedo_;
  std::vector<float> mare_;
  std::vector<float> fresh_;
};

}  // namespace

double GroundScene::SampleWorld(double x, double y) const {
  const double gx = std::clamp(x - originX, 0.0, static_cast<double>(width - 1));
  const double gy = std::clamp(y - originY, 0.0, static_cast<double>(height - 1));
  const auto c0 = static_cast<int32_t>(gx), r0 = static_cast<int32_t>(gy);
  const int32_t c1 = std::min(c0 + 1, width - 1), r1 = std::min(r0 + 1, height - 1);
  const double tx = gx - c0, ty = gy - r0;
  const double top = At(c0, r0) + (At(c1, r0) - At(c0, r0)) * tx;
  const double bottom = At(c0, r1) + (At(c1, r1) - At(c0, r1)) * tx;
  return top + (bottom - top) * ty;
}

double GroundScene::InBand(int32_t column, int32_t row, const BandColour& colour) const {
  const size_t i =
      static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column);
  const double m = mare[i] / 255.0, f = fresh[i] / 255.0;
  return grey[i] * (1.0 + colour.Mare * m + colour.Highland * (1.0 - m) + colour.Fresh * f);
}

double GroundScene::SampleWorldInBand(double x, double y, const BandColour& colour) const {
  if (colour.Grey()) return SampleWorld(x, y);
  const double gx = std::clamp(x - originX, 0.0, static_cast<double>(width - 1));
  const double gy = std::clamp(y - originY, 0.0, static_cast<double>(height - 1));
  const auto c0 = static_cast<int32_t>(gx), r0 = static_cast<int32_t>(gy);
  const int32_t c1 = std::min(c0 + 1, width - 1), r1 = std::min(r0 + 1, height - 1);
  const double tx = gx - c0, ty = gy - r0;
  const double a = InBand(c0, r0, colour), b = InBand(c1, r0, colour);
  const double c = InBand(c0, r1, colour), d = InBand(c1, r1, colour);
  const double top = a + (b - a) * tx;
  const double bottom = c + (d - c) * tx;
  return top + (bottom - top) * ty;
}

BandColour ColourOfWavelength(double nanometres) {
  // Relative to 643 nm, over the 300 nm from the ultraviolet to the red.
  const double w = (nanometres - 643.0) / 300.0;
  BandColour c;
  c.Mare = -0.10 * w;     // mare: relatively brighter toward the blue
  c.Highland = 0.06 * w;  // highland: redder
  c.Fresh = -0.30 * w;    // fresh ejecta: bluer still
  return c;
}

GroundScene RenderScene(const SceneRequest& request) {
  if (request.width <= 0 || request.height <= 0 ||
      static_cast<int64_t>(request.width) * request.height > kMaxScenePixels) {
    throw RangeError("A scene of " + std::to_string(request.width) + " x " +
                     std::to_string(request.height) + " pixels cannot be made (at most " +
                     std::to_string(kMaxScenePixels) + " pixels)");
  }
  return SceneBuilder(request).Build();
}

}  // namespace quelmar::sim
