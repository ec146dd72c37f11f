#pragma once
// The search by place and light over the same index file: its counts and hits checked against a
// plain line-by-line reading (split at line feeds, one carriage return dropped, empty lines not
// counted), the point taken in the first readable footprint so that hits are common.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "support/IndexSearch.h"

namespace quelmar::fuzz {

inline void CheckIndexSearch(std::string_view file, const std::string& indexPath) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < file.size();) {
    size_t end = file.find('\n', start);
    if (end == std::string_view::npos) end = file.size();
    std::string_view line = file.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
  }
  SearchRequest request;
  for (std::string_view line : lines) {
    const std::optional<IndexLineRecord> r = ReadSearchLine(line);
    if (!r) continue;
    Real lat = 0;
    for (const GroundPoint& c : r->corners) lat += c.latitude / 4;
    request.point = {std::clamp<Real>(lat, -90, 90), r->corners[0].longitude < -180
                                                         ? r->corners[0].longitude + 360
                                                         : r->corners[0].longitude};
    break;
  }
  int64_t skipped = 0;
  std::vector<SearchHit> expected;
  for (std::string_view line : lines) {
    bool usable = false;
    std::optional<SearchHit> hit = SearchLine(line, request, &usable);
    if (!usable) ++skipped;
    if (hit) expected.push_back(std::move(*hit));
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const SearchHit& a, const SearchHit& b) { return a.start < b.start; });

  const SearchResult result = SearchIndex(indexPath, request);
  Check(result.lines == static_cast<int64_t>(lines.size()), "the search counts every line");
  Check(result.skippedLines == skipped, "the search skips exactly the lines that do not read");
  Check(result.hits.size() == expected.size(),
        "the search finds every footprint holding the point");
  for (size_t i = 0; i < expected.size() && i < result.hits.size(); ++i) {
    const SearchHit& h = result.hits[i];
    Check(h.productId == expected[i].productId && h.start == expected[i].start,
          "the hits come in order of start time");
    Check(h.incidence >= 0 && h.incidence <= 180 && h.emission >= 0 && h.emission <= 180,
          "angles lie between 0 and 180 degrees");
    Check(h.pixelSize > 0 && std::isfinite(h.pixelSize), "a pixel has a size");
  }
}

}  // namespace quelmar::fuzz
