// The batch tool's colour command, run as a program: its bitmap equals the core's colour picture
// of the same request, its name and message lines, and the statuses of what it refuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "assembly/ColourComposite.h"
#include "output/BmpWriter.h"
#include "product/EdrLoader.h"
#include "support/CliRun.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"

namespace quelmar::testing {
namespace {

CliRun RunColour(std::vector<std::string> args, const TempDir& dir) {
  args.insert(args.begin(), "colour");
  return RunCli(args, dir.Path());
}

std::string Write(const TempDir& dir, const std::string& id, int32_t height,
                  const std::string& wavelengths) {
  const std::string path = dir.File(id + ".IMG");
  WriteFileBytes(path, ProductBytes(MakeProduct(id, 6, height, 64, wavelengths)));
  return path;
}

const char* const kSeven = "(321, 360, 415, 566, 604, 643, 689) <nm>";

TEST(CliColour, BitmapEqualsTheCorePictureUnderItsColourName) {
  TempDir dir;
  const std::string path = Write(dir, "M1CE", 78, kSeven);
  const CliRun run =
      RunColour({"--correct", "--vertical-travel", "11.5", "--stretch", "1,99", "M1CE.IMG"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Colour picture of M1CE on the grid of band 5:\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\nred: band 7 (689 nm)"), std::string::npos);
  EXPECT_NE(run.out.find("\ngreen: band 5 (604 nm), the reference\n"), std::string::npos);
  EXPECT_NE(run.out.find("\nblue: band 3 (415 nm)"), std::string::npos);

  LoadedProduct product;
  ScriptedPort port;
  ASSERT_EQ(LoadEdrProduct(path, product, port, nullptr), LoadOutcome::ImageRead);
  ColourRequest request;
  request.Bands = {7, 5, 3};
  request.VerticalTravel = static_cast<Real>(11.5);
  request.CorrectDistortion = true;
  request.Stretch = {true, 1, 99};
  request.SettingsPath = dir.File("missing.ini");
  const ColourResult core = BuildColourComposite(product, request, port);
  EXPECT_EQ(ReadFileBytes(dir.File("M1CE_689_604_415nm.bmp")), EncodeBmp(core.Image));

  // The reference and bands as asked, into the file named.
  const CliRun other =
      RunColour({"--bands", "3,1,4", "--reference", "4", "-o", "x.bmp", "M1CE.IMG"}, dir);
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_NE(other.out.find("on the grid of band 4:\nred: band 4 (566 nm), the reference\n"),
            std::string::npos)
      << other.out;
  EXPECT_EQ(ReadFileBytes(dir.File("x.bmp")).substr(0, 2), "BM");
  // An existing bitmap is kept without --overwrite.
  EXPECT_EQ(RunColour({"-o", "x.bmp", "M1CE.IMG"}, dir).status, 1);
}

TEST(CliColour, ProductsAndValuesThatCannotGiveOneStopWithStatusTwo) {
  TempDir dir;
  Write(dir, "M2UE", 8, "(321, 360) <nm>");
  Write(dir, "M3CE", 78, kSeven);
  Write(dir, "M4VE", 70, "(415, 566, 604, 643, 689) <nm>");
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"M2UE.IMG"}, "has 2 bands; a colour picture needs a product of three bands or more"},
      {{"--bands", "1,2", "M3CE.IMG"}, "must be three band numbers separated by commas"},
      {{"--bands", "1,1,2", "M3CE.IMG"}, "must name three different bands"},
      {{"--bands", "1,3,8", "M3CE.IMG"}, "must hold band numbers from 1 to 7"},
      {{"--bands", "1,3,7", "M4VE.IMG"}, "Band 7 is not a band of M4VE"},
      {{"--reference", "2", "M3CE.IMG"}, "is not one of the three bands"},
      {{"--stretch", "5,1", "M3CE.IMG"}, "must be none or two percentiles"},
      {{"--band", "3", "M3CE.IMG"}, "is not used by the colour command"},
  };
  for (const auto& c : cases) {
    const CliRun run = RunColour(c.args, dir);
    EXPECT_EQ(run.status, 2) << c.says;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  }
  const CliRun help = RunColour({"--help"}, dir);
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--bands R,G,B", "--reference", "--stretch", "--vertical-travel", "auto",
        "--correct-vertically", "<PRODUCT_ID>_<wlR>_<wlG>_<wlB>nm.bmp"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace quelmar::testing
