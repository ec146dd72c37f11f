// quelmar-cli find, run as a program on a small index of known footprints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/CliRun.h"
#include "support/IndexLines.h"
#include "support/TestFiles.h"

namespace quelmar::testing {
namespace {

CliRun Find(std::vector<std::string> args) {
  args.insert(args.begin(), "find");
  return RunCli(args);
}

class FindCli : public ::testing::Test {
 protected:
  void SetUp() override {
    LineSpec a;  // the sun 60 degrees east of the point, seen straight down
    LineSpec b = a;
    b.id = "M111111111ME";
    b.file = "M111111111ME.IMG";
    b.start = "2009-12-01T00:00:00.000";
    b.sun[1] = 35 + 70;
    LineSpec seam = a;  // across the 0/360 meridian
    seam.id = "M333333333UE";
    const double corners[4][2] = {{5, 355}, {5, 5}, {-5, 5}, {-5, 355}};
    for (int i = 0; i < 4; ++i) {
      seam.corners[i][0] = corners[i][0];
      seam.corners[i][1] = corners[i][1];
    }
    WriteFileBytes(index_, IndexLine(a) + "\r\n" + IndexLine(b) + "\r\n" + IndexLine(seam) +
                               "\r\nnot an index line\r\n");
  }
  TempDir dir_;
  std::string index_ = dir_.File("CUMINDEX.TAB");
};

TEST_F(FindCli, ListsHitsAsTableOrColumnsAndCountsSkippedLines) {
  // Incidence: cos i = cos 15 cos 60 (a) and cos 15 cos 70 (b).
  CliRun run = Find({"--lat", "15", "--lon", "35", "--index", index_});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Product       Start time               Incidence  Emission  Pixel (m)  File\n"
            "M111111111ME  2009-12-01T00:00:00.000      70.71      0.00       75.0  "
            "M111111111ME.IMG\n"
            "M126534360CE  2010-03-07T10:00:00.000      61.12      0.00       75.0  "
            "DATA/EDR/2010066/WAC/M126534360CE.IMG\n");
  EXPECT_NE(run.err.find("4 index lines read, 1 skipped"), std::string::npos) << run.err;

  run = Find({"--lat=15", "--lon", "35", "--index", index_, "--tsv", "--near-incidence", "60",
              "--limit", "1", "--kind", "ce,ME"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "product_id\tstart_time\tincidence_deg\temission_deg\tpixel_m\tfile\n"
            "M126534360CE\t2010-03-07T10:00:00.000\t61.121\t0.000\t75.00\t"
            "DATA/EDR/2010066/WAC/M126534360CE.IMG\n");
  EXPECT_NE(run.err.find("2 products found, the first 1 listed"), std::string::npos) << run.err;

  for (const char* lon : {"-1", "359", "0"}) {
    run = Find({"--lat", "0", "--lon", lon, "--index", index_, "--tsv"});
    EXPECT_EQ(run.status, 0) << lon;
    EXPECT_NE(run.out.find("M333333333UE"), std::string::npos) << lon;
  }
}

TEST_F(FindCli, NoHitIsStatusOneAndBadRequestsAreStatusTwo) {
  CliRun run = Find({"--lat", "15", "--lon", "35", "--index", index_, "--from", "2011-01-01"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  run = Find({"--lat", "15", "--lon", "35", "--index", dir_.File("none.TAB")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Cannot open the index file"), std::string::npos) << run.err;

  const std::vector<std::vector<std::string>> bad = {
      {"--lat", "90.5", "--lon", "0"},
      {"--lat", "0", "--lon", "361"},
      {"--lat", "0"},
      {"--lat", "0", "--lon", "0", "--incidence", "70:60"},
      {"--lat", "0", "--lon", "0", "--incidence", "70"},
      {"--lat", "0", "--lon", "0", "--emission-max", "x"},
      {"--lat", "0", "--lon", "0", "--kind", "CE,XE"},
      {"--lat", "0", "--lon", "0", "--from", "2011-01-02", "--to", "2011-01-01"},
      {"--lat", "0", "--lon", "0", "--to", "2011-02-30"},
      {"--lat", "0", "--lon", "0", "--limit", "0"},
      {"--lat", "0", "--lon", "0", "--wrong"},
      {"--lat", "0", "--lon"},
  };
  for (const std::vector<std::string>& args : bad) {
    std::vector<std::string> withIndex = args;
    withIndex.insert(withIndex.begin(), {"--index", index_});
    run = Find(withIndex);
    EXPECT_EQ(run.status, 2) << args[args.size() - 2] << " " << args.back();
    EXPECT_NE(run.err.find("quelmar-cli find --help"), std::string::npos);
  }
  run = Find({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("--near-incidence I"), std::string::npos);
}

}  // namespace
}  // namespace quelmar::testing
