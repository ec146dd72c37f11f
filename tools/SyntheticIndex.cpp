#include "SyntheticIndex.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <utility>

#include "SimMath.h"
#include "Simulator.h"
#include "SimulatorFiles.h"
#include "util/Errors.h"
#include "util/Paths.h"

namespace quelmar::sim {

namespace {

constexpr double kMoonRadiusKm = 1737.4;
constexpr uint64_t kLineSalt = 0x6C696E6573ULL;
constexpr const char* kWacsimLineStart = "\"WACSIM_";

double Wrap(double lon) {
  return lon - 360.0 * std::floor(lon / 360.0);
}

// The label's record count depends on the kind and the framelet count only (ids of one length):
// counted once for each pair.
int32_t LabelRecordsOf(const SimulatedProduct& p) {
  static std::map<std::pair<int, int32_t>, int32_t> known;
  const auto key = std::make_pair(static_cast<int>(p.kind), p.framelets);
  const auto it = known.find(key);
  if (it != known.end()) return it->second;
  const auto records = static_cast<int32_t>(LabelArea(p).size() / static_cast<size_t>(p.width));
  known.emplace(key, records);
  return records;
}

}  // namespace

double SunLongitudeEast(double latitude, double subSolarLatitude, double incidenceDeg) {
  const double c = (CosDeg(incidenceDeg) - SinDeg(latitude) * SinDeg(subSolarLatitude)) /
                   (CosDeg(latitude) * CosDeg(subSolarLatitude));
  return std::acos(std::clamp(c, -1.0, 1.0)) * 180.0 / kPi;
}

std::string SyntheticIndexLine(uint32_t seed, int64_t line) {
  Random rng(Hash(seed, kLineSalt, static_cast<uint64_t>(line)));
  static constexpr ProductKind kKinds[4] = {ProductKind::ME, ProductKind::VE, ProductKind::UE,
                                            ProductKind::CE};
  static constexpr int32_t kFramelets[6] = {24, 48, 96, 160, 240, 400};
  SimulatedProduct p;
  p.kind = kKinds[static_cast<size_t>(line) % 4];
  p.seed = static_cast<uint32_t>(Hash(seed, static_cast<uint64_t>(line)) % 1000000000);
  p.productId = "M1" + std::to_string(100000000 + line % 900000000) + std::string(KindCode(p.kind));
  p.width = p.kind == ProductKind::ME ? 1024 : 704;
  p.framelets = kFramelets[static_cast<size_t>(rng.Uniform() * 6) % 6];
  p.travel = kDefaultTravel;
  p.bands = BandsOf(p.kind, p.width);
  for (const SimBand& b : p.bands) p.frameletHeight += b.height;

  Observation& ob = p.observation;
  // About one observation every four and a half minutes from mid 2009 on.
  ob.startMs = DaysSinceYearOne(2009, 7, 1) * 86400000 + line * 277000 +
               static_cast<int64_t>(rng.Uniform() * 60000);
  ob.orbit = 200 + static_cast<int32_t>(line * 277000 / 6780000);
  ob.altitudeKm = 38.0 + 20.0 * rng.Uniform();
  ob.resolutionM = ob.altitudeKm * 1.5;
  ob.frameDelayMs = static_cast<int32_t>(std::floor(p.travel * ob.resolutionM / 1.6 + 0.5));
  ob.endMs = ob.startMs + static_cast<int64_t>(p.framelets) * ob.frameDelayMs;
  ob.centreLat = -80.0 + 160.0 * rng.Uniform();
  const double centreLon = 360.0 * rng.Uniform();
  ob.centreLon = centreLon;
  ob.incidenceDeg = 20.0 + 65.0 * rng.Uniform();
  ob.sunElevationDeg = 90.0 - ob.incidenceDeg;
  ob.subSolarLat = -1.54 + 3.08 * rng.Uniform();
  const double sunSide = rng.Uniform() < 0.5 ? 1.0 : -1.0;  // morning or afternoon
  ob.subSolarLon =
      Wrap(centreLon + sunSide * SunLongitudeEast(ob.centreLat, ob.subSolarLat, ob.incidenceDeg));
  ob.spacecraftLat = ob.centreLat - 0.05 + 0.1 * rng.Uniform();
  ob.spacecraftLon = Wrap(centreLon - 0.05 + 0.1 * rng.Uniform());
  // North up, east to the right: the swath's width across, the framelets' travel along.
  const double degPerPixel = ob.resolutionM / 1000.0 / kMoonRadiusKm * (180.0 / kPi);
  const double halfHeight = p.framelets * p.travel * degPerPixel / 2.0;
  const double halfWidth = p.width / 2.0 * degPerPixel / CosDeg(ob.centreLat);
  ob.upperLeftLat = ob.upperRightLat = ob.centreLat + halfHeight;
  ob.lowerLeftLat = ob.lowerRightLat = ob.centreLat - halfHeight;
  ob.upperLeftLon = ob.lowerLeftLon = Wrap(centreLon - halfWidth);
  ob.upperRightLon = ob.lowerRightLon = Wrap(centreLon + halfWidth);
  return IndexLine(p, LabelRecordsOf(p));
}

void WriteSyntheticIndex(const std::string& path, int64_t lines, uint32_t seed) {
  namespace fs = std::filesystem;
  const fs::path target = FsPath(path);
  std::error_code ec;
  if (fs::exists(target, ec)) {
    std::ifstream old(target, std::ios::binary);
    std::string head(8, '\0');
    old.read(head.data(), 8);
    if (!fs::is_regular_file(target, ec) || head != kWacsimLineStart) {
      throw FileError("The index " + path + " was not written by wacsim; it is left as it is");
    }
  }
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  fs::path temp = target;
  temp += ".wacsim-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw FileError("Cannot create " + Utf8Of(temp));
    std::string chunk;
    for (int64_t i = 0; i < lines && out; ++i) {
      chunk += SyntheticIndexLine(seed, i);
      chunk += "\r\n";
      if (chunk.size() > (1u << 20)) {
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        chunk.clear();
      }
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      throw FileError("Cannot write " + path + " (is the disk full?); nothing was replaced");
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw FileError("Cannot put the new index in place of " + path);
  }
}

}  // namespace quelmar::sim
