// quelmar-cli travel and the measured travels of stack, run as a program on synthetic products
// whose framelets overlap by a known travel.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/CliRun.h"
#include "support/TestFiles.h"

namespace quelmar::testing {
namespace {

CliRun RunTool(const std::vector<std::string>& args, const std::string& cwd) {
  return RunCli(args, cwd);
}

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, at);) parts.push_back(part);
  return parts;
}

// A monochrome product 160 samples wide (of 10 framelets unless given): framelet f sees the ground
// moved f x travel rows down and f x drift columns; `flat` gives every sample one grey level.
std::string WriteProduct(const TempDir& dir, const std::string& id, double travel, double drift,
                         bool flat = false, int32_t framelets = 10) {
  const int32_t height = 14, width = 160;
  SyntheticProduct p = MakeProduct(id, framelets, height, width, "643 <nm>");
  for (int32_t f = 0; f < framelets; ++f)
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const double gx = x + f * drift, gy = y + f * travel;
        const double v = flat ? 77
                              : 120 + 40 * std::sin(0.21 * gx + 0.13 * gy) +
                                    25 * std::cos(0.17 * gy - 0.09 * gx + 1.0) +
                                    15 * std::sin(0.43 * gx + 0.37 * gy + 2.0);
        p.rows[(static_cast<size_t>(f) * height + y) * width + x] =
            static_cast<uint8_t>(std::floor(v + 0.5));
      }
  WriteFileBytes(dir.File(id + ".IMG"), ProductBytes(p));
  return dir.File(id + ".IMG");
}

TEST(CliTravel, TsvGivesAHeaderThenOneRowPerProductAndNotFoundRowsSayWhy) {
  TempDir dir;
  const std::string good = WriteProduct(dir, "M8000ME", 9.25, 0.5);
  const std::string flat = WriteProduct(dir, "M8001ME", 9.25, 0.5, true);
  const CliRun run = RunTool({"travel", "--tsv", good, flat}, dir.Path());
  EXPECT_EQ(run.status, 1);  // the flat product's travel is not found
  const std::vector<std::string> lines = Split(run.out, '\n');
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0],
            "product_id\tband\twavelength_nm\tvertical\thorizontal\tvertical_min\tvertical_max\t"
            "pairs\tresidual");
  const std::vector<std::string> row = Split(lines[1], '\t');
  ASSERT_EQ(row.size(), 9u) << lines[1];
  EXPECT_EQ(row[0], "M8000ME");
  EXPECT_EQ(row[1], "1");
  EXPECT_EQ(row[2], "643");
  EXPECT_NEAR(std::stod(row[3]), 9.25, 0.01);
  EXPECT_NEAR(std::stod(row[4]), 0.5, 0.01);
  EXPECT_EQ(row[3].size() - row[3].find('.'), 4u);  // three decimals
  EXPECT_LE(std::stod(row[5]), std::stod(row[3]));
  EXPECT_GE(std::stod(row[6]), std::stod(row[3]));
  EXPECT_EQ(row[7], "9");
  const std::vector<std::string> missing = Split(lines[2], '\t');
  ASSERT_EQ(missing.size(), 9u) << lines[2];
  EXPECT_EQ(missing[0], "M8001ME");
  EXPECT_EQ(missing[3], "not found");
  EXPECT_EQ(missing[8], "the scene is featureless: every sample has the same grey level");

  const CliRun human = RunTool({"travel", good}, dir.Path());
  EXPECT_EQ(human.status, 0);
  EXPECT_EQ(human.out.rfind("M8000ME band 1 (643 nm): vertical 9.2", 0), 0u) << human.out;
}

TEST(CliTravel, StackUsesTheMeasuredTravelsAndSaysSo) {
  TempDir dir;
  const std::string good = WriteProduct(dir, "M8002ME", 10.5, -0.75);
  const CliRun run = RunTool(
      {"stack", "--vertical-travel", "auto", "--horizontal-travel", "auto", "-o", "auto.bmp", good},
      dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Travel used: vertical 10.5"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" (measured), horizontal -0.7"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" (measured) pixels (band 1, 9 framelet pairs)"), std::string::npos);
  // A product of two framelets has one pair.
  const std::string two = WriteProduct(dir, "M8005ME", 10.5, -0.75, false, 2);
  const CliRun pair = RunTool({"travel", two}, dir.Path());
  EXPECT_NE(pair.out.find(" pixels (1 of 1 framelet pair, residual"), std::string::npos)
      << pair.out;
  const CliRun one =
      RunTool({"stack", "--vertical-travel", "auto", "-o", "two.bmp", two}, dir.Path());
  EXPECT_NE(one.out.find(" (measured), horizontal 0.000 (given) pixels (band 1, 1 framelet pair)"),
            std::string::npos)
      << one.out;
  EXPECT_EQ(ReadFileBytes(dir.File("auto.bmp")).substr(0, 2), "BM");
  const CliRun given = RunTool(
      {"stack", "--vertical-travel", "auto", "--horizontal-travel", "-1", "-o", "given.bmp", good},
      dir.Path());
  EXPECT_NE(given.out.find(", horizontal -1.000 (given) pixels"), std::string::npos) << given.out;

  const CliRun flat = RunTool(
      {"stack", "--travel-profile", "-o", "flat.bmp", WriteProduct(dir, "M8003ME", 10.5, 0, true)},
      dir.Path());
  EXPECT_EQ(flat.status, 1);
  EXPECT_NE(flat.out.find("Travel not found (band 1): the scene is featureless"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("flat.bmp")));

  EXPECT_EQ(
      RunTool({"stack", "--travel-profile", "--vertical-travel", "11", good}, dir.Path()).status,
      2);
  EXPECT_EQ(RunTool({"travel", "--tsv", "--output-dir", "x", good}, dir.Path()).status, 2);
}

// The travels a stack's message gives, typed in, make the same picture as "auto": over a long
// product, the thousandths the message leaves out would place some framelets a row or a column
// elsewhere.
TEST(CliTravel, StackWithTheMeasuredTravelsIsTheOneTheirMessageGives) {
  TempDir dir;
  const std::string product = WriteProduct(dir, "M8004ME", 10.5, -0.75, false, 80);
  const CliRun run = RunTool({"stack", "--vertical-travel", "auto", "--horizontal-travel", "auto",
                              "-o", "auto.bmp", product},
                             dir.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  const auto said = [&](const std::string& before) {
    const size_t at = run.out.find(before);
    if (at == std::string::npos) return std::string("?");
    const size_t from = at + before.size();
    return run.out.substr(from, run.out.find(' ', from) - from);
  };
  const std::string vertical = said("Travel used: vertical "), horizontal = said(", horizontal ");
  const CliRun typed = RunTool({"stack", "--vertical-travel", vertical, "--horizontal-travel",
                                horizontal, "-o", "typed.bmp", product},
                               dir.Path());
  ASSERT_EQ(typed.status, 0) << typed.err;
  EXPECT_TRUE(ReadFileBytes(dir.File("typed.bmp")) == ReadFileBytes(dir.File("auto.bmp")))
      << "typed " << vertical << " " << horizontal;
}

TEST(CliTravel, HelpDocumentsTheOptions) {
  TempDir dir;
  const CliRun help = RunTool({"travel", "--help"}, dir.Path());
  EXPECT_EQ(help.status, 0);
  for (const char* m : {"--band", "--all-bands", "--invert", "--correct", "--correct-vertically",
                        "--shift", "--settings", "--tsv", "--jobs", "not found"})
    EXPECT_NE(help.out.find(m), std::string::npos) << m;
  const CliRun stack = RunTool({"stack", "--help"}, dir.Path());
  for (const char* m : {"auto", "--travel-profile", "Travel used"})
    EXPECT_NE(stack.out.find(m), std::string::npos) << m;
  EXPECT_NE(RunTool({"--help"}, dir.Path()).out.find("travel "), std::string::npos);
}

}  // namespace
}  // namespace quelmar::testing
