#pragma once
// The cumulative index: the product's line found in an index file made from the input (checked
// against a plain line-by-line reading), the search by place over the same file, the index times
// read from the fields found and from the raw input, and the calibration record built from them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "IndexSearchDriver.h"
#include "assembly/DisplayedImage.h"
#include "output/CalibrationFile.h"
#include "support/IndexLookup.h"
#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/WinOps.h"

namespace quelmar::fuzz {

namespace index_detail {

// The first line (split at line feeds, one carriage return before the feed dropped) whose first
// occurrence of the identifier starts at position 2 or later, with its fields.
inline std::optional<SupportDataInfo> ExpectedRecord(std::string_view file, std::string_view id) {
  if (id.empty()) return std::nullopt;
  size_t start = 0;
  while (start < file.size()) {
    size_t end = file.find('\n', start);
    if (end == std::string_view::npos) end = file.size();
    std::string_view line = file.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t at = line.find(id);
    if (at == std::string_view::npos || at == 0) continue;
    SupportDataInfo info;
    for (const IndexFieldPlace& p : kIndexFields) {
      info.*(p.field) = SubstringFromTo(line, p.position, p.position + p.length - 1);
    }
    info.Available = true;
    return info;
  }
  return std::nullopt;
}

inline bool SameRecord(const SupportDataInfo& a, const SupportDataInfo& b) {
  if (a.Available != b.Available) return false;
  for (const IndexFieldPlace& p : kIndexFields) {
    if (a.*(p.field) != b.*(p.field)) return false;
  }
  return true;
}

std::string TwoDigits(int32_t v) {
  return (v < 10 ? "0" : "") + FormatInt(v);
}

// Reads an index time; when it converts, its calendar form must be valid and, written out again,
// read back as the same point in time.
inline std::optional<IndexTime> CheckIndexTime(std::string_view text) {
  IndexTime t = 0;
  try {
    t = ParseIndexTime(text);
  } catch (const ConversionError&) {
    return std::nullopt;
  }
  const CalendarTime c = ToCalendarTime(t);
  Check(c.year >= 1 && c.year <= 9999 && c.month >= 1 && c.month <= 12 && c.day >= 1 &&
            c.day <= 31 && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 && c.minute <= 59 &&
            c.second >= 0 && c.second <= 59 && c.millisecond >= 0 && c.millisecond <= 999,
        "an index time converts to a valid calendar time");
  std::string year = FormatInt(c.year);
  year.insert(0, 4 - year.size(), '0');
  std::string ms = FormatInt(c.millisecond);
  ms.insert(0, 3 - ms.size(), '0');
  const std::string again = "\"" + year + "-" + TwoDigits(c.month) + "-" + TwoDigits(c.day) + "T" +
                            TwoDigits(c.hour) + ":" + TwoDigits(c.minute) + ":" +
                            TwoDigits(c.second) + "." + ms;
  Check(ParseIndexTime(again) == t, "an index time written out again reads back the same");
  return t;
}

}  // namespace index_detail

// Byte 0 at 0xF0 or above: the identifier is the rest of the first line (at most 40
// characters). Otherwise the identifier is a fixed one. The rest is the index file.
inline void RunIndexInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string productId = "M126534360CE";
  if (!input.empty() && static_cast<uint8_t>(input[0]) >= 0xF0) {
    const size_t lf = input.find('\n');
    productId =
        std::string(input.substr(1, std::min<size_t>(lf == input.npos ? input.size() : lf, 41) -
                                        std::min<size_t>(1, input.size())));
    input.remove_prefix(lf == input.npos ? input.size() : lf + 1);
    if (productId.find('\r') != std::string::npos) return;  // no identifier holds a line end
  }
  std::string indexPath = ScratchFolder::Instance().File("CUMINDEX.TAB");
  WriteScratchFile(indexPath, input);

  const std::optional<SupportDataInfo> found = FindIndexRecord(indexPath, productId);
  const std::optional<SupportDataInfo> expected = index_detail::ExpectedRecord(input, productId);
  Check(found.has_value() == expected.has_value(),
        "the index line is found exactly when it exists");
  if (found) Check(index_detail::SameRecord(*found, *expected), "index fields are cut as placed");

  SilentPort port;
  SupportDataInfo support;
  SupportCommand(productId, indexPath, support, port);
  Check(port.CursorRestored(), "the busy cursor is restored after the Support command");
  Check(port.dialogs == 0, "an existing index file is used without a dialog");
  Check(support.Available == found.has_value(), "support data are there when the line is");
  CheckIndexSearch(input, indexPath);

  index_detail::CheckIndexTime(input.substr(0, 24));
  index_detail::CheckIndexTime(input);
  if (!found) return;
  const std::optional<IndexTime> start = index_detail::CheckIndexTime(found->StartTime);
  const std::optional<IndexTime> end = index_detail::CheckIndexTime(found->EndTime);
  if (start && end) {
    const IndexTime mid = MidTime(*start, *end);
    Check(mid >= std::min(*start, *end) && mid <= std::max(*start, *end),
          "the mid time lies between start and end");
  }
  DisplayedImageInfo shown;
  shown.Stacked = true;
  shown.VStep = 11;
  shown.HStep = -1.5L;
  shown.Correction = "Uncorrected for distortion";
  try {
    const std::string record =
        CalibrationRecord(support, "/pictures/M126534360CE_415nm, copy.bmp", 704, 1103, shown, 100);
    Check(record.find_first_of("\r\n") == std::string::npos, "a calibration record is one line");
  } catch (const QuelmarError&) {
    // Refused only for a time that does not convert, or a field holding a line break (which
    // would split the record into false lines).
    bool lineBreak = false;
    for (const IndexFieldPlace& p : kIndexFields) {
      lineBreak = lineBreak || (support.*(p.field)).find_first_of("\r\n") != std::string::npos;
    }
    Check(!start || !end || lineBreak, "a calibration record is refused only for a reason");
  }
}

}  // namespace quelmar::fuzz
