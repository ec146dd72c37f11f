// The simulator's index lines as the search reads them: footprints, sun and spacecraft agree.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "SyntheticIndex.h"
#include "WacsimCommand.h"
#include "support/IndexSearch.h"
#include "support/TestFiles.h"

namespace quelmar {
namespace {

using sim::ProductKind;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

// The middle of the line's footprint: the mean of its corners, longitudes counted from the
// first corner's (a footprint may cross 0/360).
GroundPoint Centre(const IndexLineRecord& r) {
  Real lat = 0, lon = 0;
  for (const GroundPoint& c : r.corners) {
    Real d = c.longitude - r.corners[0].longitude;
    d -= 360 * std::nearbyint(d / 360);
    lat += c.latitude / 4;
    lon += d / 4;
  }
  return {lat, r.corners[0].longitude + lon};
}

TEST(SimulatorIndex, ProductLinesShowTheirCentreUnderTheSimulatedSun) {
  for (ProductKind kind : {ProductKind::ME, ProductKind::VE, ProductKind::UE, ProductKind::CE}) {
    for (uint32_t seed : {5u, 6u, 7u}) {
      sim::SimulatorOptions o;
      o.kind = kind;
      o.seed = seed;
      o.framelets = 4;
      const sim::SimulatedProduct p = sim::SimulateProduct(o);
      const std::string line = sim::IndexLine(p);
      const std::optional<IndexLineRecord> r = ReadSearchLine(line);
      ASSERT_TRUE(r) << p.productId;
      EXPECT_EQ(r->productId, p.productId);
      EXPECT_EQ(r->fileName, line.substr(16, r->fileName.size()));
      const GroundPoint centre{p.observation.centreLat, p.observation.centreLon};
      // The principal point's ground point lies off the bands' strips of a short product; the
      // middle of the footprint does lie within it.
      EXPECT_TRUE(FootprintContains(r->corners, Centre(*r))) << p.productId;
      // Fields of two decimals move the sun by at most 0.005 degrees each way.
      EXPECT_NEAR(static_cast<double>(IncidenceAngle(centre, r->subSolar)),
                  p.observation.incidenceDeg, 0.02)
          << p.productId;
      EXPECT_LT(static_cast<double>(EmissionAngle(centre, r->spacecraft, r->altitudeKm)), 5.0);
      EXPECT_LT(static_cast<double>(EmissionAngle(Centre(*r), r->spacecraft, r->altitudeKm)), 20.0);
    }
  }
}

TEST(SimulatorIndex, SyntheticLinesAreSearchableAndTheFileIsReplacedOnlyWhenOurs) {
  for (int64_t i : {0, 1, 2, 3, 777, 499999}) {
    const std::string line = sim::SyntheticIndexLine(9, i);
    const std::optional<IndexLineRecord> r = ReadSearchLine(line);
    ASSERT_TRUE(r) << i;
    EXPECT_TRUE(FootprintContains(r->corners, r->spacecraft)) << i;
    EXPECT_LT(static_cast<double>(EmissionAngle(r->spacecraft, r->spacecraft, r->altitudeKm)),
              1e-6);
    EXPECT_EQ(line, sim::SyntheticIndexLine(9, i));  // the same seed, the same line
  }
  TempDir dir;
  std::ostringstream out, err;
  ASSERT_EQ(
      sim::RunWacsim({"--index-lines", "300", "--seed", "4", "--output-dir", dir.Path()}, out, err),
      sim::kExitDone)
      << err.str();
  SearchRequest request;
  const std::string firstLine = sim::SyntheticIndexLine(4, 0);  // the record points into it
  const std::optional<IndexLineRecord> first = ReadSearchLine(firstLine);
  ASSERT_TRUE(first);
  request.point = Centre(*first);
  const SearchResult result = SearchIndex(dir.File("CUMINDEX.TAB"), request);
  EXPECT_EQ(result.lines, 300);
  EXPECT_EQ(result.skippedLines, 0);
  ASSERT_FALSE(result.hits.empty());
  EXPECT_EQ(result.hits[0].productId, std::string(first->productId));

  WriteFileBytes(dir.File("CUMINDEX.TAB"), "\"VOLUME\",\"someone else's index\"\r\n");
  EXPECT_EQ(sim::RunWacsim({"--index-lines", "3", "--output-dir", dir.Path()}, out, err),
            sim::kExitFailed);
  EXPECT_EQ(ReadFileBytes(dir.File("CUMINDEX.TAB")), "\"VOLUME\",\"someone else's index\"\r\n");
  EXPECT_EQ(sim::RunWacsim({"--index-lines", "0"}, out, err), sim::kExitUsage);
  EXPECT_EQ(sim::RunWacsim({"--index-lines", "5", "--kind", "CE"}, out, err), sim::kExitUsage);
}

}  // namespace
}  // namespace quelmar
