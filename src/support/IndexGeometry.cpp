#include "support/IndexGeometry.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "util/Errors.h"

namespace quelmar {

namespace {

constexpr Real kPi = 3.141592653589793238462643383279502884L;
constexpr Real kRadPerDeg = kPi / 180;

struct Vec {
  Real x, y, z;
};
Vec operator-(Vec a, Vec b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator*(Real k, Vec a) {
  return {k * a.x, k * a.y, k * a.z};
}
Real Dot(Vec a, Vec b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Real Length(Vec a) {
  return std::sqrt(Dot(a, a));
}

Vec UnitVector(GroundPoint p) {
  const Real lat = p.latitude * kRadPerDeg, lon = p.longitude * kRadPerDeg;
  return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
}

Real AngleDeg(Real cosine) {
  return std::acos(std::clamp(cosine, Real{-1}, Real{1})) / kRadPerDeg;
}

// A number field as read: plain forms (blanks, an optional sign, digits with an optional
// period, blanks) as an integer and a count of decimals, so that screening a line needs no
// floating-point work; other forms (an exponent, say) by the general real-number rule.
struct NumberText {
  int64_t mantissa = 0;
  int32_t decimals = 0;
  bool plain = true;
  Real value = 0;  // when not plain
};

constexpr int64_t kTenPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
constexpr double kTenths[] = {1, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8};

bool ReadNumber(std::string_view f, NumberText& out) {
  size_t i = 0;
  while (i < f.size() && f[i] == ' ') ++i;
  bool negative = false;
  if (i < f.size() && (f[i] == '-' || f[i] == '+')) negative = f[i++] == '-';
  int64_t mantissa = 0;
  int32_t digits = 0, decimals = 0;
  bool period = false;
  for (; i < f.size(); ++i) {
    const char c = f[i];
    if (c >= '0' && c <= '9') {
      mantissa = mantissa * 10 + (c - '0');
      ++digits;
      decimals += period ? 1 : 0;
    } else if (c == '.' && !period) {
      period = true;
    } else {
      break;
    }
  }
  while (i < f.size() && f[i] == ' ') ++i;
  if (digits > 0 && i == f.size() && decimals <= 8) {
    out.mantissa = negative ? -mantissa : mantissa;
    out.decimals = decimals;
    out.plain = true;
    return true;
  }
  std::string text(f);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  const RealParse parsed = ParseReal(text);
  if (!parsed.ok() || !std::isfinite(parsed.value)) return false;
  out.plain = false;
  out.value = parsed.value;
  return true;
}

Real AsReal(const NumberText& n) {
  return n.plain ? static_cast<Real>(n.mantissa) / static_cast<Real>(kTenPowers[n.decimals])
                 : n.value;
}
double AsDouble(const NumberText& n) {
  return n.plain ? static_cast<double>(n.mantissa) * kTenths[n.decimals]
                 : static_cast<double>(n.value);
}
// |n| <= limit, decided on the integer of a plain number.
bool WithinMagnitude(const NumberText& n, int64_t limit) {
  return n.plain ? (n.mantissa < 0 ? -n.mantissa : n.mantissa) <= limit * kTenPowers[n.decimals]
                 : std::fabs(n.value) <= limit;
}
bool Positive(const NumberText& n) {
  return n.plain ? n.mantissa > 0 : n.value > 0;
}

// The start time: plain digits read directly; anything else as the lookup reads it.
std::optional<IndexTime> TimeField(std::string_view text) {
  static constexpr int kPlaces[7][2] = {{2, 5},   {7, 8},   {10, 11}, {13, 14},
                                        {16, 17}, {19, 20}, {22, 24}};
  int32_t v[7];
  bool plain = text.size() == 24;
  for (int k = 0; plain && k < 7; ++k) {
    int32_t n = 0;
    for (int i = kPlaces[k][0]; i <= kPlaces[k][1]; ++i) {
      const char c = text[static_cast<size_t>(i - 1)];
      if (c < '0' || c > '9') {
        plain = false;
        break;
      }
      n = n * 10 + (c - '0');
    }
    v[k] = n;
  }
  if (plain && v[0] >= 1 && v[1] >= 1 && v[1] <= 12 && v[2] >= 1 && v[2] <= 28 && v[3] <= 23 &&
      v[4] <= 59 && v[5] <= 59) {
    // Days 1 to 28 exist in every month: the date is valid, counted as the lookup counts it.
    static thread_local int32_t cachedYear = 0, cachedMonth = 0;
    static thread_local IndexTime cachedMonthStart = 0;
    if (v[0] != cachedYear || v[1] != cachedMonth) {
      std::string first = " 0000-00-01T00:00:00.000";
      const std::string y = FormatInt(v[0]), m = FormatInt(v[1]);
      first.replace(5 - y.size(), y.size(), y);
      first.replace(8 - m.size(), m.size(), m);
      cachedMonthStart = ParseIndexTime(first);
      cachedYear = v[0];
      cachedMonth = v[1];
    }
    return cachedMonthStart + (((int64_t{v[2] - 1} * 24 + v[3]) * 60 + v[4]) * 60 + v[5]) * 1000 +
           v[6];
  }
  try {
    return ParseIndexTime(text);
  } catch (const ConversionError&) {
    return std::nullopt;
  }
}

std::string_view TrimmedBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

uint32_t KindOfId(std::string_view id) {
  if (id.size() < 4 || id[0] != 'M') return 0;
  for (size_t i = 1; i + 2 < id.size(); ++i) {
    if (id[i] < '0' || id[i] > '9') return 0;
  }
  const std::string_view tail = id.substr(id.size() - 2);
  if (tail == "ME") return kKindME;
  if (tail == "UE") return kKindUE;
  if (tail == "VE") return kKindVE;
  if (tail == "CE") return kKindCE;
  return 0;
}

bool NamesImgFile(std::string_view text) {
  if (text.size() < 5) return false;
  const std::string_view ext = text.substr(text.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 'i' && (ext[2] | 0x20) == 'm' &&
         (ext[3] | 0x20) == 'g';
}

}  // namespace

std::string_view WacProductIdIn(std::string_view text, uint32_t* kind) {
  size_t from = 0;
  for (;;) {
    const size_t open = text.find('"', from);
    if (open == std::string_view::npos) return {};
    const size_t close = text.find('"', open + 1);
    if (close == std::string_view::npos) return {};
    const std::string_view field = TrimmedBlanks(text.substr(open + 1, close - open - 1));
    const uint32_t k = KindOfId(field);
    if (k != 0) {
      if (kind) *kind = k;
      return field;
    }
    from = close + 1;
  }
}

namespace {

// The fields of a line as read, before any floating-point work.
struct LineFields {
  std::string_view productId;
  uint32_t kind = 0;
  IndexTime start = 0;
  NumberText numbers[13];  // sub-solar, spacecraft (latitude, longitude), altitude, corners
};

// 1-based positions and widths, in the order of LineFields::numbers: latitudes at the even
// places before the altitude and at odd ones after it.
constexpr int kNumberPlaces[13][2] = {{749, 6}, {756, 6}, {763, 6}, {770, 6}, {866, 7},
                                      {852, 6}, {859, 6}, {810, 6}, {817, 6}, {824, 6},
                                      {831, 6}, {838, 6}, {845, 6}};
constexpr int kNumberCount = 13;
constexpr bool IsLatitude(int k) {
  return k < 4 ? k % 2 == 0 : (k > 4 && k % 2 == 1);
}

bool ScanLine(std::string_view line, LineFields& f) {
  if (line.size() < static_cast<size_t>(kSearchLineLength)) return false;
  // The identifier stands among the quoted fields before the times.
  f.productId = WacProductIdIn(line.substr(0, 309), &f.kind);
  if (f.productId.empty()) return false;
  for (int k = 0; k < kNumberCount; ++k) {
    const auto [position, width] = kNumberPlaces[k];
    const std::string_view text =
        line.substr(static_cast<size_t>(position - 1), static_cast<size_t>(width));
    if (!ReadNumber(text, f.numbers[k])) return false;
    if (k == 4 ? !Positive(f.numbers[k])
               : !WithinMagnitude(f.numbers[k], IsLatitude(k) ? 90 : 360)) {
      return false;
    }
  }
  const std::optional<IndexTime> start = TimeField(line.substr(309, 24));
  if (!start) return false;
  f.start = *start;
  return true;
}

GroundPoint PointOf(const LineFields& f, int k) {
  return {AsReal(f.numbers[k]), AsReal(f.numbers[k + 1])};
}

IndexLineRecord RecordOf(std::string_view line, const LineFields& f) {
  IndexLineRecord r;
  r.productId = f.productId;
  r.kind = f.kind;
  r.startText = line.substr(309, 24);
  r.start = f.start;
  r.subSolar = PointOf(f, 0);
  r.spacecraft = PointOf(f, 2);
  r.altitudeKm = AsReal(f.numbers[4]);
  for (int i = 0; i < 4; ++i) r.corners[i] = PointOf(f, 5 + 2 * i);
  const std::string_view before = line.substr(0, 309);
  size_t from = 0;
  for (;;) {
    const size_t open = before.find('"', from);
    if (open == std::string_view::npos) break;
    const size_t close = before.find('"', open + 1);
    if (close == std::string_view::npos) break;
    const std::string_view field = TrimmedBlanks(before.substr(open + 1, close - open - 1));
    if (NamesImgFile(field)) {
      r.fileName = field;
      break;
    }
    from = close + 1;
  }
  return r;
}

}  // namespace

std::optional<IndexLineRecord> ReadSearchLine(std::string_view line) {
  LineFields f;
  if (!ScanLine(line, f)) return std::nullopt;
  return RecordOf(line, f);
}

namespace {

// A corner's number as a double, for screening only: the usual form ("-28.61", " 345.19") read
// directly, anything else by the general rule. False when it does not read or lies beyond
// `limit` in magnitude.
bool CornerNumber(std::string_view line, int position, int limit, double& out) {
  // The integer part's first two characters: digits, or blanks and a sign before the digits.
  struct Lead {
    bool ok, negative;
    int use0, use1;  // whether each is a digit of the number
  };
  enum { D, B, M, P, X };  // digit, blank, minus, plus, other
  static constexpr auto kClass = [] {
    std::array<uint8_t, 256> c{};
    c.fill(X);
    for (int d = '0'; d <= '9'; ++d) c[static_cast<size_t>(d)] = D;
    c[' '] = B;
    c['-'] = M;
    c['+'] = P;
    return c;
  }();
  static constexpr auto kLeads = [] {
    std::array<Lead, 25> l{};
    l[D * 5 + D] = {true, false, 1, 1};
    l[B * 5 + D] = {true, false, 0, 1};
    l[M * 5 + D] = {true, true, 0, 1};
    l[P * 5 + D] = {true, false, 0, 1};
    l[B * 5 + B] = {true, false, 0, 0};
    l[B * 5 + M] = {true, true, 0, 0};
    l[B * 5 + P] = {true, false, 0, 0};
    return l;
  }();
  const auto* f = reinterpret_cast<const unsigned char*>(line.data() + position - 1);
  const Lead& lead = kLeads[kClass[f[0]] * 5 + kClass[f[1]]];
  const int d0 = f[0] - '0', d1 = f[1] - '0', d2 = f[2] - '0', d4 = f[4] - '0', d5 = f[5] - '0';
  const bool plain = lead.ok & (static_cast<unsigned>(d2) <= 9) & (f[3] == '.') &
                     (static_cast<unsigned>(d4) <= 9) & (static_cast<unsigned>(d5) <= 9);
  if (plain) {
    const int v = ((d0 * lead.use0 * 100 + d1 * lead.use1 * 10 + d2) * 100) + d4 * 10 + d5;
    out = (lead.negative ? -v : v) * 0.01;
    return v <= limit * 100;
  }
  NumberText n;
  if (!ReadNumber(std::string_view(line.data() + position - 1, 6), n) ||
      !WithinMagnitude(n, limit)) {
    return false;
  }
  out = AsDouble(n);
  return true;
}

// The longitude `lon` brought within 180 degrees of zero.
double Centred(double lon) {
  lon -= 360.0 * std::floor(lon / 360.0);
  return lon > 180 ? lon - 360 : lon;
}

}  // namespace

LineFit ScreenSearchLine(std::string_view line, GroundPoint point, IndexLineRecord& record) {
  if (line.size() < static_cast<size_t>(kSearchLineLength)) return LineFit::Unreadable;
  // Corners first, with no floating-point division or trigonometry: most lines end here.
  static constexpr int kCorners[4][2] = {{852, 859}, {810, 817}, {824, 831}, {838, 845}};
  double lat[4], lon[4];
  for (int i = 0; i < 4; ++i) {
    if (!CornerNumber(line, kCorners[i][0], 90, lat[i]) ||
        !CornerNumber(line, kCorners[i][1], 360, lon[i])) {
      return LineFit::Unreadable;
    }
  }
  // Every point of the footprint lies within `reach` degrees of the first corner (a path along
  // the meridian, then along the parallel, is never shorter than the arc), and so does its
  // latitude.
  double reach = 0;
  for (int i = 1; i < 4; ++i) {
    reach = std::max(reach, std::fabs(lat[i] - lat[0]) + std::fabs(Centred(lon[i] - lon[0])));
  }
  const double pointLat = static_cast<double>(point.latitude);
  if (std::fabs(pointLat - lat[0]) > reach + 1e-6) return LineFit::Outside;
  // Along a great-circle arc that misses the poles the longitude runs monotonically, the short
  // way, from one end to the other; a footprint whose edges do not wind around a pole therefore
  // spans the longitudes its edges span.
  double offset = 0, low = 0, high = 0, winding = 0;
  bool decided = true;
  for (int i = 0; i < 4; ++i) {
    const double edge = Centred(lon[(i + 1) % 4] - lon[i]);
    // An arc through a pole, or a point at one, has no longitude to go by.
    decided = decided && std::fabs(edge) < 179.999 && std::fabs(lat[i]) < 89.999;
    winding += edge;
    if (i < 3) {
      offset += edge;
      low = std::min(low, offset);
      high = std::max(high, offset);
    }
  }
  if (decided && std::fabs(winding) < 180 && std::fabs(pointLat) < 89.999) {
    double p = static_cast<double>(point.longitude) - lon[0];
    p -= 360.0 * std::floor((p - low + 1e-6) / 360.0);
    if (p > high + 1e-6) return LineFit::Outside;
  }
  // A candidate: now every field must read.
  LineFields f;
  if (!ScanLine(line, f)) return LineFit::Unreadable;
  record = RecordOf(line, f);
  return LineFit::Candidate;
}

bool FootprintContains(const GroundPoint (&corners)[4], GroundPoint point) {
  // Cheap refusal first: every point of the footprint lies within `reach` degrees of the first
  // corner (a path along the meridian, then along the parallel, is never shorter than the arc),
  // and so does its latitude.
  Real reach = 0;
  for (int i = 1; i < 4; ++i) {
    Real dLon = std::fmod(std::fabs(corners[i].longitude - corners[0].longitude), Real{360});
    if (dLon > 180) dLon = 360 - dLon;
    reach = std::max(reach, std::fabs(corners[i].latitude - corners[0].latitude) + dLon);
  }
  if (std::fabs(point.latitude - corners[0].latitude) > reach + 1e-9L) return false;

  // In the gnomonic projection about the footprint's centre, great-circle arcs are straight
  // lines: the question becomes one of a point in a plane quadrilateral.
  Vec c[4];
  Vec sum{0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    c[i] = UnitVector(corners[i]);
    sum = {sum.x + c[i].x, sum.y + c[i].y, sum.z + c[i].z};
  }
  const Real sumLength = Length(sum);
  if (sumLength < 1e-6L) return false;
  const Vec m = (1 / sumLength) * sum;
  const Vec p = UnitVector(point);
  if (Dot(p, m) <= 0) return false;
  for (const Vec& v : c) {
    if (Dot(v, m) <= 1e-6L) return false;
  }
  Vec e1 = Cross(Vec{0, 0, 1}, m);
  if (Length(e1) < 1e-3L) e1 = Cross(Vec{1, 0, 0}, m);
  e1 = (1 / Length(e1)) * e1;
  const Vec e2 = Cross(m, e1);
  struct Plane {
    Real u, v;
  };
  const auto project = [&](Vec q) {
    const Real d = Dot(q, m);
    return Plane{Dot(q, e1) / d, Dot(q, e2) / d};
  };
  Plane q[4];
  for (int i = 0; i < 4; ++i) q[i] = project(c[i]);
  const Plane pt = project(p);

  // On an edge (within about a millimetre on the ground) counts as inside; otherwise the
  // crossing rule decides.
  constexpr Real kEdge = 1e-9L;
  bool inside = false;
  for (int i = 0, j = 3; i < 4; j = i++) {
    const Real du = q[i].u - q[j].u, dv = q[i].v - q[j].v;
    const Real edge = std::sqrt(du * du + dv * dv);
    const Real cross = du * (pt.v - q[j].v) - dv * (pt.u - q[j].u);
    const Real along = du * (pt.u - q[j].u) + dv * (pt.v - q[j].v);
    if (edge > 0 && std::fabs(cross) <= kEdge * edge && along >= -kEdge * edge &&
        along <= edge * edge + kEdge * edge) {
      return true;
    }
    if ((q[i].v > pt.v) != (q[j].v > pt.v)) {
      const Real u = q[j].u + (pt.v - q[j].v) * du / dv;
      if (pt.u < u) inside = !inside;
    }
  }
  return inside;
}

Real IncidenceAngle(GroundPoint point, GroundPoint subSolar) {
  return AngleDeg(Dot(UnitVector(point), UnitVector(subSolar)));
}

Real EmissionAngle(GroundPoint point, GroundPoint spacecraft, Real altitudeKm) {
  const Vec n = UnitVector(point);
  const Vec toCraft = (kMoonRadiusKm + altitudeKm) * UnitVector(spacecraft) - kMoonRadiusKm * n;
  const Real distance = Length(toCraft);
  if (!(distance > 0)) return 0;
  return AngleDeg(Dot(n, toCraft) / distance);
}

Real GroundPixelSize(Real altitudeKm) {
  return altitudeKm * 1000 * kPixelPitchMm / kFocalLengthMm;
}

}  // namespace quelmar
