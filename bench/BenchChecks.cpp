// Checks that the benchmarks time the right thing: the fast picture paths draw exactly what the
// plain layout rules draw (also at the largest product's size), the generated index holds the
// product where the lookup must find it, the floor ratio pairs each case with its own floor, and
// the table script flags missed goals and failed cases.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "BenchFixtures.h"
#include "Floors.h"
#include "ReferencePictures.h"
#include "assembly/PictureBuilder.h"
#include "product/EdrLoader.h"
#include "support/IndexLookup.h"

namespace quelmar::bench {
namespace {

struct PictureCase {
  const char* name;
  ReferenceRequest request;
};

// Draws with DisplayImage, once with the processor's byte shuffles and once by the plain paths
// other processors take, and with the rules; returns the first difference (empty when equal).
std::string CompareWithRules(const LoadedProduct& product, ReferenceRequest r) {
  r.settingsPath = DefaultSettingsPath();
  PictureRequest request;
  request.Invert = r.invert;
  request.Stacked = r.stacked;
  request.VerticalTravel = r.verticalTravel;
  request.HorizontalTravel = r.horizontalTravel;
  request.CorrectDistortion = r.correct;
  request.CorrectVertically = r.vertical;
  request.ReadBand = [band = r.band] { return band; };
  request.ReadShift = [shift = r.shift] { return shift; };
  request.SettingsPath = r.settingsPath;
  const Picture rules = ReferencePicture(product, r);
  for (const bool shuffles : {true, false}) {
    struct Restore {
      ~Restore() { UseProcessorShuffles(true); }
    } restore;
    UseProcessorShuffles(shuffles);
    SilentPort port;
    DisplayedImageInfo shown;
    Picture fast;
    const char* path = shuffles ? "with shuffles: " : "plain paths: ";
    if (DisplayImage(product, request, port, shown, fast) != DisplayOutcome::Shown) {
      return std::string(path) + "the picture was not shown";
    }
    const std::string difference = FirstDifference(fast, rules);
    if (!difference.empty()) return path + difference;
  }
  return "";
}

ReferenceRequest Stacked(int32_t band, Real vt, Real ht = 0, bool invert = false,
                         bool correct = false, bool vertical = false, int32_t shift = 0) {
  ReferenceRequest r;
  r.stacked = true;
  r.band = band;
  r.verticalTravel = vt;
  r.horizontalTravel = ht;
  r.invert = invert;
  r.correct = correct;
  r.vertical = vertical;
  r.shift = shift;
  return r;
}

ReferenceRequest Raw(bool invert) {
  ReferenceRequest r;
  r.invert = invert;
  return r;
}

TEST(BenchPictures, FastPathsDrawWhatTheRulesDrawOnEveryKind) {
  const struct {
    ProductShape shape;
    std::vector<PictureCase> cases;
  } products[] = {
      {{sim::ProductKind::CE, 40, 704, 3},
       {{"raw", Raw(false)},
        {"raw inverted", Raw(true)},
        {"415 travel 11", Stacked(3, 11)},
        {"415 travel 11 inverted", Stacked(3, 11, 0, true)},
        {"321 travel 2.15", Stacked(1, 2.15)},
        {"321 travel 14 runs past the band", Stacked(1, 14)},
        {"689 travel 0", Stacked(7, 0)},
        {"566 travel 11, sideways -1.5", Stacked(4, 11, -1.5)},
        {"566 travel 11, sideways 0.4", Stacked(4, 11, 0.4)},
        {"415 corrected", Stacked(3, 11, 0, false, true)},
        {"415 corrected, inverted", Stacked(3, 11, 0, true, true)},
        {"415 corrected vertically, shift 2", Stacked(3, 11, 0, false, true, true, 2)},
        {"415 corrected vertically, inverted, shift -1", Stacked(3, 11, 0, true, true, true, -1)},
        {"689 corrected, travel 14", Stacked(7, 14, 0, false, true)},
        {"643 corrected vertically, sideways -2.5", Stacked(6, 11, -2.5, false, true, true)},
        {"321 corrected", Stacked(1, 2.15, 0, false, true)},
        {"360 corrected vertically", Stacked(2, 2.15, 0, false, true, true)}}},
      {{sim::ProductKind::ME, 30, 1024, 4},
       {{"raw", Raw(false)},
        {"travel 11", Stacked(1, 11)},
        {"corrected", Stacked(1, 11, 0, false, true)},
        {"corrected vertically, inverted", Stacked(1, 11, 0, true, true, true, 1)}}},
      {{sim::ProductKind::UE, 120, 704, 5},
       {{"raw inverted", Raw(true)},
        {"360 travel 2.15", Stacked(2, 2.15)},
        {"321 corrected", Stacked(1, 2.15, 0, false, true)},
        {"360 corrected vertically, shift 1", Stacked(2, 2.15, 0.25, false, true, true, 1)}}},
  };
  for (const auto& p : products) {
    const BenchProduct product = MakeBenchProduct(p.shape, RunFolder().Path());
    for (const PictureCase& c : p.cases) {
      EXPECT_EQ(CompareWithRules(product.loaded, c.request), "")
          << product.loaded.ProductId << ": " << c.name;
    }
  }
}

// A one-band product of `framelets` framelets of 14 rows, `width` samples wide, every sample
// different from its neighbours, with `spareRows` rows after the last framelet.
LoadedProduct NarrowProduct(int32_t framelets, int32_t width, int32_t spareRows = 3) {
  LoadedProduct p;
  p.ProductId = "M100NARROWME";
  p.BandCount = 1;
  p.FrameletHeight = 14;
  p.FrameletCount = framelets;
  p.RowCount = framelets * 14 + spareRows;  // an incomplete framelet that no picture shows
  p.BandWavelengths = {"604", "2", "3", "4", "5", "6", "7"};
  p.Rows.Allocate(p.RowCount, width);
  for (int32_t r = 0; r < p.RowCount; ++r) {
    for (int32_t c = 0; c < width; ++c) p.Rows.Row(r)[c] = static_cast<uint8_t>(r * 31 + c * 7);
  }
  return p;
}

// Pixels go out in pairs where they can: every width, odd and tiny ones included, must still
// give each pixel and no byte beyond its row.
TEST(BenchPictures, EveryWidthDrawsWhatTheRulesDraw) {
  const PictureCase cases[] = {
      {"raw", Raw(false)},
      {"travel 11", Stacked(1, 11)},
      {"travel 11, sideways -0.5", Stacked(1, 11, -0.5, true)},
      {"corrected", Stacked(1, 11, 0, false, true)},
      {"corrected vertically, shift 1", Stacked(1, 11, 0.5, false, true, true, 1)},
  };
  for (const int32_t width : {1, 2, 3, 4, 5, 7, 8, 13, 16, 17, 40, 705}) {
    // With no spare rows the last framelet's band ends the image block: nothing may be read
    // past it (the sanitizer build would see it).
    for (const int32_t spare : {3, 0}) {
      const LoadedProduct product = NarrowProduct(6, width, spare);
      for (const PictureCase& c : cases) {
        EXPECT_EQ(CompareWithRules(product, c.request), "")
            << "width " << width << ", " << spare << " spare rows: " << c.name;
      }
    }
  }
}

// The timed pictures themselves, at the largest product's size.
TEST(BenchPictures, FastPathsDrawWhatTheRulesDrawAtFullSize) {
  const LoadedProduct& product = ColourProduct().loaded;
  ASSERT_EQ(product.FrameletCount, 816);
  const PictureCase cases[] = {
      {"raw", Raw(false)},
      {"415 travel 11", Stacked(3, 11)},
      {"415 corrected", Stacked(3, 11, 0, false, true)},
      {"415 corrected vertically", Stacked(3, 11, 0, false, true, true)},
      {"321 corrected", Stacked(1, 2.15, 0, false, true)},
  };
  for (const PictureCase& c : cases) {
    EXPECT_EQ(CompareWithRules(product, c.request), "") << c.name;
  }
}

// The loads the benchmark times keep the image block when the next product needs one of the
// same size: the second product's rows and shape must still be its own.
TEST(BenchLoads, AProductOfTheSameSizeReplacesEveryRow) {
  const BenchProduct first =
      MakeBenchProduct({sim::ProductKind::CE, 30, 704, 11}, RunFolder().Path());
  const BenchProduct second =
      MakeBenchProduct({sim::ProductKind::CE, 30, 704, 12}, RunFolder().Path());
  LoadedProduct loaded;
  SilentPort port;
  for (const BenchProduct* p : {&first, &second, &first}) {
    ASSERT_EQ(LoadEdrProduct(p->path, loaded, port, nullptr), LoadOutcome::ImageRead);
    ASSERT_EQ(loaded.RowCount, p->loaded.RowCount);
    EXPECT_EQ(std::memcmp(loaded.Rows.Row(0), p->loaded.Rows.Row(0),
                          static_cast<size_t>(loaded.RowCount) * 704),
              0)
        << p->loaded.ProductId;
  }
  // Same bytes, other shape; then another size.
  ImageRows rows;
  rows.Allocate(10, 4);
  rows.Allocate(5, 8);
  EXPECT_EQ(rows.Lines(), 5);
  EXPECT_EQ(rows.Width(), 8);
  rows.Allocate(3, 3);
  EXPECT_EQ(rows.Lines(), 3);
  EXPECT_EQ(rows.Width(), 3);
}

TEST(BenchIndexFile, HoldsTheProductOnItsLineOnly) {
  const std::string id = "M1234567890CE";
  std::string line(900, ' ');
  line.replace(0, 24, "\"DATA/" + id + ".IMG\"");
  line.replace(40, id.size(), id);
  line.replace(309, 24, "\"2010-04-22T00:11:33.636");
  const struct { int32_t lines, productLine; } cases[] = {{1, 1}, {3, 1}, {3, 3}, {2000, 1990}};
  for (const auto& c : cases) {
    const std::string path = RunFolder().File("index-check.TAB");
    const IndexFileInfo info = WriteIndexFile(path, line, id, c.lines, c.productLine);
    EXPECT_EQ(info.bytes, int64_t{c.lines} * 902);
    std::ifstream in(path, std::ios::binary);
    std::string text;
    int32_t n = 0, holding = 0;
    while (std::getline(in, text)) {
      ++n;
      if (text.find(id) != std::string::npos) {
        EXPECT_EQ(n, c.productLine);
        ++holding;
      }
      EXPECT_EQ(text.size(), 901u) << "line " << n;
    }
    EXPECT_EQ(n, c.lines);
    EXPECT_EQ(holding, 1);
    const std::optional<SupportDataInfo> found = FindIndexRecord(path, id);
    ASSERT_TRUE(found.has_value()) << c.lines << " lines";
    EXPECT_EQ(found->StartTime, "\"2010-04-22T00:11:33.636");
  }
}

TEST(BenchFloors, RatioPairsEachCaseWithItsOwnFloor) {
  FloorPairs pairs;
  EXPECT_EQ(pairs.MedianRatio(), 0.0);
  // A slow moment hits both halves of a pair: the ratio stays 2 while the times triple.
  pairs.Add(2.0, 1.0);
  pairs.Add(6.0, 3.0);
  pairs.Add(2.2, 1.0);
  EXPECT_DOUBLE_EQ(pairs.MedianRatio(), 2.0);
  EXPECT_DOUBLE_EQ(pairs.MedianCase(), 2.2);
  EXPECT_DOUBLE_EQ(pairs.MedianFloor(), 1.0);
  pairs.Add(4.0, 1.0);
  EXPECT_DOUBLE_EQ(pairs.MedianRatio(), 2.1);  // 2, 2, 2.2, 4
  pairs.Add(1.0, 0.0);                         // a floor too short to measure counts as 0
  EXPECT_DOUBLE_EQ(pairs.MedianRatio(), 2.0);
}

std::string RunTableScript(const std::string& json, int& status) {
  const std::string path = RunFolder().File("results.json");
  std::ofstream(path) << json;
  const std::string command =
      "bash " QUELMAR_SOURCE_DIR "/scripts/bench-table.sh --table " + path + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[512];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
  status = pipe ? pclose(pipe) : -1;
  status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string Entry(const std::string& name, const std::string& fields) {
  return "    {\n      \"name\": \"" + name + "\",\n      \"run_type\": \"iteration\",\n" + fields +
         "    }";
}

TEST(BenchTable, ShowsRatiosAndFlagsMissedGoalsAndFailures) {
  const std::string good = Entry("Load/CE",
                                 "      \"real_time\": 2.5e+01,\n      \"time_unit\": \"ms\",\n"
                                 "      \"bytes\": 4.5e+07,\n      \"case_ms\": 25,\n"
                                 "      \"floor_ms\": 10,\n      \"floor_ratio\": 2.5,\n"
                                 "      \"goal\": 3\n");
  const std::string slow = Entry("Support/index:200000",
                                 "      \"real_time\": 900000,\n      \"time_unit\": \"us\",\n"
                                 "      \"bytes\": 1.8e+08,\n      \"floor_ms\": 300,\n"
                                 "      \"floor_ratio\": 3,\n      \"goal\": 2\n");
  const std::string failed =
      Entry("Raw/CE",
            "      \"error_occurred\": true,\n"
            "      \"error_message\": \"check failed: raw picture size\",\n");
  const auto json = [](const std::string& entries) {
    return "{\n  \"context\": {\n    \"date\": \"x\"\n  },\n  \"benchmarks\": [\n" + entries +
           "\n  ]\n}\n";
  };
  int status = 0;
  std::string out = RunTableScript(json(good), status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Load/CE"), std::string::npos) << out;
  EXPECT_NE(out.find("25.000"), std::string::npos) << out;
  EXPECT_NE(out.find("2.50"), std::string::npos) << out;
  EXPECT_NE(out.find("ok"), std::string::npos) << out;

  out = RunTableScript(json(good + ",\n" + slow), status);
  EXPECT_EQ(status, 3) << out;
  EXPECT_NE(out.find("900.000"), std::string::npos) << "microseconds shown as ms: " << out;
  EXPECT_NE(out.find("MISSED"), std::string::npos) << out;

  out = RunTableScript(json(good + ",\n" + failed), status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("FAILED: check failed: raw picture size"), std::string::npos) << out;
}

}  // namespace
}  // namespace quelmar::bench
