#pragma once
// Small deterministic arithmetic for the simulator: a seeded random source, lattice hashing, value
// noise and trigonometry built only from +, -, *, /, floor and sqrt (all exactly specified by
// IEEE 754), so that the same options give the same bytes on every platform and compiler.
#include <cmath>
#include <cstdint>

namespace quelmar::sim {

// The SplitMix64 finaliser: a strong 64-bit mix.
inline uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

inline uint64_t Hash(uint64_t a, uint64_t b) {
  return Mix64(a ^ Mix64(b));
}
inline uint64_t Hash(uint64_t a, uint64_t b, uint64_t c) {
  return Hash(Hash(a, b), c);
}
inline uint64_t Hash(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
  return Hash(Hash(a, b, c), d);
}

// One mix of a lattice point (i, j) under a seed: cheap enough for every pixel.
inline uint64_t LatticeHash(uint64_t seed, uint64_t i, uint64_t j) {
  return Mix64(seed ^ (i * 0xD1B54A32D192ED03ull) ^ (j * 0xABC98388FB8FAC03ull));
}

// A hash as a real in [0, 1) with 53 random bits.
inline double UnitFromHash(uint64_t h) {
  return static_cast<double>(h >> 11) * 0x1.0p-53;
}

// A seeded sequence (SplitMix64): the simulator's only random source.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Uniform() { return UnitFromHash(Next()); }
  // Uniform in [lo, hi).
  double Between(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

 private:
  uint64_t state_;
};

inline double SmoothStep(double t) {
  return t * t * (3.0 - 2.0 * t);
}

// Smooth value noise in [0, 1): random values on the integer lattice, blended with smoothstep.
inline double ValueNoise(uint64_t seed, double x, double y) {
  const double fx = std::floor(x), fy = std::floor(y);
  const auto ix = static_cast<uint64_t>(static_cast<int64_t>(fx));
  const auto iy = static_cast<uint64_t>(static_cast<int64_t>(fy));
  const double tx = SmoothStep(x - fx), ty = SmoothStep(y - fy);
  const double v00 = UnitFromHash(LatticeHash(seed, ix, iy));
  const double v10 = UnitFromHash(LatticeHash(seed, ix + 1, iy));
  const double v01 = UnitFromHash(LatticeHash(seed, ix, iy + 1));
  const double v11 = UnitFromHash(LatticeHash(seed, ix + 1, iy + 1));
  const double top = v00 + (v10 - v00) * tx;
  const double bottom = v01 + (v11 - v01) * tx;
  return top + (bottom - top) * ty;
}

inline constexpr double kPi = 3.14159265358979323846;

// Sine of an angle in degrees, by range reduction and a Taylor series (error below 1e-15).
inline double SinDeg(double degrees) {
  double a = degrees - 360.0 * std::floor(degrees / 360.0);  // 0 .. 360
  if (a > 180.0) a -= 360.0;                                 // -180 .. 180
  if (a > 90.0) a = 180.0 - a;                               // -90 .. 90
  if (a < -90.0) a = -180.0 - a;
  const double x = a * (kPi / 180.0), x2 = x * x;
  double term = x, sum = x;
  for (int n = 1; n <= 12; ++n) {
    term *= -x2 / ((2.0 * n) * (2.0 * n + 1.0));
    sum += term;
  }
  return sum;
}
inline double CosDeg(double degrees) {
  return SinDeg(degrees + 90.0);
}

// Days from 0001-01-01 (day 0) to a date of the proleptic Gregorian calendar, and back.
struct CivilDate {
  int64_t year, month, day;
};
inline int64_t DaysSinceYearOne(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 306;  // 0001-01-01 is day 306 after 0000-03-01
}
inline CivilDate DateOfDay(int64_t daysSinceYearOne) {
  const int64_t z = daysSinceYearOne + 306;  // days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  return {yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

}  // namespace quelmar::sim
