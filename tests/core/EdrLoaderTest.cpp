// The Load command's sequence over synthetic products: report lines, product fields, the order
// of the field preparation and the conversion boxes, short and long files, bad input.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using testing::MakeProduct;
using testing::SyntheticProduct;
using Lines = std::vector<std::string>;

// Sets the value of the label statement `key` (added before END when missing); `remove` drops it.
void SetKey(SyntheticProduct& p, const std::string& key, const std::string& value,
            bool remove = false) {
  for (auto it = p.labelLines.begin(); it != p.labelLines.end(); ++it) {
    std::string k = it->substr(0, it->find('='));
    k.erase(0, k.find_first_not_of(' '));
    k.erase(k.find_last_not_of(' ') + 1);
    if (k != key) continue;
    if (remove) p.labelLines.erase(it);
    if (!remove) *it = key + " = " + value;
    return;
  }
  if (!remove) p.labelLines.insert(p.labelLines.end() - 1, key + " = " + value);
}

class EdrLoaderTest : public ::testing::Test {
 protected:
  std::string Write(const SyntheticProduct& p, const std::string& extra = "") {
    testing::WriteFileBytes(path, testing::ProductBytes(p) + extra);
    return path;
  }
  LoadOutcome Load(const std::string& file) {
    return LoadEdrProduct(file, product, port, [this](int32_t bands) {
      fieldCalls.push_back(bands);
      callsAtFields = port.Calls().size();
      if (onFields) onFields();
    });
  }
  // A good product loaded first, so that a later load shows what it leaves behind.
  void LoadPrevious() {
    testing::WriteFileBytes(dir.File("prev.IMG"),
                            testing::ProductBytes(MakeProduct("PREVCE", 2, 78, 16, "(1) <nm>")));
    ASSERT_EQ(Load(dir.File("prev.IMG")), LoadOutcome::ImageRead);
    port.Clear();
    fieldCalls.clear();
  }

  testing::TempDir dir;
  std::string path = dir.File("M1CE.IMG");
  testing::ScriptedPort port;
  LoadedProduct product;
  std::vector<int32_t> fieldCalls;
  size_t callsAtFields = 0;
  std::function<void()> onFields;
};

TEST_F(EdrLoaderTest, SevenBandProductIsReadAndReported) {
  const auto p = MakeProduct("M1000CE", 3, 78, 16, "(321, 360, 415, 566, 604, 643, 689) <nm>");
  EXPECT_EQ(Load(Write(p)), LoadOutcome::ImageRead);
  EXPECT_EQ(port.Lines(),
            (Lines{"Loading: " + path,
                   "Read: " + std::to_string(p.labelRecords) + " header + 234 image rows",
                   " (3 framelets, each 78 rows high x 16 samples wide with 7 bands)",
                   "Wavebands (nm) listed in header:",
                   " 1: 321   2: 360   3: 415   4: 566   5: 604   6: 643   7: 689  ", ""}));
  EXPECT_EQ(fieldCalls, std::vector<int32_t>{7});
  EXPECT_EQ(product.HeaderLines, p.labelLines);
  EXPECT_EQ(product.ProductId, "M1000CE");
  EXPECT_EQ(product.FrameletHeight, 78);
  EXPECT_EQ(product.RowCount, 234);
  EXPECT_EQ(product.FrameletCount, 3);
  ASSERT_EQ(product.Rows.Lines(), 234);
  EXPECT_EQ(std::vector<uint8_t>(product.Rows.Row(0), product.Rows.Row(0) + 234 * 16), p.rows);
  EXPECT_TRUE(port.Calls().front().busy);  // the busy cursor covers the whole load
  EXPECT_TRUE(port.CursorRestored());
}

TEST_F(EdrLoaderTest, ProductKindComesFromTheIdentifiersEnding) {
  const std::string caution =
      "CAUTION: valid WAC EDR product not recognized (file name should end in \"ME\", \"CE\", "
      "\"UE\" or \"VE\")";
  const std::pair<std::string, int32_t> cases[] = {
      {"M1ME", 1}, {"M1UE", 2}, {"M1VE", 5}, {"M1CE", 7}, {"M1ce", 0}, {"\"M1CE\"", 0}, {"E", 0}};
  for (const auto& [id, bands] : cases) {
    SCOPED_TRACE(id);
    port.Clear();
    EXPECT_EQ(Load(Write(MakeProduct(id, 2, 8, 8, "(1) <nm>"))), LoadOutcome::ImageRead);
    EXPECT_EQ(product.BandCount, std::max(bands, 1));
    const Lines lines = port.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), caution), bands == 0 ? 1 : 0);
  }
}

// Fields are prepared after the wavelength lines and before the label numbers are converted,
// whose boxes come in the order LABEL_RECORDS, LINES, LINE_SAMPLES, LRO:NFRAMES.
TEST_F(EdrLoaderTest, FieldsThenConversionBoxesInOrder) {
  auto p = MakeProduct("M1VE", 2, 70, 8, "(415 <nm>, 566 <nm>)");
  SetKey(p, "LABEL_RECORDS", "r1x");
  SetKey(p, "LINES", "l2x");
  SetKey(p, "LINE_SAMPLES", "w 3x");
  SetKey(p, "LRO:NFRAMES", "f4x");
  try {
    Load(Write(p));
    ADD_FAILURE() << "a load with LRO:NFRAMES 0 must fail";
  } catch (const RangeError& e) {
    EXPECT_NE(std::string(e.what()).find("LRO:NFRAMES is 0"), std::string::npos) << e.what();
  }
  EXPECT_EQ(fieldCalls, std::vector<int32_t>{5});
  ASSERT_EQ(port.Calls().size(), callsAtFields + 5);  // four boxes, then the cursor
  EXPECT_EQ(port.Calls()[callsAtFields - 1].text,
            "Caution: 5 bands expected; 2 wavelengths listed in header");
  const char* texts[] = {"\"r1x\"", "\"l2x\"", "\"w3x\"", "\"f4x\""};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(port.Calls()[callsAtFields + i].kind, testing::ScriptedPort::Kind::SeriousError);
    EXPECT_NE(port.Calls()[callsAtFields + i].text.find(texts[i]), std::string::npos);
  }
}

TEST_F(EdrLoaderTest, ShortAndLongFiles) {
  const std::string missing = "Note: 1000 image rows expected, but not found.";
  struct Case {
    int32_t rowsInFile;  // of the 1000 the label promises
    std::string extra, frames;
    Lines notes;
    int32_t frameletHeight, frameletCount;
  } cases[] = {
      {1000, "", "70", {}, 14, 71},
      {1000, "abc", "70", {"Note: data found beyond end of 1000 expected image rows."}, 14, 71},
      {500, "", "70", {missing}, 14, 35},
      {0, "", "70", {missing}, 14, 0},
      {1000, "", "", {}, 1000, 1},  // no LRO:NFRAMES: one framelet
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rowsInFile);
    port.Clear();
    auto p = MakeProduct("M3ME", 1, 1000, 8, "(643 <nm>)");
    SetKey(p, "LRO:NFRAMES", c.frames, c.frames.empty());
    p.rows.resize(static_cast<size_t>(c.rowsInFile) * 8);
    EXPECT_EQ(Load(Write(p, c.extra)), LoadOutcome::ImageRead);
    Lines expected = {"Loading: " + path};
    expected.insert(expected.end(), c.notes.begin(), c.notes.end());
    expected.push_back("Read: " + std::to_string(p.labelRecords) + " header + " +
                       std::to_string(c.rowsInFile) + " image rows");
    expected.push_back(" (" + std::to_string(c.frameletCount) + " framelets, each " +
                       std::to_string(c.frameletHeight) + " rows high x 8 samples wide at 643 nm)");
    expected.push_back("");
    EXPECT_EQ(port.Lines(), expected);
    EXPECT_EQ(product.RowCount, c.rowsInFile);
    EXPECT_EQ(product.Rows.Lines(), c.rowsInFile);  // never more rows than the file holds
    EXPECT_EQ(product.FrameletCount, c.frameletCount);
    if (c.rowsInFile > 0) {
      EXPECT_EQ(product.Rows.Row(c.rowsInFile - 1)[7], p.rows.back());
    }
  }
  // A label promising 2^31 - 1 rows of a file holding 10 loads those 10.
  port.Clear();
  auto p = MakeProduct("M4ME", 1, 10, 704, "643 <nm>");
  SetKey(p, "LINES", "2147483647");
  EXPECT_EQ(Load(Write(p)), LoadOutcome::ImageRead);
  EXPECT_EQ(product.Rows.Lines(), 10);
  EXPECT_EQ(port.Lines().at(1), "Note: 2147483647 image rows expected, but not found.");
}

TEST_F(EdrLoaderTest, SixteenBitDataGivesNoImage) {
  LoadPrevious();
  auto p = MakeProduct("M5UE", 3, 8, 16, "(321 <nm>, 360 <nm>)");
  SetKey(p, "SAMPLE_BITS", "16");
  EXPECT_EQ(Load(Write(p)), LoadOutcome::NoImageData);
  EXPECT_EQ(port.Lines(),
            (Lines{"Loading: " + path, "Unable to display meaningful image: data is 16 bits", ""}));
  EXPECT_EQ(fieldCalls, std::vector<int32_t>{2});
  EXPECT_FALSE(product.HasImage());
  EXPECT_EQ(product.RowCount, 0);
  EXPECT_EQ(product.FrameletHeight, 8);
  EXPECT_EQ(product.BandWavelengths[1], "360");
}

TEST_F(EdrLoaderTest, EndLineIsFoundOnlyExactly) {
  for (const std::string end : {"END", "end", "End", "END ", " END"}) {
    SCOPED_TRACE("[" + end + "]");
    LoadPrevious();
    auto p = MakeProduct("M6CE", 1, 78, 8, "(1) <nm>");
    p.labelLines.back() = end;
    const LoadOutcome outcome = Load(Write(p));
    if (end.size() == 3) {
      EXPECT_EQ(outcome, LoadOutcome::ImageRead);
      continue;
    }
    EXPECT_EQ(outcome, LoadOutcome::NoHeader);
    EXPECT_EQ(port.Lines(), (Lines{"Loading: " + path, "Unable to find text header"}));
    EXPECT_TRUE(fieldCalls.empty());
    // The rest of the file was read as lines too.
    EXPECT_GT(product.HeaderLines.size(), p.labelLines.size());
    EXPECT_FALSE(product.HasImage());
    EXPECT_EQ(product.RowCount, 0);
    EXPECT_EQ(product.ProductId, "PREVCE");
  }
}

TEST_F(EdrLoaderTest, BadInputStopsWithAClearErrorAndNoImage) {
  struct Case {
    std::string key, value;  // label change; "" for the special files below
    const char* reason;
  } cases[] = {
      {"missing", "", "does not exist"},
      {"folder", "", "is a folder"},
      {"cut row", "", "ends inside image row 28 of 28 (13 of 16 bytes)"},
      {"LABEL_RECORDS", "0", "label area is empty"},
      {"LABEL_RECORDS", "200000000", "exceeds 2147483647 bytes"},
      {"LABEL_RECORDS", "2", "is longer than its label area"},
      {"LABEL_RECORDS", "1000", "ends inside its label area"},
      {"LINE_SAMPLES", "50000000", "ends inside its label area"},
      {"LINES", "-28", "negative LINES: -28"},
      {"LRO:NFRAMES", "-2", "negative LRO:NFRAMES"},
      {"LRO:NFRAMES", "0", "LRO:NFRAMES is 0"},
      {"LRO:NFRAMES", "29", "framelet height is 0 (LINES 28, LRO:NFRAMES 29)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + " " + c.value);
    LoadPrevious();
    auto p = MakeProduct("M7ME", 2, 14, 16, "643 <nm>");
    if (c.key == "cut row") p.rows.resize(p.rows.size() - 3);
    if (!c.value.empty()) SetKey(p, c.key, c.value);
    std::string file = Write(p);
    if (c.key == "missing") file = dir.File("nothing-here.IMG");
    if (c.key == "folder") file = dir.Path();
    try {
      Load(file);
      ADD_FAILURE() << "no error";
    } catch (const QuelmarError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("\"" + file + "\""), std::string::npos) << what;
      EXPECT_NE(what.find(c.reason), std::string::npos) << what;
    }
    EXPECT_FALSE(product.HasImage());
    EXPECT_EQ(product.RowCount, 0);
    EXPECT_EQ(product.FrameletCount, 0);
    EXPECT_TRUE(port.CursorRestored());
    EXPECT_NE(port.Lines().back(), "");
  }
}

// The file changes between the label read and the row read: gone, cut inside a row, cut at a
// row boundary.
TEST_F(EdrLoaderTest, FileChangingBetweenLabelAndRows) {
  const auto p = MakeProduct("M8ME", 2, 14, 16, "643 <nm>");
  const auto rowsStart = static_cast<uintmax_t>(p.labelRecords) * 16;
  onFields = [&] { std::filesystem::remove(path); };
  EXPECT_THROW(Load(Write(p)), FileError);
  onFields = [&] { std::filesystem::resize_file(path, rowsStart + 5 * 16 + 1); };
  EXPECT_THROW(Load(Write(p)), FileError);
  EXPECT_FALSE(product.HasImage());
  port.Clear();
  onFields = [&] { std::filesystem::resize_file(path, rowsStart + 5 * 16); };
  EXPECT_EQ(Load(Write(p)), LoadOutcome::ImageRead);
  EXPECT_EQ(product.RowCount, 5);
  EXPECT_EQ(port.Lines().at(1), "Note: 28 image rows expected, but not found.");
}

}  // namespace
}  // namespace quelmar
