// The simulator's files as the program reads them: products load with their band layout, the
// index lookup finds their lines and cuts the right fields, and the command line writes, keeps
// and refuses files as it says.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "WacsimCommand.h"
#include "product/EdrLoader.h"
#include "support/IndexLookup.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/Numbers.h"

namespace quelmar {
namespace {

using sim::ProductKind;
using testing::ReadFileBytes;
using testing::ScriptedPort;
using testing::TempDir;
using testing::WriteFileBytes;

sim::SimulatorOptions Small(ProductKind kind, uint32_t seed, int32_t width = 0) {
  sim::SimulatorOptions o;
  o.kind = kind;
  o.framelets = 5;
  o.seed = seed;
  o.width = width;
  return o;
}

TEST(SimulatorFiles, ProductsLoadWithTheirBandLayout) {
  struct Case {
    ProductKind kind;
    int32_t width;
    int32_t bands, frameletHeight;
    std::vector<std::string> wavelengths;
  };
  const Case cases[] = {
      {ProductKind::ME, 1024, 1, 14, {"643"}},
      {ProductKind::ME, 704, 1, 14, {"643"}},
      {ProductKind::VE, 704, 5, 70, {"415", "566", "604", "643", "689"}},
      {ProductKind::UE, 704, 2, 8, {"321", "360"}},
      {ProductKind::CE, 704, 7, 78, {"321", "360", "415", "566", "604", "643", "689"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const sim::SimulatedProduct sim = sim::SimulateProduct(Small(c.kind, 3, c.width));
    SCOPED_TRACE(sim.productId);
    const std::string path = dir.File(sim::ProductFileName(sim));
    const std::string bytes = sim::ProductFileBytes(sim);
    WriteFileBytes(path, bytes);

    LoadedProduct p;
    ScriptedPort port;
    int32_t preparedFor = 0;
    ASSERT_EQ(LoadEdrProduct(path, p, port, [&](int32_t n) { preparedFor = n; }),
              LoadOutcome::ImageRead);
    EXPECT_EQ(p.ProductId, sim.productId);
    EXPECT_EQ(p.BandCount, c.bands);
    EXPECT_EQ(preparedFor, c.bands);
    EXPECT_EQ(p.FrameletHeight, c.frameletHeight);
    EXPECT_EQ(p.FrameletCount, 5);
    EXPECT_EQ(p.RowCount, 5 * c.frameletHeight);
    EXPECT_EQ(p.Rows.Width(), c.width);
    for (size_t k = 0; k < c.wavelengths.size(); ++k)
      EXPECT_EQ(p.BandWavelengths[k], c.wavelengths[k]);
    // A clean load: no caution, no note about missing or extra rows, no box.
    for (const std::string& line : port.Lines()) {
      EXPECT_EQ(line.find("aution"), std::string::npos) << line;
      EXPECT_EQ(line.find("Note:"), std::string::npos) << line;
    }
    EXPECT_TRUE(port.SeriousErrors().empty());

    // Whole label records, then exactly the rows; the rows loaded are the rows simulated.
    const std::string records = LabelKeywordValue(p.HeaderLines, "LABEL_RECORDS");
    const int32_t labelRecords = ParseInt32(records).value;
    EXPECT_EQ(bytes.size(),
              static_cast<size_t>(labelRecords + p.RowCount) * static_cast<size_t>(c.width));
    EXPECT_EQ(LabelKeywordValue(p.HeaderLines, "RECORD_BYTES"), FormatInt(c.width));
    for (int32_t row = 0; row < p.RowCount; ++row) {
      ASSERT_EQ(std::string_view(reinterpret_cast<const char*>(p.Rows.Row(row)), c.width),
                std::string_view(reinterpret_cast<const char*>(sim.Row(row)), c.width));
    }
  }
}

TEST(SimulatorFiles, UltravioletSamplesSitInTheMiddleOfTheRow) {
  const sim::SimulatedProduct p = sim::SimulateProduct(Small(ProductKind::CE, 4));
  int64_t lit = 0;
  for (int32_t row = 0; row < p.Lines(); ++row) {
    const bool uv = row % p.frameletHeight < 8;
    for (int32_t col = 0; col < p.width; ++col) {
      const uint8_t v = p.Row(row)[col];
      if (uv && (col < 288 || col > 415)) {
        ASSERT_EQ(v, 0) << row << " " << col;
      }
      if (v > 0) ++lit;
    }
  }
  // Everything else shows the ground (a shadowed pixel may read 0, but only a few do).
  const int64_t shown = int64_t{5} * (8 * 128 + 70 * 704);
  EXPECT_GT(lit, shown * 98 / 100);
}

TEST(SimulatorFiles, IndexLookupFindsEveryProductAndItsFields) {
  TempDir dir;
  const std::string index = dir.File("CUMINDEX.TAB");
  std::vector<sim::SimulatedProduct> products;
  std::vector<sim::IndexEntry> entries;
  for (ProductKind kind : {ProductKind::ME, ProductKind::VE, ProductKind::UE, ProductKind::CE}) {
    products.push_back(sim::SimulateProduct(Small(kind, 11)));
    entries.push_back({products.back().productId, sim::IndexLine(products.back())});
  }
  // Another product's line first, holding the last id at position 1 only (no match there).
  const std::string foreign = entries.back().productId + ",\"OTHER\"\r\n";
  WriteFileBytes(index, foreign);
  sim::MergeIndexLines(index, entries);
  const std::string bytes = ReadFileBytes(index);
  EXPECT_EQ(bytes.rfind(foreign, 0), 0u);

  for (const sim::SimulatedProduct& p : products) {
    SCOPED_TRACE(p.productId);
    const std::string line = sim::IndexLine(p);
    EXPECT_GE(line.size(), 890u);
    EXPECT_LE(line.size(), 920u);
    EXPECT_NE(bytes.find(line + "\r\n"), std::string::npos);

    const std::optional<SupportDataInfo> r = FindIndexRecord(index, p.productId);
    ASSERT_TRUE(r.has_value());
    const sim::Observation& ob = p.observation;
    EXPECT_EQ(r->StartTime, "\"" + sim::TimeText(ob.startMs));
    EXPECT_EQ(r->EndTime, "\"" + sim::TimeText(ob.endMs));
    EXPECT_EQ(ParseIndexTime(r->StartTime), ob.startMs);
    EXPECT_EQ(ParseIndexTime(r->EndTime), ob.endMs);
    EXPECT_EQ(r->OrientationCode1, "0");
    EXPECT_EQ(r->OrientationCode2, "-X");
    // Every geometry field is a whole number text of its own width, with the simulated value.
    const auto is = [](const std::string& text, double value, int decimals) {
      const std::string expected = FormatFixed(static_cast<Real>(value), decimals);
      return text.size() >= expected.size() &&
             text.substr(text.size() - expected.size()) == expected &&
             text.find_first_not_of(' ') == text.size() - expected.size();
    };
    EXPECT_TRUE(is(r->SpacecraftAlt, ob.altitudeKm, 3)) << r->SpacecraftAlt;
    const std::pair<const std::string*, double> fields[] = {
        {&r->SubSolarLat, ob.subSolarLat},     {&r->SubSolarLon, ob.subSolarLon},
        {&r->SpacecraftLat, ob.spacecraftLat}, {&r->SpacecraftLon, ob.spacecraftLon},
        {&r->PrincipalPointLat, ob.centreLat}, {&r->PrincipalPointLon, ob.centreLon},
        {&r->UpperLeftLat, ob.upperLeftLat},   {&r->UpperLeftLon, ob.upperLeftLon},
        {&r->UpperRightLat, ob.upperRightLat}, {&r->UpperRightLon, ob.upperRightLon},
        {&r->LowerLeftLat, ob.lowerLeftLat},   {&r->LowerLeftLon, ob.lowerLeftLon},
        {&r->LowerRightLat, ob.lowerRightLat}, {&r->LowerRightLon, ob.lowerRightLon},
    };
    for (const auto& [text, value] : fields) {
      EXPECT_EQ(text->size(), 6u);
      EXPECT_TRUE(is(*text, value, 2)) << *text << " vs " << value;
    }
    // North up: the upper corners lie north of the lower ones, the right ones east (mod 360).
    EXPECT_GT(ob.upperLeftLat, ob.lowerLeftLat);
    EXPECT_LT(ob.incidenceDeg, 90.0);
  }

  // Merging again replaces the products' lines instead of adding more.
  sim::MergeIndexLines(index, entries);
  EXPECT_EQ(ReadFileBytes(index), bytes);
}

int RunCommand(const std::vector<std::string>& args, std::string* out = nullptr,
               std::string* err = nullptr) {
  std::ostringstream o, e;
  const int status = sim::RunWacsim(args, o, e);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return status;
}

TEST(SimulatorCommand, RefusesBadOptionsWithUsageStatus) {
  const std::vector<std::vector<std::string>> bad = {
      {"--kind", "XE"},
      {"--kind"},
      {"--framelets", "0"},
      {"--framelets", "1001"},
      {"--framelets", "ten"},
      {"--size", "12x"},
      {"--travel", "0.5"},
      {"--travel", "15"},
      {"--travel", "11,3"},
      {"--travel=nan"},
      {"--seed", "-1"},
      {"--width", "1024", "--kind", "CE"},
      {"--width", "800", "--kind", "ME"},
      {"--product-id", "M123ME", "--kind", "CE"},
      {"--product-id", "M123XE"},
      {"--product-id", "../../M123CE"},
      {"--product-id", "m123ce"},
      {"--output-dir", ""},
      {"--sample-set", "--kind", "CE"},
      {"--sample-set=yes"},
      {"--frobnicate"},
      {"stray"},
  };
  for (const auto& args : bad) {
    std::string out, err;
    EXPECT_EQ(RunCommand(args, &out, &err), sim::kExitUsage) << args[0];
    EXPECT_EQ(err.rfind("wacsim: ", 0), 0u) << err;
    EXPECT_NE(err.find("--help"), std::string::npos) << err;
    EXPECT_TRUE(out.empty());
  }
  std::string out;
  EXPECT_EQ(RunCommand({"--help"}, &out), sim::kExitDone);
  EXPECT_NE(out.find("--sample-set"), std::string::npos);
}

TEST(SimulatorCommand, WritesTheSameBytesEveryTime) {
  TempDir a, b;
  const std::vector<std::string> options = {"--kind", "UE", "--framelets", "6",
                                            "--seed", "5",  "--travel",    "10.5"};
  for (const TempDir* dir : {&a, &b}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--output-dir", dir->Path() + "/out"});
    ASSERT_EQ(RunCommand(args), sim::kExitDone);
  }
  const std::string id = sim::DefaultProductId(5, ProductKind::UE);
  for (const std::string& name :
       {id + ".IMG", id + "_ground_truth.bmp", std::string("CUMINDEX.TAB")}) {
    SCOPED_TRACE(name);
    const std::string first = ReadFileBytes(a.Path() + "/out/" + name);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, ReadFileBytes(b.Path() + "/out/" + name));
  }
  EXPECT_EQ(ReadFileBytes(a.Path() + "/out/" + id + "_ground_truth.bmp").substr(0, 2), "BM");
}

TEST(SimulatorCommand, KeepsFilesItDidNotWrite) {
  TempDir dir;
  const std::string out = dir.Path();
  // Another program's product under the same name is left alone, and so is the index.
  const std::string foreignImg = "PDS_VERSION_ID = PDS3\r\nPRODUCT_ID = M42CE\r\nEND\r\n";
  const std::string foreignIndex = "\"VOL\",\"M1000000001ME\",\"2010\"\r\n\"VOL\",\"LAST\"";
  WriteFileBytes(dir.File("M42CE.IMG"), foreignImg);
  WriteFileBytes(dir.File("CUMINDEX.TAB"), foreignIndex);
  std::string err;
  EXPECT_EQ(
      RunCommand({"--product-id", "M42CE", "--framelets", "2", "--output-dir", out}, nullptr, &err),
      sim::kExitFailed);
  EXPECT_NE(err.find("M42CE.IMG"), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(dir.File("M42CE.IMG")), foreignImg);
  EXPECT_EQ(ReadFileBytes(dir.File("CUMINDEX.TAB")), foreignIndex);

  // Its own product it replaces; the index keeps the other lines and gains one line, once.
  ASSERT_EQ(RunCommand({"--product-id", "M43CE", "--framelets", "2", "--output-dir", out}),
            sim::kExitDone);
  ASSERT_EQ(RunCommand({"--product-id", "M43CE", "--framelets", "3", "--output-dir", out}),
            sim::kExitDone);
  const std::string index = ReadFileBytes(dir.File("CUMINDEX.TAB"));
  EXPECT_EQ(index.rfind(foreignIndex + "\r\n", 0), 0u);
  size_t lines = 0;
  for (char ch : index) lines += ch == '\n' ? 1 : 0;
  EXPECT_EQ(lines, 3u);
  LoadedProduct p;
  ScriptedPort port;
  ASSERT_EQ(LoadEdrProduct(dir.File("M43CE.IMG"), p, port, nullptr), LoadOutcome::ImageRead);
  EXPECT_EQ(p.FrameletCount, 3);
  EXPECT_TRUE(sim::WrittenBySimulator(dir.File("M43CE.IMG")));
  EXPECT_FALSE(sim::WrittenBySimulator(dir.File("M42CE.IMG")));
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    EXPECT_EQ(entry.path().string().find("wacsim-"), std::string::npos) << entry.path();
  }
}

TEST(SimulatorCommand, SampleSetHoldsOneSmallProductOfEachKind) {
  std::set<std::string> ids, kinds;
  int64_t bytes = 0;
  for (const sim::SimulatorOptions& o : sim::SampleSetOptions()) {
    EXPECT_EQ(sim::OptionsProblem(o), "");
    ids.insert(sim::DefaultProductId(o.seed, o.kind));
    kinds.insert(sim::KindCode(o.kind));
    const std::vector<sim::SimBand> bands = sim::BandsOf(o.kind, o.width ? o.width : 704);
    int32_t height = 0;
    for (const sim::SimBand& b : bands) height += b.height;
    bytes += int64_t{o.framelets} * height * (o.width ? o.width : 704);
  }
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_EQ(kinds, (std::set<std::string>{"CE", "ME", "UE", "VE"}));
  EXPECT_LT(bytes, 8'000'000);
}

}  // namespace
}  // namespace quelmar
