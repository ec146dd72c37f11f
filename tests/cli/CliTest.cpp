// The batch tool, run as a program on synthetic products; its output is compared with what the
// core gives for the same work and with a few exact expectations.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "assembly/PictureBuilder.h"
#include "output/BmpWriter.h"
#include "output/PngWriter.h"
#include "output/SaveCommand.h"
#include "product/EdrLoader.h"
#include "support/CliRun.h"
#include "support/IndexLookup.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"

namespace quelmar::testing {
namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

// Writes a synthetic product into `dir` and gives its path.
std::string WriteProduct(const TempDir& dir, const std::string& name, const std::string& id,
                         int32_t framelets, int32_t height, int32_t width,
                         const std::string& wavelengths) {
  const std::string path = dir.File(name);
  WriteFileBytes(path, ProductBytes(MakeProduct(id, framelets, height, width, wavelengths)));
  return path;
}

const char* const kColour = "(321, 360, 415, 566, 604, 643, 689) <nm>";

// What the window's Load writes for `path` (its raw display included).
std::string CoreReport(const std::string& path) {
  ScriptedPort port;
  LoadedProduct product;
  try {
    if (LoadEdrProduct(path, product, port, [](int32_t) {}) != LoadOutcome::NoHeader &&
        !product.HasImage()) {
      DisplayedImageInfo displayed;
      Picture picture;
      DisplayImage(product, PictureRequest{}, port, displayed, picture);
    }
  } catch (const std::exception&) {
  }
  return Joined(port.Lines());
}

struct CorePicture {
  std::string bmp, png;
  int32_t width = 0, height = 0;
  DisplayedImageInfo shown;
};

// The picture the window shows after Load and `request` (its band set by `band`), and the BMP
// bytes its Save writes.
CorePicture CoreBuild(const std::string& path, PictureRequest request, int32_t band) {
  ScriptedPort port;
  LoadedProduct product;
  LoadEdrProduct(path, product, port, [](int32_t) {});
  if (!request.Stacked) request.VerticalTravel = product.FrameletHeight;
  request.ReadBand = [band] { return band; };
  request.ReadShift = [] { return 0; };
  CorePicture out;
  Picture picture;
  EXPECT_EQ(DisplayImage(product, request, port, out.shown, picture), DisplayOutcome::Shown);
  out.bmp = EncodeBmp(picture);
  out.png = EncodePng(picture);
  out.width = picture.Width();
  out.height = picture.Height();
  return out;
}

std::string CoreBitmap(const std::string& path, const PictureRequest& request, int32_t band) {
  return CoreBuild(path, request, band).bmp;
}

PictureRequest Stack(Real vt, Real ht = 0, bool invert = false) {
  PictureRequest r;
  r.Stacked = true;
  r.VerticalTravel = vt;
  r.HorizontalTravel = ht;
  r.Invert = invert;
  return r;
}

TEST(CliUsage, BadCommandLinesStopWithStatusTwoAndSayWhy) {
  TempDir dir;
  const std::string img = WriteProduct(dir, "a.IMG", "M1ME", 3, 14, 8, "643 <nm>");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{}, "no command given"},
      {{"draw", img}, "unknown command \"draw\""},
      {{"stack", "--bogus", img}, "unknown option \"--bogus\""},
      {{"stack", img, "--band"}, "option --band needs a value"},
      {{"stack", "--band", "0", img}, "--band: \"0\" is out of range"},
      {{"stack", "--band", "2x", img}, "\"2x\" is not a valid integer; error at position 2"},
      {{"stack", "--band", "1", "--band", "1", img}, "--band is given twice"},
      {{"stack", "--vertical-travel", "14.5", img}, "entry must be between 0 and 14"},
      {{"stack", "--vertical-travel=-1", img}, "entry must be between 0 and 14"},
      {{"stack", "--vertical-travel", "1,2,3", img}, "not a valid number; error at position 4"},
      {{"stack", "--horizontal-travel", "1e99999", img}, "is too large"},
      {{"stack", "--jobs", "0", img}, "--jobs: \"0\" is out of range"},
      {{"stack", "-o", "x.bmp", img, img}, "use it with one input file only"},
      {{"stack", "-o", "x.bmp", "--all-bands", img}, "cannot be used with --all-bands"},
      {{"stack", "--band", "1", "--all-bands", img}, "cannot be used together"},
      {{"stack", "--shift", "2", "--correct", img}, "--shift is only used with"},
      {{"raw", "--band", "1", img}, "option --band is not used by the raw command"},
      {{"report", "--invert", img}, "option --invert is not used by the report command"},
      {{"stack", "--settings", dir.File("none.ini"), img}, "not found"},
      {{"support", "--index", dir.File("none.TAB"), img}, "not found"},
      {{"stack", "--cal-file", dir.Path(), img}, "is not a regular file"},
      {{"stack", "--cal-file", img, img}, "is an input product"},
      {{"raw"}, "no input file given"},
      {{"raw", "--format", "gif", img}, "--format: \"gif\" is not a picture format"},
      {{"report", "--format", "png", img}, "option --format is not used by the report command"},
  };
  for (const auto& c : cases) {
    const CliRun run = RunCli(c.args, dir.Path());
    const std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(run.status, 2) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(run.err.rfind("quelmar-cli: ", 0), 0u) << what << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << what << run.err;
  }
  // Nothing was written by any of them.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(CliUsage, HelpDocumentsEveryOptionOfEachCommand) {
  TempDir dir;
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  } cases[] = {
      {{"--help"}, {"report", "header", "raw", "stack", "support", "Exit status"}},
      {{"help", "raw"},
       {"--invert", "-o OUT.bmp", "--output-dir", "--overwrite", "--format bmp|png", "--jobs"}},
      {{"stack", "--help"},
       {"--band", "--all-bands", "--vertical-travel", "--horizontal-travel", "--invert",
        "--correct", "--correct-vertically", "--shift", "--settings", "--index", "--cal-file",
        "-o OUT.bmp", "--output-dir", "--overwrite", "--format bmp|png", "--jobs"}},
      {{"support", "-h"}, {"--index", "--jobs"}},
      {{"report", "--help"}, {"Usage: quelmar-cli report"}},
      {{"header", "--help"}, {"Usage: quelmar-cli header"}},
  };
  for (const auto& c : cases) {
    const CliRun run = RunCli(c.args, dir.Path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (const std::string& m : c.mentions) EXPECT_NE(run.out.find(m), std::string::npos) << m;
  }
}

TEST(CliReport, LinesEqualTheLoadReportGroupedInInputOrder) {
  TempDir dir;
  std::vector<std::string> inputs = {
      WriteProduct(dir, "big.IMG", "M0CE", 400, 78, 256, kColour),
      WriteProduct(dir, "c.IMG", "M1CE", 4, 78, 16, kColour),
      WriteProduct(dir, "m.IMG", "M2ME", 5, 14, 12, "643 <nm>"),
      WriteProduct(dir, "u.IMG", "M3UE", 6, 8, 16, "(321 <nm>, 360 <nm>)"),
      WriteProduct(dir, "v.IMG", "M4VE", 3, 70, 10, "(415, 566) <nm>"),
      WriteProduct(dir, "x.IMG", "M5XX", 2, 14, 9, "643 <nm>"),
  };
  SyntheticProduct sixteen = MakeProduct("M6ME", 2, 14, 8, "643 <nm>");
  for (std::string& line : sixteen.labelLines) {
    if (line.find("SAMPLE_BITS") != std::string::npos) line = "  SAMPLE_BITS = 16";
  }
  inputs.push_back(dir.File("bits.IMG"));
  WriteFileBytes(inputs.back(), ProductBytes(sixteen));
  inputs.push_back(dir.File("noend.IMG"));
  WriteFileBytes(inputs.back(), "PRODUCT_ID = M7ME\r\nLINES = 3\r\n");

  std::string expected;
  for (const std::string& in : inputs) expected += CoreReport(in);
  for (const char* jobs : {"1", "3"}) {
    std::vector<std::string> args = {"report", "--jobs", jobs};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const CliRun run = RunCli(args, dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected) << "jobs " << jobs;
    EXPECT_EQ(run.err, "");
  }
  // A few lines exactly; a relative name is reported with its absolute path.
  const CliRun one = RunCli({"report", "c.IMG"}, dir.Path());
  EXPECT_EQ(one.out, "Loading: " + dir.File("c.IMG") +
                         "\nRead: 42 header + 312 image rows\n"
                         " (4 framelets, each 78 rows high x 16 samples wide with 7 bands)\n"
                         "Wavebands (nm) listed in header:\n"
                         " 1: 321   2: 360   3: 415   4: 566   5: 604   6: 643   7: 689  \n\n");
  EXPECT_NE(RunCli({"report", "bits.IMG"}, dir.Path()).out.find("Need to load readable image"),
            std::string::npos);
}

TEST(CliReport, UnreadableFileFailsWithoutStoppingTheOthers) {
  TempDir dir;
  const std::string good = WriteProduct(dir, "g.IMG", "M1ME", 2, 14, 8, "643 <nm>");
  const CliRun run = RunCli({"report", "--jobs", "2", dir.File("missing.IMG"), good}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, CoreReport(dir.File("missing.IMG")) + CoreReport(good));
  EXPECT_NE(run.err.find("quelmar-cli: " + dir.File("missing.IMG") + ": stopped by the error"),
            std::string::npos)
      << run.err;
}

TEST(CliReport, LinesThatCannotBeWrittenAreAFailure) {
  TempDir dir;
  const std::string me = WriteProduct(dir, "m.IMG", "M2ME", 2, 14, 8, "643 <nm>");
  const std::string command = ShellQuoted(QUELMAR_CLI) + " report " + ShellQuoted(me) +
                              " >/dev/full 2>" + ShellQuoted(dir.File("err"));
  const int raw = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
  EXPECT_NE(ReadFileBytes(dir.File("err")).find("could not be written"), std::string::npos);
}

TEST(CliHeader, ListsTheLabelLinesOnly) {
  TempDir dir;
  const SyntheticProduct p = MakeProduct("M1ME", 2, 14, 8, "643 <nm>");
  WriteFileBytes(dir.File("a.IMG"), ProductBytes(p));
  const CliRun run = RunCli({"header", "a.IMG"}, dir.Path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Joined(p.labelLines) + "\n");
}

TEST(CliPictures, BitmapsEqualWhatSaveWritesForTheSamePicture) {
  TempDir dir;
  const std::string ce = WriteProduct(dir, "c.IMG", "M1CE", 6, 78, 20, kColour);
  const std::string ue = WriteProduct(dir, "u.IMG", "M3UE", 9, 8, 16, "(321 <nm>, 360 <nm>)");
  const std::string me = WriteProduct(dir, "m.IMG", "M2ME", 5, 14, 12, "643 <nm>");
  PictureRequest raw, rawInverted;
  rawInverted.Invert = true;
  const struct {
    std::vector<std::string> args;
    std::string input, bitmap;
    PictureRequest request;
    int32_t band;
  } cases[] = {
      {{"raw"}, ce, "M1CE_unstacked.bmp", raw, 0},
      {{"raw", "--invert"}, me, "M2ME_framelets_inverted.bmp", rawInverted, 0},
      // The window's defaults after a load: band 3 of seven, travel 11; travel 2.15 for two bands.
      {{"stack"}, ce, "M1CE_415nm.bmp", Stack(11), 3},
      {{"stack", "--band", "2"}, ue, "M3UE_360nm.bmp", Stack(ParseReal("2.15").value), 2},
      {{"stack", "--band", "7", "--vertical-travel", "2,5", "--horizontal-travel", "-1.5",
        "--invert"},
       ce,
       "M1CE_689nm.bmp",
       Stack(2.5L, -1.5L, true),
       7},
      {{"stack", "--vertical-travel", "14"}, me, "M2ME_643nm.bmp", Stack(14), 1},
  };
  for (const auto& c : cases) {
    TempDir out;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--output-dir", out.Path(), c.input});
    const CliRun run = RunCli(args, dir.Path());
    EXPECT_EQ(run.status, 0) << c.bitmap << run.err;
    EXPECT_EQ(run.out, CoreReport(c.input)) << c.bitmap;
    ASSERT_TRUE(fs::exists(out.File(c.bitmap))) << c.bitmap;
    EXPECT_EQ(ReadFileBytes(out.File(c.bitmap)), CoreBitmap(c.input, c.request, c.band))
        << c.bitmap;
  }
  // Exact size of one: 6 framelets, band 3 (14 rows), travel 11: 5 x 11 + 14 rows of 20 pixels.
  const CliRun run = RunCli({"stack", "-o", "one.bmp", ce}, dir.Path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("one.bmp")).size(), 54u + 69u * 60u);
}

TEST(CliPictures, AllBandsGiveOneBitmapPerBandAndFallbackLinesInOrder) {
  TempDir dir;
  // Wavelengths missing from the label: the bands are named 1..5, and the distortion correction
  // writes its two fallback lines for each.
  const std::string ve = WriteProduct(dir, "v.IMG", "M4VE", 3, 70, 24, "");
  const CliRun run = RunCli({"stack", "--all-bands", "--correct", ve}, dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  std::string expected = CoreReport(ve);
  for (int band = 1; band <= 5; ++band) {
    EXPECT_TRUE(fs::exists(dir.File("M4VE_" + std::to_string(band) + "nm.bmp"))) << band;
    expected += "Wavelength given in header (" + std::to_string(band) +
                " nm) not found in filter list\n> using 604 nm geometry for distortion "
                "correction\n";
  }
  EXPECT_EQ(run.out, expected);
}

TEST(CliPictures, RefusedWorkFailsOnlyThatProduct) {
  TempDir dir;
  const std::string me = WriteProduct(dir, "m.IMG", "M2ME", 5, 14, 12, "643 <nm>");
  const std::string ce = WriteProduct(dir, "c.IMG", "M1CE", 2, 78, 8, kColour);
  // A band the one-band product does not have: status 2 for it, the other is still stacked.
  CliRun run = RunCli({"stack", "--band", "5", me, ce}, dir.Path());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("this product's bands are 1 to 1"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::exists(dir.File("M1CE_604nm.bmp")));
  // An existing bitmap is kept unless --overwrite; the same name twice in one run is refused.
  WriteFileBytes(dir.File("M2ME_unstacked.bmp"), "mine");
  run = RunCli({"raw", me}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadFileBytes(dir.File("M2ME_unstacked.bmp")), "mine");
  run = RunCli({"raw", "--overwrite", me, me}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("already written by this run"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("M2ME_unstacked.bmp")), CoreBitmap(me, PictureRequest{}, 0));
  // A folder named as the picture is left alone, and the message says how to write into it.
  TempDir folder;
  run = RunCli({"raw", "--overwrite", "-o", folder.Path(), me}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("is a folder; not written (--output-dir"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_directory(folder.Path()));
  // An input product is never written over, even with --overwrite.
  run = RunCli({"raw", "--overwrite", "-o", me, me}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("is an input product of this run"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFileBytes(me), ProductBytes(MakeProduct("M2ME", 5, 14, 12, "643 <nm>")));
  // A PRODUCT_ID with path separators cannot place the bitmap outside the output folder.
  const std::string odd = WriteProduct(dir, "o.IMG", "../M9ME", 2, 14, 8, "643 <nm>");
  TempDir out;
  run = RunCli({"raw", "--output-dir", out.Path(), odd}, dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(out.File(".._M9ME_unstacked.bmp")));
  // No image data: no picture, status 1.
  WriteFileBytes(dir.File("noend.IMG"), "PRODUCT_ID = M7ME\r\n");
  run = RunCli({"stack", "noend.IMG"}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no picture could be built"), std::string::npos);
}

// An index line with the product's record at the fixed positions.
std::string IndexLine(const std::string& id, const std::string& start, const std::string& end) {
  std::string line(900, ' ');
  auto put = [&line](size_t pos, const std::string& text) {
    line.replace(pos - 1, text.size(), text);
  };
  put(1, "\"" + id + "\"");
  put(310, "\"" + start);
  put(337, "\"" + end);
  put(763, " 12.50");
  put(770, "123.25");
  put(866, " 50.125");
  put(887, "+X");
  return line + "\r\n";
}

TEST(CliCalibration, RecordsAreAppendedInInputOrderAfterANewHeader) {
  TempDir dir;
  const std::string index = dir.File("CUMINDEX.TAB");
  WriteFileBytes(index,
                 IndexLine("M1CE", "2010-03-07T10:00:00.000", "2010-03-07T10:00:01.000") +
                     IndexLine("M2ME", "2011-01-02T03:04:05.000", "2011-01-02T03:04:07.000"));
  const std::string ce = WriteProduct(dir, "c.IMG", "M1CE", 4, 78, 16, kColour);
  const std::string me = WriteProduct(dir, "m.IMG", "M2ME", 3, 14, 12, "643 <nm>");
  const std::string cal = dir.File("cal.txt");
  const CliRun run = RunCli({"stack", "--jobs", "2", "--index", index, "--cal-file", cal,
                             "--all-bands", "--output-dir", "out", ce, me},
                            dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("quelmar-cli: Your calibration data are being added to a new "
                         "calibration file:  " +
                         cal),
            std::string::npos)
      << run.err;

  // The same records through the core, in the same order, into a file of its own.
  const std::string coreCal = dir.File("core.txt");
  std::string expectedOut;
  for (const std::string& in : {ce, me}) {
    ScriptedPort port;
    LoadedProduct product;
    LoadEdrProduct(in, product, port, [](int32_t) {});
    std::string indexPath = index, calPath = coreCal;
    SupportDataInfo support;
    expectedOut += CoreReport(in);
    for (int32_t band = 1; band <= product.BandCount; ++band) {
      const CorePicture picture = CoreBuild(in, Stack(11), band);
      const std::string name =
          dir.File("out/" + ProposedPictureName(product.ProductId, picture.shown));
      EXPECT_EQ(ReadFileBytes(name), picture.bmp) << name;
      CalibrationContext context{
          product.ProductId, product.FrameletCount, picture.shown, indexPath, support, calPath};
      ScriptedPort calPort;
      if (!fs::exists(coreCal)) calPort.ExpectQuestion(false);
      WriteCalibrationRecord(name, picture.width, picture.height, context, calPort);
      for (const std::string& line : calPort.Lines()) {
        expectedOut += line.rfind("Calibration data", 0) == 0
                           ? "Calibration data has been saved to \"" + cal + "\"\n"
                           : line + "\n";
      }
    }
  }
  EXPECT_EQ(run.out, expectedOut);
  const std::string written = ReadFileBytes(cal);
  EXPECT_EQ(written, ReadFileBytes(coreCal));
  EXPECT_EQ(written.rfind("*DYRA User Photo Calibration Data\r\n", 0), 0u);
  // Eight records (seven bands, then one), each naming its bitmap, in input order.
  size_t from = 0;
  for (const char* name : {"M1CE_321nm", "M1CE_360nm", "M1CE_415nm", "M1CE_566nm", "M1CE_604nm",
                           "M1CE_643nm", "M1CE_689nm", "M2ME_643nm"}) {
    const size_t at = written.find(dir.File("out/") + name + ".bmp", from);
    ASSERT_NE(at, std::string::npos) << name;
    from = at;
  }
  EXPECT_NE(written.find("U1, 2010/3/7, 10:00:00, 123.25,  12.50,  50.125, 16, "),
            std::string::npos);

  // A second run appends without a new header; a product missing from the index fails.
  const std::string other = WriteProduct(dir, "x.IMG", "M8ME", 2, 14, 8, "643 <nm>");
  const CliRun again =
      RunCli({"stack", "--index", index, "--cal-file", cal, "-o", "x.bmp", other}, dir.Path());
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("M8ME not found in Index file\n\nNo support data, unable to generate "
                           "DYRA calibration\n"),
            std::string::npos)
      << again.out;
  EXPECT_EQ(ReadFileBytes(cal), written);
}

TEST(CliPictures, PngFormatWritesWhatTheSaveEntryWritesUnderPngNames) {
  TempDir dir;
  const std::string ce = WriteProduct(dir, "c.IMG", "M1CE", 6, 78, 20, kColour);
  const CorePicture stacked = CoreBuild(ce, Stack(11), 3);
  const CorePicture raw = CoreBuild(ce, PictureRequest{}, 0);
  const CliRun run = RunCli({"stack", "--format", "PNG", "--output-dir", "out", ce}, dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("out/M1CE_415nm.png")), stacked.png);
  EXPECT_FALSE(fs::exists(dir.File("out/M1CE_415nm.bmp")));
  // -o OUT.png needs no --format; --format bmp keeps the bitmap whatever the name.
  EXPECT_EQ(RunCli({"raw", "-o", "r.png", ce}, dir.Path()).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("r.png")), raw.png);
  EXPECT_EQ(RunCli({"raw", "--format", "bmp", "-o", "b.png", ce}, dir.Path()).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("b.png")), raw.bmp);
  // The calibration record names the PNG written.
  const std::string index = dir.File("CUMINDEX.TAB");
  WriteFileBytes(index, IndexLine("M1CE", "2010-03-07T10:00:00.000", "2010-03-07T10:00:01.000"));
  const std::string cal = dir.File("cal.txt");
  EXPECT_EQ(RunCli({"stack", "--format", "png", "--index", index, "--cal-file", cal, "-o",
                    dir.File("s.png"), ce},
                   dir.Path())
                .status,
            0);
  EXPECT_NE(ReadFileBytes(cal).find(dir.File("s.png")), std::string::npos);
}

TEST(CliSupport, ListingEqualsTheSupportCommand) {
  TempDir dir;
  const std::string index = dir.File("CUMINDEX.TAB");
  WriteFileBytes(index, IndexLine("M2ME", "2011-01-02T03:04:05.000", "2011-01-02T03:04:07.000"));
  const std::string me = WriteProduct(dir, "m.IMG", "M2ME", 3, 14, 12, "643 <nm>");
  const std::string ce = WriteProduct(dir, "c.IMG", "M1CE", 2, 78, 8, kColour);
  const CliRun run = RunCli({"support", "--index", index, me, ce}, dir.Path());
  EXPECT_EQ(run.status, 1);
  std::string expected;
  for (const std::string& in : {me, ce}) {
    ScriptedPort port;
    LoadedProduct product;
    LoadEdrProduct(in, product, port, [](int32_t) {});
    std::string indexPath = index;
    SupportDataInfo support;
    SupportCommand(product.ProductId, indexPath, support, port);
    expected += Joined(port.Lines());
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_NE(run.out.find("Orientation codes :    +X\n"), std::string::npos);
  EXPECT_NE(run.err.find(ce + ": no index record found"), std::string::npos);
}

}  // namespace
}  // namespace quelmar::testing
