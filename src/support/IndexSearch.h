#pragma once
// Searching the cumulative index by place and light: which products show a ground point, and
// under which sun and from which direction. One pass over the file; only the current line and
// the hits are held.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/IndexGeometry.h"

namespace quelmar {

struct SearchRequest {
  GroundPoint point;  // latitude -90..90; longitude -180..360 (east)
  std::optional<Real> incidenceMin, incidenceMax;
  std::optional<Real> emissionMax;
  uint32_t kinds = kAllKinds;         // ProductKindBit set
  std::optional<IndexTime> from, to;  // start times, inclusive
  std::optional<Real> nearIncidence;  // sort by closeness to it instead of by time
  int32_t limit = 0;                  // the first `limit` hits after sorting; 0: all
};

struct SearchHit {
  std::string productId;
  std::string startTime;  // the StartTime field, quotes removed and blanks trimmed
  IndexTime start = 0;
  Real incidence = 0, emission = 0;  // degrees, at the point
  Real pixelSize = 0;                // metres on the ground
  std::string fileName;              // the .IMG file the line names; empty when none
};

struct SearchResult {
  std::vector<SearchHit> hits;
  int64_t lines = 0;  // lines read (empty lines are not counted)
  // Lines the search could not use: too short, a footprint corner that does not read, or a
  // footprint that may hold the point with another field that does not read.
  int64_t skippedLines = 0;
  int64_t matches = 0;  // hits before `limit` was applied
};

// What is wrong with the request, in words for the user; empty when it can be run.
std::string SearchRequestProblem(const SearchRequest& request);

// The hit a line gives for the request, if any; `usable` (when given) tells whether the line
// could be read at all.
std::optional<SearchHit> SearchLine(std::string_view line, const SearchRequest& request,
                                    bool* usable = nullptr);

// Reads the whole index once. RangeError for a request with a problem; FileError when the file
// cannot be opened or read. Lines that cannot be read are counted, never fatal.
SearchResult SearchIndex(const std::string& indexPath, const SearchRequest& request);

// A date ("2010-03-07") or a date and time ("2010-03-07T10:00:00", optionally with ".mmm"; a
// blank for the "T" too) as a point in time; `endOfDay` puts a bare date at its last millisecond.
// Nothing when the text is neither.
std::optional<IndexTime> ParseSearchDate(std::string_view text, bool endOfDay);

// Where the product of a hit may be on disk, in the order to try: beside the index, in
// `lastProductFolder` (when not empty), and at the name the line gives relative to the index's
// folder. The first that exists, or nothing.
std::optional<std::string> LocateHitFile(const SearchHit& hit, const std::string& indexPath,
                                         const std::string& lastProductFolder);

}  // namespace quelmar
