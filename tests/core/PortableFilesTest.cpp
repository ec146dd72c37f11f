// What must come out the same on Linux and on Windows: reals read and written exactly and with
// the period in any locale, file names with non-ASCII characters through every file the program
// reads or writes, and paths split at the system's own separators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <string>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/CameraSettings.h"
#include "assembly/PictureBuilder.h"
#include "output/BmpWriter.h"
#include "output/CalibrationFile.h"
#include "product/EdrLoader.h"
#include "support/IndexLookup.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar {
namespace {

using testing::ReadFileBytes;
using testing::ScriptedPort;
using testing::TempDir;
using testing::WriteFileBytes;

TEST(PortableNumbers, RealTextsReadToTheNearestExtendedReal) {
  struct Case {
    const char* text;
    Real value;
  };
  const Case cases[] = {
      {"-2.15", -2.15L},
      {"+1.5E-1", 0.15L},
      {"0.1", 0.1L},
      {"11.3", 11.3L},
      {"123.456", 123.456L},
      {"  .5", 0.5L},
      {"7.", 7.0L},
      {"1.00000000000000000005421010862427522171", 1.00000000000000000005421010862427522171L},
      {"3.36210314311209350626e-4932", LDBL_MIN},
      {"1.18973149535723176502e+4932", LDBL_MAX},
      {"1e5000", HUGE_VALL},
      {"-1e5000", -HUGE_VALL},
      {"1e-5000", 0.0L},
  };
  for (const Case& c : cases) {
    const RealParse r = ParseReal(c.text);
    EXPECT_TRUE(r.ok()) << c.text;
    EXPECT_EQ(r.value, c.value) << c.text;  // every one of the 64 mantissa bits
  }
  // Beyond the smallest normal number: zero, keeping the sign, as on every system.
  const RealParse tiny = ParseReal("-1e-4940");
  EXPECT_EQ(tiny.value, 0.0L);
  EXPECT_TRUE(std::signbit(tiny.value));
}

TEST(PortableNumbers, TextsKeepThePeriodInACommaLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  bool comma = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de_DE"}) {
    if (std::setlocale(LC_ALL, name) && std::string(std::localeconv()->decimal_point) == ",") {
      comma = true;
      break;
    }
  }
  if (!comma) {
    std::setlocale(LC_ALL, saved.c_str());
    GTEST_SKIP() << "no locale with a decimal comma here";
  }
  const std::string texts[] = {FormatG3(2.5L), FormatG3(-0.000123456L), FormatFixed(-1234.567L, 2),
                               FormatFixed(0.0625L, 3), FormatFixed(1e20L, 1)};
  const RealParse period = ParseReal("2.15");
  const RealParse withComma = ParseReal("2,15");
  std::setlocale(LC_ALL, saved.c_str());

  const std::string expected[] = {"2.5", "-0.000123", "-1234.57", "0.062",
                                  "100000000000000000000.0"};
  for (size_t i = 0; i < std::size(texts); ++i) EXPECT_EQ(texts[i], expected[i]);
  EXPECT_TRUE(period.ok());
  EXPECT_EQ(period.value, 2.15L);
  EXPECT_EQ(withComma.errorPosition, 2);
}

TEST(PortablePaths, SplitAtTheSystemsSeparators) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* extension;
  };
  const Case cases[] = {
    {"/data/wac/M1.IMG", "/data/wac/", "M1.IMG", ".IMG"},
    {"M1.IMG", "", "M1.IMG", ".IMG"},
    {"dir.d/name", "dir.d/", "name", ""},
    {"a/b/", "a/b/", "", ""},
    {"x.tar.gz", "", "x.tar.gz", ".gz"},
    {"Daten/Mondkrater_ä.IMG", "Daten/", "Mondkrater_ä.IMG", ".IMG"},
#if defined(_WIN32)
    {"C:\\Data\\M1.IMG", "C:\\Data\\", "M1.IMG", ".IMG"},
    {"C:M1.IMG", "C:", "M1.IMG", ".IMG"},
    {"\\\\server\\share\\CUMINDEX.TAB", "\\\\server\\share\\", "CUMINDEX.TAB", ".TAB"},
    {"D:/mixed\\forms/x.bmp", "D:/mixed\\forms/", "x.bmp", ".bmp"},
#else
    // A backslash or colon is an ordinary character of a Linux file name.
    {"C:\\Data\\M1.IMG", "", "C:\\Data\\M1.IMG", ".IMG"},
    {"back\\slash/x:y.z", "back\\slash/", "x:y.z", ".z"},
#endif
  };
  for (const Case& c : cases) {
    const PathParts parts = SplitPath(c.path);
    EXPECT_EQ(parts.folder + "|" + parts.name + "|" + parts.extension,
              std::string(c.folder) + "|" + c.name + "|" + c.extension)
        << c.path;
  }
}

TEST(PortablePaths, ExecutableFolderHoldsTheRunningProgram) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(IsPathSeparator(folder.back())) << folder;
#if defined(_WIN32)
  EXPECT_TRUE(FileExists(folder + "core_tests.exe")) << folder;
#else
  EXPECT_TRUE(FileExists(folder + "core_tests")) << folder;
#endif
}

class PortableFiles : public ::testing::Test {
 protected:
  void SetUp() override { LastLocatedFolder.clear(); }
  void TearDown() override { LastLocatedFolder.clear(); }
  TempDir dir;
};

// A product, its index, settings, bitmap and calibration file, all under names that are not
// ASCII, in a folder whose name is not ASCII either.
TEST_F(PortableFiles, NonAsciiNamesLoadSaveAndAppend) {
  sim::SimulatorOptions options;
  options.kind = sim::ProductKind::VE;
  options.framelets = 6;
  options.seed = 5;
  const sim::SimulatedProduct simulated = sim::SimulateProduct(options);
  const std::string folder = dir.File("Daten_Ångström");
  ASSERT_TRUE(std::filesystem::create_directory(FsPath(folder)));
  const std::string img = folder + "/Mondkrater_ä.IMG";
  const std::string index = folder + "/CUMINDEX_ü.TAB";
  const std::string ini = folder + "/Quelmar_é.ini";
  const std::string bmp = folder + "/Bild_ö.bmp";
  const std::string cal = folder + "/Kalibrierung_ß.txt";
  const std::string imgBytes = sim::ProductFileBytes(simulated);
  WriteFileBytes(img, imgBytes);
  WriteFileBytes(index, sim::IndexLine(simulated) + "\r\n");
  WriteFileBytes(ini, "[Quelmar parameters]\r\nNoDataColor=17\r\n");
  EXPECT_TRUE(FileExists(img));
  EXPECT_EQ(FileSize(img), static_cast<int64_t>(imgBytes.size()));

  ScriptedPort port;
  LoadedProduct product;
  ASSERT_EQ(LoadEdrProduct(img, product, port, {}), LoadOutcome::ImageRead);
  EXPECT_EQ(product.ProductId, simulated.productId);
  EXPECT_EQ(product.FrameletCount, 6);
  ASSERT_FALSE(port.Lines().empty());
  EXPECT_NE(port.Lines().front().find("Mondkrater_ä.IMG"), std::string::npos)
      << port.Lines().front();
  EXPECT_EQ(ReadCameraSettings(ini).NoDataColor, 17);

  PictureRequest request;
  request.Stacked = true;
  request.VerticalTravel = 9.5L;
  request.ReadBand = [] { return 2; };
  DisplayedImageInfo shown;
  Picture picture;
  ASSERT_EQ(DisplayImage(product, request, port, shown, picture), DisplayOutcome::Shown);
  WriteBmp(picture, bmp);
  WriteBmp(picture, bmp);  // replacing goes through a temporary file in the same folder
  EXPECT_EQ(ReadFileBytes(bmp), EncodeBmp(picture));

  const std::optional<SupportDataInfo> support = FindIndexRecord(index, product.ProductId);
  ASSERT_TRUE(support.has_value());
  const std::string record = CalibrationRecord(*support, bmp, picture.Width(), picture.Height(),
                                               shown, product.FrameletCount);
  EXPECT_NE(record.find(bmp), std::string::npos);
  AppendToCalibrationFile(cal, CalibrationFileHeader());
  AppendToCalibrationFile(cal, record + "\r\n");
  AppendToCalibrationFile(cal, record + "\r\n");
  const std::string written = ReadFileBytes(cal);
  EXPECT_EQ(written, CalibrationFileHeader() + record + "\r\n" + record + "\r\n");
  EXPECT_EQ(written.find("\r\r"), std::string::npos);

  // Nothing else appeared beside them (no temporary file left behind).
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder))) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 5);

  // A name that is not UTF-8 text names no file: a clear error, not a crash.
  LoadedProduct other;
  ScriptedPort otherPort;
  EXPECT_THROW(LoadEdrProduct(folder + "/Krater\xff.IMG", other, otherPort, {}), FileError);
}

TEST_F(PortableFiles, LocateFileRemembersANonAsciiFolderInTheSystemsForm) {
  const std::string folder = dir.File("Röhren");
  ASSERT_TRUE(std::filesystem::create_directory(FsPath(folder)));
  std::string pick = folder + "/CUMINDEX_ü.TAB";
#if defined(_WIN32)
  std::replace(pick.begin(), pick.end(), '/', '\\');  // as the Windows file dialog gives it
#endif
  WriteFileBytes(pick, "x");
  ScriptedPort port;
  port.ExpectOpenDialog(pick);
  std::string found;
  EXPECT_TRUE(LocateFile("Index file", dir.File("gone/CUMINDEX_ü.TAB"), found, port));
  EXPECT_EQ(found, pick);
  EXPECT_EQ(LastLocatedFolder, pick.substr(0, pick.size() - std::string("CUMINDEX_ü.TAB").size()));
  ASSERT_EQ(port.Calls().size(), 1u);
  EXPECT_EQ(port.Calls().front().request.title, "Index file needed: CUMINDEX_ü.TAB");

  EXPECT_TRUE(LocateFile("Index file", "elsewhere/CUMINDEX_ü.TAB", found, port));
  EXPECT_EQ(found, pick);
  EXPECT_EQ(port.Calls().size(), 1u);  // found in the remembered folder without asking
}

}  // namespace
}  // namespace quelmar
