// The label side of loading: line rules, the wavelength list in its archive forms, and real
// archive label texts wrapped into products.
#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "product/EdrLabel.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/Numbers.h"

namespace quelmar {
namespace {

using Lines = std::vector<std::string>;

TEST(EdrLabelLines, LineRules) {
  struct Case {
    std::string bytes;
    Lines lines;
    int64_t labelBytes;  // 0: no END line
  } cases[] = {
      {"A = 1\r\nEND\r\nrest", {"A = 1", "END"}, 10},
      {"A\nB\r\rC\nEnd", {"A", "BC", "End"}, 10},  // LF only, stray CRs, no final line end
      {"E\rND\r\n", {"END"}, 4},
      {"A\r\n\r\nend\n", {"A", "", "end"}, 8},
      {"END\r\nB\r\nEND\r\n", {"END"}, 3},
      {"A\r\nB\x1a\nEND\r\n", {"A", "B"}, 0},  // byte 26 ends the file
      {"\032END\r\n", {}, 0},
      {"", {}, 0},
      {"END \r\nX\r\n", {"END ", "X"}, 0},
      {std::string(200000, 'x') + "\nEND", {std::string(200000, 'x'), "END"}, 200004},
  };
  testing::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 20));
    testing::WriteFileBytes(dir.File("label.IMG"), c.bytes);
    Lines lines = {"kept"};
    const LabelReadResult r = ReadLabelLines(dir.File("label.IMG"), lines);
    Lines expected = {"kept"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(r.endFound, c.labelBytes > 0);
    EXPECT_EQ(r.labelBytes, c.labelBytes);
  }
}

TEST(EdrLabelWavelengths, ArchiveFormsAndOddities) {
  const std::string key = "CENTER_FILTER_WAVELENGTH = ";
  struct Case {
    Lines label, listed;
  } cases[] = {
      {{key + "(321 <nm>, 360 <nm>, 415 <nm>)"}, {"321", "360", "415"}},
      // The long-standing reading of this form keeps a blank before a unit.
      {{key + "(321  <nm>, 360 <nm>)"}, {"321 ", "360"}},
      {{key + "(321, 360, 415, 566, 604, 643, 689) <nm>"},
       {"321", "360", "415", "566", "604", "643", "689"}},
      {{key + "643 <nm>"}, {"643"}},
      {{key + "321 <nm>, 360 <nm>, 415 <nm>"}, {"321", "360", "415"}},
      {{"  CENTER_FILTER_WAVELENGTH\t=  (321, 360) <nm>  "}, {"321", "360"}},
      {{key + "(321 <nm>, 360 <nm>,", "   415 <nm>, 566 <nm>,", "   604 <nm>)", "X = (1)"},
       {"321", "360", "415", "566", "604"}},
      {{key + "(321, 360,", "  415) <nm>", "END"}, {"321", "360", "415"}},
      {{key + "(415 <nm>, 566 <nm>,", "LINES = 5", "604)"}, {"415", "566"}},  // unclosed
      {{key + "(1 <nm>, 2 <nm>, 3 <nm>, 4 <nm>, 5 <nm>, 6 <nm>, 7 <nm>, 8 <nm>)"},
       {"1", "2", "3", "4", "5", "6", "7"}},
      {{key + "()"}, {}},
      {{"LINES = 5"}, {}},
      {{key + "(415) <nm>", key + "(321, 360) <nm>"}, {"415"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label[0]);
    std::array<std::string, 7> w;
    w.fill("old");
    EXPECT_EQ(ReadBandWavelengths(c.label, w), static_cast<int32_t>(c.listed.size()));
    for (size_t k = 0; k < 7; ++k) {
      EXPECT_EQ(w[k], k < c.listed.size() ? c.listed[k] : std::to_string(k + 1));
    }
  }
}

// Real archive label texts, each wrapped into a product (label area large enough, a few blank
// rows) and loaded: band count, wavelengths and framelet height must be those of its kind.
TEST(EdrLabelRealArchive, LabelsLoadWithTheirBandLayout) {
  const std::string folder = testing::RealLabelsDir();
  if (folder.empty()) GTEST_SKIP() << "no real archive label texts (fixtures/real-labels) here";
  testing::TempDir dir;
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || UpperAscii(name).rfind("README", 0) == 0) continue;
    SCOPED_TRACE(name);
    testing::SyntheticProduct p;
    ASSERT_TRUE(ReadLabelLines(entry.path().string(), p.labelLines).endFound);
    const auto number = [&](const char* k) {
      return ParseInt32(LabelKeywordValue(p.labelLines, k)).value;
    };
    p.width = number("LINE_SAMPLES");
    ASSERT_GT(p.width, 0);
    size_t textBytes = 0;
    for (const auto& l : p.labelLines) textBytes += l.size() + 2;
    p.labelRecords = std::max<int32_t>(number("LABEL_RECORDS"), textBytes / p.width + 2);
    for (auto& l : p.labelLines) {
      if (l.find("LABEL_RECORDS") != std::string::npos && l.find('=') != std::string::npos) {
        l = "LABEL_RECORDS = " + std::to_string(p.labelRecords);
      }
    }
    p.rows.assign(static_cast<size_t>(std::min(number("LINES"), 200)) * p.width, 0);
    testing::WriteFileBytes(dir.File("p.IMG"), testing::ProductBytes(p));

    testing::ScriptedPort port;
    LoadedProduct product;
    EXPECT_NE(LoadEdrProduct(dir.File("p.IMG"), product, port, nullptr), LoadOutcome::NoHeader);
    EXPECT_TRUE(port.SeriousErrors().empty());
    for (const auto& line : port.Lines()) EXPECT_NE(line.rfind("Caution", 0), 0u) << line;

    std::string id = product.ProductId;
    id.erase(std::remove(id.begin(), id.end(), '"'), id.end());
    const std::string kind = id.substr(id.size() < 2 ? 0 : id.size() - 2);
    const int32_t bands = kind == "ME" ? 1 : kind == "UE" ? 2 : kind == "VE" ? 5 : 7;
    ASSERT_TRUE(kind == "ME" || kind == "UE" || kind == "VE" || kind == "CE") << id;
    EXPECT_EQ(product.BandCount, bands);
    EXPECT_EQ(product.FrameletHeight, bands == 1 ? 14 : bands == 2 ? 8 : bands == 5 ? 70 : 78);
    for (int32_t b = 0; b < bands; ++b) {
      const RealParse w = ParseReal(product.BandWavelengths[static_cast<size_t>(b)]);
      EXPECT_TRUE(w.ok() && w.value >= 300 && w.value <= 700) << product.BandWavelengths[b];
    }
    ++checked;
  }
  EXPECT_GT(checked, 0) << "the folder holds no label texts";
}

}  // namespace
}  // namespace quelmar
