#pragma once
// Label texts: the label lines read from a file, the keyword lookup, the band count named by the
// product identifier and the centre wavelengths, each checked against what they promise.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "product/EdrLabel.h"
#include "product/LoadedProduct.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar::fuzz {

namespace label_detail {

// The label lines of a file as the reading rules give them: a line feed ends a line, carriage
// returns are dropped, a byte 26 ends the file, and the line whose capitals are END ends the
// label. `labelBytes` is the offset just after the last byte kept in the END line.
inline bool ExpectedLabel(std::string_view file, std::vector<std::string>& lines,
                          int64_t& labelBytes) {
  size_t pos = 0;
  std::string current;
  const auto atEnd = [&] { return pos >= file.size() || file[pos] == 26; };
  while (current != "END" && !atEnd()) {
    std::string line;
    int64_t contentEnd = static_cast<int64_t>(pos);
    while (!atEnd()) {
      const char c = file[pos++];
      if (c == '\n') break;
      if (c == '\r') continue;
      line.push_back(c);
      contentEnd = static_cast<int64_t>(pos);
    }
    lines.push_back(line);
    current = UpperAscii(line);
    labelBytes = contentEnd;
  }
  if (current != "END") labelBytes = 0;
  return current == "END";
}

inline bool IsTrimmedOfControls(const std::string& s) {
  return s.empty() ||
         (static_cast<unsigned char>(s.front()) > 32 && static_cast<unsigned char>(s.back()) > 32);
}

}  // namespace label_detail

inline void RunLabelInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const std::string path = ScratchFolder::Instance().File("label.IMG");
  WriteScratchFile(path, file);

  std::vector<std::string> lines;
  const LabelReadResult read = ReadLabelLines(path, lines);
  std::vector<std::string> expected;
  int64_t expectedBytes = 0;
  const bool expectedEnd = label_detail::ExpectedLabel(file, expected, expectedBytes);
  Check(read.endFound == expectedEnd, "the END line is found exactly when the label has one");
  Check(lines == expected, "label lines are split at line feeds, without carriage returns");
  Check(read.labelBytes == expectedBytes, "the label length ends with the END line's text");

  // Keyword lookups: the loader's keywords and the key of every one of the first lines.
  std::vector<std::string> keywords = {"PRODUCT_ID",    "CENTER_FILTER_WAVELENGTH",
                                       "LABEL_RECORDS", "LINES",
                                       "LINE_SAMPLES",  "LRO:NFRAMES",
                                       "SAMPLE_BITS",   ""};
  for (size_t i = 0; i < lines.size() && i < 8; ++i) {
    keywords.push_back(lines[i].substr(0, lines[i].find('=')));
  }
  for (const std::string& keyword : keywords) {
    const std::string value = LabelKeywordValue(lines, keyword);
    Check(label_detail::IsTrimmedOfControls(value), "a label value has no blanks around it");
    Check(value.size() <= file.size(), "a label value comes from the label");
  }

  bool recognised = false;
  const std::string productId = LabelKeywordValue(lines, "PRODUCT_ID");
  const int32_t bands = BandCountOfProductId(productId, recognised);
  Check(bands == 1 || bands == 2 || bands == 5 || bands == 7, "band count is 1, 2, 5 or 7");
  Check(recognised || bands == 1, "an unrecognised product has one band");

  std::array<std::string, 7> wavelengths;
  const int32_t listed = ReadBandWavelengths(lines, wavelengths);
  Check(listed >= 0 && listed <= 7, "at most seven wavelengths are listed");
  for (int32_t k = listed + 1; k <= 7; ++k) {
    Check(wavelengths[static_cast<size_t>(k - 1)] == FormatInt(k),
          "wavelengths not listed are the band numbers");
  }
}

}  // namespace quelmar::fuzz
