#include "support/IndexSearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "support/BlockReader.h"
#include "support/IndexLookup.h"
#include "util/Errors.h"
#include "util/Paths.h"

namespace quelmar {

namespace {

// Every field the search reads lies within the first kLineHead characters of a line.
constexpr size_t kLineHead = 1024;

std::string TimeWithoutQuotes(std::string_view text) {
  while (!text.empty() && (text.front() == '"' || text.front() == ' ')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '"' || text.back() == ' ')) text.remove_suffix(1);
  return std::string(text);
}

bool Within(Real value, const std::optional<Real>& min, const std::optional<Real>& max) {
  return (!min || value >= *min) && (!max || value <= *max);
}

}  // namespace

std::string SearchRequestProblem(const SearchRequest& r) {
  const GroundPoint& p = r.point;
  if (!std::isfinite(p.latitude) || p.latitude < -90 || p.latitude > 90) {
    return "the latitude must lie between -90 and 90 degrees";
  }
  if (!std::isfinite(p.longitude) || p.longitude < -180 || p.longitude > 360) {
    return "the longitude must lie between -180 and 360 degrees";
  }
  for (const std::optional<Real>* angle :
       {&r.incidenceMin, &r.incidenceMax, &r.emissionMax, &r.nearIncidence}) {
    if (*angle && (!std::isfinite(**angle) || **angle < 0 || **angle > 180)) {
      return "angles must lie between 0 and 180 degrees";
    }
  }
  if (r.incidenceMin && r.incidenceMax && *r.incidenceMin > *r.incidenceMax) {
    return "the incidence range is inverted (its minimum exceeds its maximum)";
  }
  if (r.from && r.to && *r.from > *r.to) {
    return "the time range is inverted (it ends before it begins)";
  }
  if ((r.kinds & kAllKinds) == 0) return "no product kind is chosen";
  if (r.limit < 0) return "the limit must not be negative";
  return {};
}

std::optional<SearchHit> SearchLine(std::string_view line, const SearchRequest& request,
                                    bool* usable) {
  IndexLineRecord r;
  const LineFit fit = ScreenSearchLine(line, request.point, r);
  if (usable) *usable = fit != LineFit::Unreadable;
  if (fit != LineFit::Candidate) return std::nullopt;
  if ((r.kind & request.kinds) == 0) return std::nullopt;
  if ((request.from && r.start < *request.from) || (request.to && r.start > *request.to)) {
    return std::nullopt;
  }
  if (!FootprintContains(r.corners, request.point)) return std::nullopt;
  SearchHit hit;
  hit.incidence = IncidenceAngle(request.point, r.subSolar);
  if (!Within(hit.incidence, request.incidenceMin, request.incidenceMax)) return std::nullopt;
  hit.emission = EmissionAngle(request.point, r.spacecraft, r.altitudeKm);
  if (request.emissionMax && hit.emission > *request.emissionMax) return std::nullopt;
  hit.productId = std::string(r.productId);
  hit.startTime = TimeWithoutQuotes(r.startText);
  hit.start = r.start;
  hit.pixelSize = GroundPixelSize(r.altitudeKm);
  hit.fileName = std::string(r.fileName);
  return hit;
}

SearchResult SearchIndex(const std::string& indexPath, const SearchRequest& request) {
  const std::string problem = SearchRequestProblem(request);
  if (!problem.empty()) throw RangeError("Cannot search the index: " + problem);
  std::ifstream in = OpenIndexFile(indexPath);

  SearchResult result;
  const auto takeLine = [&](std::string_view line) {
    if (!line.empty() && line.back() == '\r' && line.size() < kLineHead) line.remove_suffix(1);
    if (line.empty()) return;
    ++result.lines;
    bool usable = false;
    std::optional<SearchHit> hit = SearchLine(line, request, &usable);
    if (!usable) ++result.skippedLines;
    if (hit) result.hits.push_back(std::move(*hit));
  };

  // Blocks of 1 MiB, read by a second thread while this one works on the previous block; a line
  // is looked at where it stands in the block, and only a line that goes on past the block's end
  // is copied (its first kLineHead characters: the fields lie there).
  std::string carry;
  bool lineOpen = false;
  BlockReader reader(in, indexPath, size_t{1} << 20);
  for (std::string_view block = reader.Next(); !block.empty(); block = reader.Next()) {
    const char* p = block.data();
    const char* const end = p + block.size();
    while (p < end) {
      const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* lineEnd = lf ? lf : end;
      const size_t n = static_cast<size_t>(lineEnd - p);
      if (lineOpen || !lf) {
        if (carry.size() < kLineHead) carry.append(p, std::min(n, kLineHead - carry.size()));
        lineOpen = !lf;
        if (lf) {
          takeLine(carry);
          carry.clear();
        }
      } else {
        takeLine(std::string_view(p, std::min(n, kLineHead)));
      }
      p = lf ? lf + 1 : end;
    }
  }
  if (lineOpen) takeLine(carry);

  if (request.nearIncidence) {
    const Real wanted = *request.nearIncidence;
    std::stable_sort(result.hits.begin(), result.hits.end(),
                     [wanted](const SearchHit& a, const SearchHit& b) {
                       const Real da = std::fabs(a.incidence - wanted);
                       const Real db = std::fabs(b.incidence - wanted);
                       return da != db ? da < db : a.start < b.start;
                     });
  } else {
    std::stable_sort(result.hits.begin(), result.hits.end(),
                     [](const SearchHit& a, const SearchHit& b) { return a.start < b.start; });
  }
  result.matches = static_cast<int64_t>(result.hits.size());
  if (request.limit > 0 && result.hits.size() > static_cast<size_t>(request.limit)) {
    result.hits.resize(static_cast<size_t>(request.limit));
  }
  return result;
}

std::optional<IndexTime> ParseSearchDate(std::string_view text, bool endOfDay) {
  std::string t(text);
  const bool dateOnly = t.size() == 10;
  if (dateOnly) t += "T00:00:00.000";
  if (t.size() == 19) t += ".000";
  if (t.size() != 23 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') ||
      t[13] != ':' || t[16] != ':' || t[19] != '.') {
    return std::nullopt;
  }
  for (size_t i = 0; i < t.size(); ++i) {
    if (i != 4 && i != 7 && i != 10 && i != 13 && i != 16 && i != 19 &&
        (t[i] < '0' || t[i] > '9')) {
      return std::nullopt;
    }
  }
  try {
    const IndexTime time = ParseIndexTime(" " + t);
    return dateOnly && endOfDay ? time + 86400000 - 1 : time;
  } catch (const ConversionError&) {
    return std::nullopt;
  }
}

std::optional<std::string> LocateHitFile(const SearchHit& hit, const std::string& indexPath,
                                         const std::string& lastProductFolder) {
  const std::string indexFolder = SplitPath(indexPath).folder;
  const std::string name = hit.fileName.empty() ? hit.productId + ".IMG" : FileNameOf(hit.fileName);
  std::vector<std::string> candidates{indexFolder + name};
  if (!lastProductFolder.empty()) {
    std::string folder = lastProductFolder;
    if (!IsPathSeparator(folder.back())) folder += '/';
    candidates.push_back(folder + name);
  }
  if (!hit.fileName.empty()) candidates.push_back(indexFolder + hit.fileName);
  for (const std::string& c : candidates) {
    if (FileExists(c)) return c;
  }
  return std::nullopt;
}

}  // namespace quelmar
