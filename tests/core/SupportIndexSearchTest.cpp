#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/IndexLines.h"
#include "support/IndexSearch.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using testing::IndexLine;
using testing::LineSpec;
using testing::TempDir;
using testing::WriteFileBytes;

GroundPoint P(Real lat, Real lon) {
  return {lat, lon};
}

TEST(SupportIndexSearchGeometry, FootprintHoldsInsideAndEdgePointsOnly) {
  const GroundPoint box[4] = {P(20, 30), P(20, 40), P(10, 40), P(10, 30)};
  EXPECT_TRUE(FootprintContains(box, P(15, 35)));
  EXPECT_TRUE(FootprintContains(box, P(15, 30)));  // on the western edge (a meridian)
  EXPECT_TRUE(FootprintContains(box, P(10, 40)));  // a corner
  EXPECT_FALSE(FootprintContains(box, P(15, 29.99L)));
  EXPECT_FALSE(FootprintContains(box, P(25, 35)));
  EXPECT_FALSE(FootprintContains(box, P(-15, 215)));  // the far side
  // Edges are great-circle arcs: the northern one reaches atan(tan 20 / cos 5) = 20.07 mid-way,
  // but only 20.01 half a degree from its end.
  EXPECT_TRUE(FootprintContains(box, P(20.05L, 35)));
  EXPECT_FALSE(FootprintContains(box, P(20.05L, 30.5L)));

  // Across the 0/360 meridian, the point in either longitude convention.
  const GroundPoint seam[4] = {P(5, 355), P(5, 5), P(-5, 5), P(-5, 355)};
  for (Real lon : {0.0L, 359.0L, -1.0L, 2.0L, 360.0L}) {
    EXPECT_TRUE(FootprintContains(seam, P(0, lon))) << static_cast<double>(lon);
  }
  for (Real lon : {10.0L, 350.0L, -10.0L, 180.0L}) {
    EXPECT_FALSE(FootprintContains(seam, P(0, lon))) << static_cast<double>(lon);
  }

  // Around the north pole: corners at latitude 85, a quarter turn apart. The arc from (85, 0)
  // to (85, 90) reaches latitude atan(sqrt(2) tan 85) = 86.46 at longitude 45.
  const GroundPoint cap[4] = {P(85, 0), P(85, 90), P(85, 180), P(85, 270)};
  EXPECT_TRUE(FootprintContains(cap, P(90, 0)));
  EXPECT_TRUE(FootprintContains(cap, P(89, 123)));
  EXPECT_TRUE(FootprintContains(cap, P(86.8L, 45)));
  EXPECT_FALSE(FootprintContains(cap, P(86.1L, 45)));
  EXPECT_FALSE(FootprintContains(cap, P(-90, 0)));
  // A footprint too wide to be one holds nothing.
  const GroundPoint huge[4] = {P(0, 0), P(0, 120), P(0, 240), P(0, 0)};
  EXPECT_FALSE(FootprintContains(huge, P(0, 60)));
}

TEST(SupportIndexSearchGeometry, AnglesAndPixelSizeMatchHandComputedValues) {
  EXPECT_NEAR(static_cast<double>(IncidenceAngle(P(0, 0), P(0, 60))), 60.0, 1e-9);
  EXPECT_NEAR(static_cast<double>(IncidenceAngle(P(30, 0), P(0, 360))), 30.0, 1e-9);
  // cos i = sin 10 sin(-1.5) + cos 10 cos(-1.5) cos 60
  EXPECT_NEAR(static_cast<double>(IncidenceAngle(P(10, 20), P(-1.5L, 80))), 60.8112, 0.01);
  EXPECT_NEAR(static_cast<double>(IncidenceAngle(P(-35.25L, -159.5L), P(1.2L, 290))), 90.2843,
              0.01);
  // Straight down: 0. One degree off along the equator, 50 km up: the spacecraft stands at
  // 1787.4 (cos 1, sin 1) from the centre, so tan e = 31.194 / (1787.128 - 1737.4).
  EXPECT_NEAR(static_cast<double>(EmissionAngle(P(12, 34), P(12, 34), 50)), 0.0, 1e-6);
  EXPECT_NEAR(static_cast<double>(EmissionAngle(P(0, 0), P(0, 1), 50)), 32.1002, 0.01);
  EXPECT_NEAR(static_cast<double>(EmissionAngle(P(10, 20), P(12, 21), 50)), 55.0023, 0.01);
  EXPECT_NEAR(static_cast<double>(EmissionAngle(P(-35.25L, 200.5L), P(-35, 201), 44.5L)), 18.5438,
              0.01);
  EXPECT_NEAR(static_cast<double>(GroundPixelSize(50)), 75.0, 1e-12);
}

TEST(SupportIndexSearchLine, ReadsTheFieldsAndRefusesLinesThatDoNotRead) {
  LineSpec s;
  const std::string line = IndexLine(s);
  const std::optional<IndexLineRecord> r = ReadSearchLine(line);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->productId, "M126534360CE");
  EXPECT_EQ(r->kind, kKindCE);
  EXPECT_EQ(r->fileName, s.file);
  EXPECT_EQ(r->start, ParseIndexTime("\"2010-03-07T10:00:00.000"));
  EXPECT_EQ(static_cast<double>(r->corners[1].longitude), 40.0);
  EXPECT_EQ(static_cast<double>(r->altitudeKm), 50.0);

  std::string late = line;  // a day past the 28th goes the lookup's way
  late.replace(310, 23, "2012-02-29T23:59:59.999");
  ASSERT_TRUE(ReadSearchLine(late));
  EXPECT_EQ(ReadSearchLine(late)->start, ParseIndexTime(" 2012-02-29T23:59:59.999"));

  std::vector<std::string> bad;
  bad.push_back(line.substr(0, 871));                           // too short for the altitude
  bad.push_back(std::string(line).replace(852, 6, "1x.00 "));   // a corner that is no number
  bad.push_back(std::string(line).replace(749, 6, " 91.00"));   // no such latitude
  bad.push_back(std::string(line).replace(866, 7, "  0.000"));  // on the ground
  bad.push_back(std::string(line).replace(310, 4, "20x0"));     // no time
  LineSpec other = s;
  other.id = "M126534360XE";  // no WAC product kind
  bad.push_back(IndexLine(other));
  for (const std::string& b : bad) EXPECT_FALSE(ReadSearchLine(b)) << b.substr(0, 60);
  EXPECT_TRUE(ReadSearchLine(std::string(line).replace(852, 6, "2.0E01")));
}

TEST(SupportIndexSearchLine, ScreeningNeverRefusesAFootprintThatHoldsThePoint) {
  struct Case {
    double corners[4][2];
    Real lat, lon;
  };
  const Case cases[] = {
      {{{5, 355}, {5, 5}, {-5, 5}, {-5, 355}}, 0, -1},        // across 0/360
      {{{5, 355}, {5, 5}, {-5, 5}, {-5, 355}}, 0, 360},       // the same, counted to 360
      {{{85, 0}, {85, 90}, {85, 180}, {85, 270}}, 88, 300},   // around the pole
      {{{90, 0}, {80, 100}, {80, 120}, {80, 140}}, 90, 200},  // a corner at the pole
      // Edges that pass the south pole closely: at longitude 90 the footprint spans latitudes
      // -86.4 to -88.2, far beyond every corner.
      {{{-70, 10}, {-70, 170}, {-80, 170}, {-80, 10}}, -87, 90},
      {{{20, 30}, {20, 40}, {10, 40}, {10, 30}}, 20.05L, 35},  // the northern edge's bulge
  };
  for (const Case& c : cases) {
    LineSpec s;
    for (int i = 0; i < 4; ++i) {
      s.corners[i][0] = c.corners[i][0];
      s.corners[i][1] = c.corners[i][1];
    }
    SearchRequest request;
    request.point = P(c.lat, c.lon);
    const std::optional<IndexLineRecord> r = ReadSearchLine(IndexLine(s));
    ASSERT_TRUE(r);
    EXPECT_TRUE(FootprintContains(r->corners, request.point))
        << static_cast<double>(c.lat) << " " << static_cast<double>(c.lon);
    EXPECT_TRUE(SearchLine(IndexLine(s), request).has_value())
        << static_cast<double>(c.lat) << " " << static_cast<double>(c.lon);
  }
}

TEST(SupportIndexSearchFile, StreamsGoodLinesAndCountsTheRest) {
  TempDir dir;
  const std::string path = dir.File("CUMINDEX.TAB");
  LineSpec a;  // lit from 60 degrees east of the point
  LineSpec b = a;
  b.id = "M111111111ME";
  b.file = "M111111111ME.IMG";
  b.start = "2009-12-01T00:00:00.000";
  b.sun[1] = 35 + 70;
  LineSpec c = a;  // seen from far off, and in 2011
  c.id = "M222222222VE";
  c.start = "2011-05-05T05:05:05.005";
  c.craft[0] = 15;
  c.craft[1] = 37;
  c.sun[1] = 35 + 40;
  LineSpec away = a;  // elsewhere on the Moon
  for (auto& corner : away.corners) corner[0] -= 50;
  // A line far longer than a read block, its fields where they belong.
  const std::string longLine = IndexLine(a) + std::string(3 << 20, 'z');
  std::string text = IndexLine(a) + "\r\n" + "\r\n" + IndexLine(b) + "\n" + std::string(300, '\0') +
                     "\n" + IndexLine(away) + "\r\nshort line\r\n" + longLine + "\n" + IndexLine(c);
  WriteFileBytes(path, text);

  SearchRequest request;
  request.point = P(15, 35);
  SearchResult result = SearchIndex(path, request);
  EXPECT_EQ(result.lines, 7);
  EXPECT_EQ(result.skippedLines, 2);
  ASSERT_EQ(result.hits.size(), 4u);
  EXPECT_EQ(result.hits[0].productId, "M111111111ME");  // by start time
  EXPECT_EQ(result.hits[3].productId, "M222222222VE");
  EXPECT_EQ(result.hits[3].startTime, "2011-05-05T05:05:05.005");
  // cos i = cos 15 cos 70 (the sun over the equator, 70 degrees of longitude away)
  EXPECT_NEAR(static_cast<double>(result.hits[0].incidence), 70.7090, 0.001);
  EXPECT_NEAR(static_cast<double>(result.hits[1].emission), 0.0, 1e-6);
  EXPECT_NEAR(static_cast<double>(result.hits[1].pixelSize), 75.0, 1e-9);
  EXPECT_EQ(result.hits[0].fileName, "M111111111ME.IMG");

  request.incidenceMin = 50;
  request.incidenceMax = 65;
  EXPECT_EQ(SearchIndex(path, request).hits.size(), 2u);  // a, twice
  request.incidenceMin.reset();
  request.incidenceMax.reset();
  request.emissionMax = 5;
  EXPECT_EQ(SearchIndex(path, request).hits.size(), 3u);
  request.emissionMax.reset();
  request.kinds = kKindME | kKindVE;
  EXPECT_EQ(SearchIndex(path, request).hits.size(), 2u);
  request.kinds = kAllKinds;
  request.from = ParseSearchDate("2010-03-07", false);
  request.to = ParseSearchDate("2010-03-07", true);
  EXPECT_EQ(SearchIndex(path, request).hits.size(), 2u);
  request.from.reset();
  request.to.reset();
  request.nearIncidence = 42;
  request.limit = 2;
  result = SearchIndex(path, request);
  EXPECT_EQ(result.matches, 4);
  ASSERT_EQ(result.hits.size(), 2u);
  EXPECT_EQ(result.hits[0].productId, "M222222222VE");
  EXPECT_EQ(result.hits[1].productId, "M126534360CE");

  // Nothing usable at all is a result too, not an error.
  WriteFileBytes(path, std::string("\x7f\x45\x4c\x46\x02\x01", 6) + std::string(5000, '\xff'));
  result = SearchIndex(path, request);
  EXPECT_EQ(result.lines, 1);
  EXPECT_EQ(result.skippedLines, 1);
  EXPECT_TRUE(result.hits.empty());
  EXPECT_THROW(SearchIndex(dir.File("missing.TAB"), request), FileError);
}

TEST(SupportIndexSearchRequest, RefusesImpossibleRequestsAndReadsDates) {
  SearchRequest r;
  EXPECT_EQ(SearchRequestProblem(r), "");
  r.point = P(90.5L, 0);
  EXPECT_NE(SearchRequestProblem(r), "");
  r.point = P(0, 361);
  EXPECT_NE(SearchRequestProblem(r), "");
  r.point = P(0, -180);
  r.incidenceMin = 70;
  r.incidenceMax = 60;
  EXPECT_NE(SearchRequestProblem(r), "");
  EXPECT_THROW(SearchIndex("/nonexistent/CUMINDEX.TAB", r), RangeError);
  r.incidenceMax.reset();
  r.from = ParseSearchDate("2011-01-01", false);
  r.to = ParseSearchDate("2010-12-31T23:00:00", false);
  EXPECT_NE(SearchRequestProblem(r), "");

  EXPECT_EQ(ParseSearchDate("2010-03-07", true), ParseIndexTime(" 2010-03-07T23:59:59.999"));
  EXPECT_EQ(ParseSearchDate("2010-03-07 10:00:00.5x0", false), std::nullopt);
  EXPECT_EQ(ParseSearchDate("2010-03-07 10:00:00.500", false),
            ParseIndexTime(" 2010-03-07T10:00:00.500"));
  for (const char* bad : {"2010-02-30", "2010/03/07", "yesterday", "", "2010-03-07T25:00:00"}) {
    EXPECT_EQ(ParseSearchDate(bad, false), std::nullopt) << bad;
  }
}

TEST(SupportIndexSearchFile, FindsTheProductOfAHitWhereItIs) {
  TempDir dir;
  const std::string index = dir.File("CUMINDEX.TAB");
  SearchHit hit;
  hit.productId = "M1CE";
  hit.fileName = "DATA/EDR/2010066/WAC/M1CE.IMG";
  EXPECT_EQ(LocateHitFile(hit, index, ""), std::nullopt);
  std::filesystem::create_directories(dir.File("DATA/EDR/2010066/WAC"));
  std::filesystem::create_directories(dir.File("elsewhere"));
  WriteFileBytes(dir.File("DATA/EDR/2010066/WAC/M1CE.IMG"), "x");
  EXPECT_EQ(LocateHitFile(hit, index, ""), dir.File("DATA/EDR/2010066/WAC/M1CE.IMG"));
  WriteFileBytes(dir.File("elsewhere/M1CE.IMG"), "x");
  EXPECT_EQ(LocateHitFile(hit, index, dir.File("elsewhere")), dir.File("elsewhere/M1CE.IMG"));
  WriteFileBytes(dir.File("M1CE.IMG"), "x");
  EXPECT_EQ(LocateHitFile(hit, index, dir.File("elsewhere")), dir.File("M1CE.IMG"));
}

}  // namespace
}  // namespace quelmar
