// Faults from outside: files that change while a box is open, paths that cannot hold a file,
// labels that promise more than the file holds. Each ends with a clear message, or does the
// sound thing, and never loses what a file held.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assembly/Picture.h"
#include "assembly/PictureBuilder.h"
#include "output/BmpWriter.h"
#include "output/CalibrationFile.h"
#include "output/SaveCommand.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

namespace fs = std::filesystem;
using testing::MakeProduct;
using testing::ReadFileBytes;
using testing::ScriptedPort;
using testing::SyntheticProduct;
using testing::TempDir;
using testing::WriteFileBytes;

// A scripted port whose boxes can do something while they are open, as another program may.
class HookedPort : public ScriptedPort {
 public:
  void ShowSeriousError(std::string_view text) override {
    ScriptedPort::ShowSeriousError(text);
    if (onSeriousError) onSeriousError();
  }
  void ShowMessage(std::string_view text) override {
    ScriptedPort::ShowMessage(text);
    if (onMessage) onMessage();
  }
  bool AskYesNo(std::string_view text) override {
    const bool yes = ScriptedPort::AskYesNo(text);
    if (onQuestion) onQuestion();
    return yes;
  }
  std::function<void()> onSeriousError, onMessage, onQuestion;
};

void SetLabel(SyntheticProduct& p, const std::string& key, const std::string& value) {
  for (std::string& line : p.labelLines) {
    const size_t eq = line.find('=');
    std::string k = line.substr(0, eq);
    k.erase(0, k.find_first_not_of(' '));
    k.erase(k.find_last_not_of(' ') + 1);
    if (eq != std::string::npos && k == key) line = key + " = " + value;
  }
}

// True when this process may write into a folder whose write permission is off (root may).
bool WritesIgnorePermissions(const std::string& folder) {
  const std::string probe = folder + "/probe";
  bool wrote = false;
  {
    std::ofstream out(probe, std::ios::binary);
    wrote = static_cast<bool>(out);
  }
  std::error_code ec;
  fs::remove(probe, ec);
  return wrote;
}

// A label promising far more rows than the file holds loads the rows that are there, without
// first claiming memory for the promised ones (under AddressSanitizer such a claim would fail).
TEST(HardeningLoader, LabelsPromisingHugeImagesLoadWhatTheFileHolds) {
  struct Case {
    const char* lines;
    const char* frames;  // "" drops LRO:NFRAMES
    int32_t width;
  } cases[] = {
      {"2147483647", "1", 16},
      {"2147483647", "", 1},
      {"1073741824", "2", 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines + std::string(" x ") + std::to_string(c.width));
    TempDir dir;
    SyntheticProduct p = MakeProduct("M9ME", 1, 5, c.width, "643 <nm>");
    SetLabel(p, "LINES", c.lines);
    SetLabel(p, "LRO:NFRAMES", c.frames);
    if (*c.frames == 0)
      std::erase_if(p.labelLines,
                    [](const std::string& l) { return l.rfind("LRO:NFRAMES", 0) == 0; });
    WriteFileBytes(dir.File("big.IMG"), testing::ProductBytes(p));
    ScriptedPort port;
    LoadedProduct product;
    ASSERT_EQ(LoadEdrProduct(dir.File("big.IMG"), product, port, nullptr), LoadOutcome::ImageRead);
    EXPECT_EQ(product.RowCount, 5);
    EXPECT_LE(product.Rows.Lines(), 5);
    EXPECT_EQ(product.FrameletCount, 0);
    const std::vector<std::string> lines = port.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Note: " + std::string(c.lines) + " image rows expected, but not found."),
              lines.end());
  }
}

// A picture the product's rows could never fill (a label claiming a framelet of 2147483647 rows,
// a horizontal travel of thousands of columns per framelet) is refused with a message before
// any memory is claimed for it; the picture and its record stay as they were.
TEST(HardeningPicture, AbsurdPicturesAreRefusedBeforeMemoryIsClaimed) {
  LoadedProduct tall;  // what a load of such a label leaves: 5 rows, no whole framelet
  tall.Rows.Allocate(5, 1);
  tall.RowCount = 5;
  tall.FrameletHeight = 2147483647;
  tall.BandCount = 1;
  tall.BandWavelengths = {"643", "2", "3", "4", "5", "6", "7"};
  LoadedProduct wide;
  wide.Rows.Allocate(100 * 14, 64);
  wide.RowCount = 100 * 14;
  wide.FrameletHeight = 14;
  wide.FrameletCount = 100;
  wide.BandCount = 1;
  wide.BandWavelengths = tall.BandWavelengths;
  struct Case {
    const LoadedProduct* product;
    Real vt, ht;
  } cases[] = {{&tall, 11, 0}, {&tall, 0, 0}, {&wide, 11, 1e5L}, {&wide, 14, -2e4L}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<double>(c.vt)) + ", " +
                 std::to_string(static_cast<double>(c.ht)));
    PictureRequest request;
    request.Stacked = true;
    request.VerticalTravel = c.vt;
    request.HorizontalTravel = c.ht;
    request.ReadBand = [] { return 1; };
    ScriptedPort port;
    DisplayedImageInfo shown;
    shown.Wavelength = "415";
    Picture picture;
    picture.Reset(7, 3);
    try {
      DisplayImage(*c.product, request, port, shown, picture);
      ADD_FAILURE() << "built a picture of " << picture.Width() << " x " << picture.Height();
    } catch (const RangeError& e) {
      EXPECT_NE(std::string(e.what()).find("pictures are limited to 1024 MB"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_EQ(shown.Wavelength, "415");
    EXPECT_TRUE(port.CursorRestored());
  }
  // The raw picture of the tall product has no whole framelet to show: it is empty.
  PictureRequest raw;
  ScriptedPort port;
  DisplayedImageInfo shown;
  Picture picture;
  EXPECT_EQ(DisplayImage(tall, raw, port, shown, picture), DisplayOutcome::Shown);
  EXPECT_EQ(picture.Height(), 0);
}

// The product file changes while a box is open between the label read and the row read: the
// conversion box of a bad label number, or a box of the band field. The load then ends with a
// message naming the file, or reads what the file holds by the label it read; the file itself is
// never touched.
TEST(HardeningLoader, FileReplacedWhileABoxIsOpen) {
  enum class Box { Conversion, BandField };
  struct Case {
    Box box;
    const char* change;
    const char* reason;  // nullptr: the load completes
    int32_t rows;
  } cases[] = {
      {Box::Conversion, "folder", "it is a folder", 0},
      {Box::Conversion, "cut in label", "ends inside its label area", 0},
      {Box::Conversion, "deleted", "does not exist", 0},
      {Box::BandField, "folder", "it is a folder", 0},
      {Box::BandField, "wider product", nullptr, 28},
      {Box::BandField, "label only", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.box == Box::Conversion ? "conversion box, " : "band field, ") +
                 c.change);
    TempDir dir;
    const std::string path = dir.File("M2ME.IMG");
    SyntheticProduct p = MakeProduct("M2ME", 2, 14, 16, "643 <nm>");
    // A label number that does not convert shows the box (and then stops the load by itself
    // unless the file problem comes first, which is what the message must say).
    if (c.box == Box::Conversion) SetLabel(p, "LINES", "28x");
    const std::string original = testing::ProductBytes(p);
    WriteFileBytes(path, original);
    const size_t labelArea = static_cast<size_t>(p.labelRecords) * 16;
    const std::function<void()> change = [&] {
      const std::string what = c.change;
      fs::remove(path);
      if (what == "folder") fs::create_directory(path);
      if (what == "cut in label") WriteFileBytes(path, original.substr(0, labelArea - 7));
      if (what == "wider product") {
        WriteFileBytes(path, testing::ProductBytes(MakeProduct("M3ME", 3, 14, 48, "643 <nm>")));
      }
      if (what == "label only") WriteFileBytes(path, original.substr(0, labelArea));
    };
    HookedPort port;
    if (c.box == Box::Conversion) port.onSeriousError = change;
    LoadedProduct product;
    try {
      const LoadOutcome outcome = LoadEdrProduct(path, product, port, [&](int32_t) {
        if (c.box == Box::BandField) change();
      });
      EXPECT_EQ(c.reason, nullptr) << "loaded although the file was gone";
      EXPECT_EQ(outcome, LoadOutcome::ImageRead);
      EXPECT_EQ(product.RowCount, c.rows);
      EXPECT_EQ(product.Rows.Width(), c.rows > 0 ? 16 : product.Rows.Width());
    } catch (const QuelmarError& e) {
      ASSERT_NE(c.reason, nullptr) << e.what();
      const std::string what = e.what();
      EXPECT_NE(what.find("\"" + path + "\""), std::string::npos) << what;
      EXPECT_NE(what.find(c.reason), std::string::npos) << what;
      EXPECT_FALSE(product.HasImage());
      EXPECT_EQ(product.FrameletCount, 0);
    }
    EXPECT_TRUE(port.CursorRestored());
    EXPECT_EQ(port.SeriousErrors().size(), c.box == Box::Conversion ? 1u : 0u);
  }
}

// Places where no bitmap can go: a path through a file used as a folder, a folder whose write
// permission is off. The message names the chosen path; nothing there changes.
TEST(HardeningBmp, TargetsThatCannotHoldABitmap) {
  TempDir dir;
  Picture picture;
  picture.Reset(3, 2);
  const std::string file = dir.File("notes.txt");
  WriteFileBytes(file, "keep me");
  for (const std::string& target : {file + "/picture.bmp", file + "/sub/picture.bmp"}) {
    try {
      WriteBmp(picture, target);
      ADD_FAILURE() << "saved to " << target;
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + target + "\""), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(ReadFileBytes(file), "keep me");

  // Through a link the file it leads to is replaced; the link stays a link.
  const std::string linked = dir.File("real.bmp");
  WriteFileBytes(linked, "older picture");
  std::error_code linkError;
  fs::create_symlink(linked, dir.File("link.bmp"), linkError);
  if (linkError) {
    GTEST_SKIP() << "symbolic links cannot be made here: " << linkError.message();
  }
  WriteBmp(picture, dir.File("link.bmp"));
  EXPECT_TRUE(fs::is_symlink(dir.File("link.bmp")));
  EXPECT_EQ(ReadFileBytes(linked), EncodeBmp(picture));
}

TEST(HardeningBmp, ReadOnlyTargetFolder) {
  TempDir dir;
  Picture picture;
  picture.Reset(3, 2);
  const std::string locked = dir.File("locked");
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  if (WritesIgnorePermissions(locked)) {
    GTEST_SKIP() << "this process writes into read-only folders (it runs as root), so a "
                    "read-only target folder cannot be tested here";
  }
  EXPECT_THROW(WriteBmp(picture, locked + "/picture.bmp"), FileError);
  EXPECT_TRUE(fs::is_empty(locked));
}

// A calibration file that cannot be written, or that changes while a box of the calibration
// step is open: a clear error and no success line, or a record appended after whatever the file
// holds by then; never a lost line.
TEST(HardeningCalibration, FileChangingOrUnwritableDuringTheStep) {
  TempDir dir;
  SupportDataInfo support;
  support.Available = true;
  support.StartTime = "\"2010-03-07T10:00:00.000";
  support.EndTime = "\"2010-03-07T10:00:01.000";
  DisplayedImageInfo shown;
  shown.Stacked = true;
  shown.VStep = 11;
  shown.Correction = "Uncorrected for distortion";
  const std::string productId = "M1CE";
  std::string indexPath = dir.File("CUMINDEX.TAB");

  enum class Hook { None, Question, NewFileMessage };
  struct Case {
    const char* name;
    Hook hook;
    const char* change;
    bool fails;
  } cases[] = {
      {"through a file", Hook::None, "", true},
      {"created by someone else meanwhile", Hook::Question, "create", false},
      {"deleted after its header", Hook::NewFileMessage, "delete", false},
      {"a folder after its header", Hook::NewFileMessage, "folder", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string calPath = dir.File(std::string(c.name) + ".txt");
    if (c.hook == Hook::None) {
      WriteFileBytes(dir.File("plain"), "keep me");
      calPath = dir.File("plain") + "/cal.txt";
    }
    const std::string otherContent = "*someone else's file\r\nU1, 2001/1/1\r\n";
    HookedPort port;
    port.ExpectQuestion(false);
    const std::function<void()> change = [&] {
      const std::string what = c.change;
      if (what == "create") WriteFileBytes(calPath, otherContent);
      if (what == "delete") fs::remove(calPath);
      if (what == "folder") {
        fs::remove(calPath);
        fs::create_directory(calPath);
      }
    };
    if (c.hook == Hook::Question) port.onQuestion = change;
    if (c.hook == Hook::NewFileMessage) port.onMessage = change;
    CalibrationContext context{productId, 10, shown, indexPath, support, calPath};
    const std::string record = CalibrationRecord(support, dir.File("p.bmp"), 8, 4, shown, 10);
    try {
      WriteCalibrationRecord(dir.File("p.bmp"), 8, 4, context, port);
      EXPECT_FALSE(c.fails);
      const std::string text = ReadFileBytes(calPath);
      ASSERT_GE(text.size(), record.size() + 2);
      EXPECT_EQ(text.substr(text.size() - record.size() - 2), record + "\r\n");
      if (std::string(c.change) == "create") {
        EXPECT_EQ(text.rfind(otherContent, 0), 0u);
      }
      EXPECT_EQ(port.Lines().back(), "Calibration data has been saved to \"" + calPath + "\"");
    } catch (const FileError& e) {
      EXPECT_TRUE(c.fails) << e.what();
      EXPECT_NE(std::string(e.what()).find("\"" + calPath + "\""), std::string::npos) << e.what();
      EXPECT_TRUE(port.Lines().empty());
    }
  }
  EXPECT_EQ(ReadFileBytes(dir.File("plain")), "keep me");
}

// A calibration file made read-only keeps its content and gives a clear error.
TEST(HardeningCalibration, ReadOnlyFile) {
  TempDir dir;
  const std::string locked = dir.File("locked.txt");
  WriteFileBytes(locked, "*kept\r\n");
  fs::permissions(locked, fs::perms::owner_read);
  const bool opens = static_cast<bool>(std::ofstream(locked, std::ios::binary | std::ios::app));
  if (opens) {
    GTEST_SKIP() << "this process writes into read-only files (it runs as root), so a "
                    "read-only calibration file cannot be tested here";
  }
  EXPECT_THROW(AppendToCalibrationFile(locked, "U1\r\n"), FileError);
  EXPECT_EQ(ReadFileBytes(locked), "*kept\r\n");
}

}  // namespace
}  // namespace quelmar
