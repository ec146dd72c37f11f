#include "cli/FindCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>

#include "cli/BatchPort.h"
#include "cli/CliOptions.h"
#include "util/FilePlaces.h"
#include "util/Numbers.h"
#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar::cli {

namespace {

constexpr const char* kCommand = "find";

constexpr const char* kHelp =
    R"(Usage: quelmar-cli find --lat X --lon Y [--incidence MIN:MAX] [--emission-max E]
                        [--kind CE,VE] [--from DATE] [--to DATE] [--near-incidence I]
                        [--limit N] [--index CUMINDEX.TAB] [--tsv]

Reads the cumulative index once and lists every product whose footprint (the quadrilateral of
its four corners, edges along great circles) holds the point, with the light there: the solar
incidence angle (from the sub-solar point), the emission angle (from the spacecraft's position
and altitude over a sphere of 1737.4 km) and the ground pixel size seen straight down from the
spacecraft's altitude.

Options
  --lat X               planetocentric latitude of the point, -90 to 90 degrees
  --lon Y               east longitude of the point, -180 to 180 or 0 to 360 degrees
  --incidence MIN:MAX   only incidence angles in this range, in degrees (either end may be left
                        out: 60: or :75)
  --emission-max E      only emission angles up to E degrees
  --kind CE,VE          only these product kinds (ME, UE, VE, CE; default: all)
  --from DATE           only observations starting at or after DATE (2010-03-07, or
                        2010-03-07T10:00:00 with optional .mmm)
  --to DATE             only observations starting at or before DATE (a bare date: to its end)
  --near-incidence I    sort by closeness of the incidence angle to I (default: by start time)
  --limit N             list only the first N products after sorting (default: all)
  --index CUMINDEX.TAB  the index (default: CUMINDEX.TAB beside the program, else in the
                        user's data folder, as "quelmar-cli --help" says under Files)
  --tsv                 tab-separated columns under a header line, instead of the table
  -h, --help            this help

Output
  stdout carries the products found. stderr carries the count of index lines read and of
  those skipped because they are too short or a field needed does not read (such lines are
  never fatal).

Exit status
  0  at least one product found
  1  none found, or the index cannot be read
  2  usage error: unknown option, missing value, a number that does not parse or is out of
     range (a latitude beyond +-90...), an inverted range
)";

constexpr std::string_view kValueOptions[] = {
    "--lat",  "--lon", "--incidence",      "--emission-max", "--kind",
    "--from", "--to",  "--near-incidence", "--limit",        "--index"};

Real RealValue(const std::string& option, const std::string& text) {
  std::string t = TrimBlanks(text);
  std::replace(t.begin(), t.end(), ',', '.');
  const RealParse parsed = ParseReal(t);
  if (t.empty() || !parsed.ok()) {
    throw UsageError(option + ": \"" + text + "\" is not a valid number", kCommand);
  }
  if (!std::isfinite(parsed.value)) {
    throw UsageError(option + ": \"" + text + "\" is too large", kCommand);
  }
  return parsed.value;
}

Real AngleValue(const std::string& option, const std::string& text) {
  const Real v = RealValue(option, text);
  if (v < 0 || v > 180) {
    throw UsageError(option + ": \"" + text + "\" is out of range; angles lie between 0 and 180",
                     kCommand);
  }
  return v;
}

uint32_t KindsValue(const std::string& text) {
  uint32_t kinds = 0;
  std::string rest = text + ",";
  size_t from = 0;
  for (size_t comma = rest.find(','); comma != std::string::npos;
       from = comma + 1, comma = rest.find(',', from)) {
    std::string kind = TrimBlanks(std::string_view(rest).substr(from, comma - from));
    for (char& c : kind) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (kind == "ME") {
      kinds |= kKindME;
    } else if (kind == "UE") {
      kinds |= kKindUE;
    } else if (kind == "VE") {
      kinds |= kKindVE;
    } else if (kind == "CE") {
      kinds |= kKindCE;
    } else {
      throw UsageError("--kind: \"" + kind + "\" is not a product kind (ME, UE, VE, CE)", kCommand);
    }
  }
  return kinds;
}

IndexTime DateValue(const std::string& option, const std::string& text, bool endOfDay) {
  const std::optional<IndexTime> t = ParseSearchDate(TrimBlanks(text), endOfDay);
  if (!t) {
    throw UsageError(option + ": \"" + text +
                         "\" is not a date (2010-03-07) or a date and time (2010-03-07T10:00:00)",
                     kCommand);
  }
  return *t;
}

std::string Padded(std::string text, size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string pad(width - text.size(), ' ');
  return right ? pad + text : text + pad;
}

}  // namespace

std::string FindHelp() {
  return kHelp;
}

FindOptions ParseFindArguments(const std::vector<std::string>& args) {
  FindOptions o;
  std::optional<Real> lat, lon;
  std::string index;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool hasValue = false;
    const size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      return o;
    }
    if (name == "--tsv") {
      if (hasValue) throw UsageError("--tsv takes no value", kCommand);
      o.tsv = true;
      continue;
    }
    if (std::find(std::begin(kValueOptions), std::end(kValueOptions), name) ==
        std::end(kValueOptions)) {
      throw UsageError(name.rfind("-", 0) == 0 ? "unknown option \"" + name + "\""
                                               : "unexpected argument \"" + name + "\"",
                       kCommand);
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value", kCommand);
      value = args[++i];
    }
    SearchRequest& r = o.request;
    if (name == "--lat") {
      lat = RealValue(name, value);
      if (*lat < -90 || *lat > 90) {
        throw UsageError(
            "--lat: \"" + value + "\" is out of range; latitudes lie between -90 and 90", kCommand);
      }
    } else if (name == "--lon") {
      lon = RealValue(name, value);
      if (*lon < -180 || *lon > 360) {
        throw UsageError(
            "--lon: \"" + value + "\" is out of range; longitudes lie between -180 and 360",
            kCommand);
      }
    } else if (name == "--incidence") {
      const size_t colon = value.find(':');
      if (colon == std::string::npos) {
        throw UsageError("--incidence: \"" + value + "\" is not a range MIN:MAX", kCommand);
      }
      const std::string low = TrimBlanks(value.substr(0, colon));
      const std::string high = TrimBlanks(value.substr(colon + 1));
      r.incidenceMin.reset();
      r.incidenceMax.reset();
      if (!low.empty()) r.incidenceMin = AngleValue(name, low);
      if (!high.empty()) r.incidenceMax = AngleValue(name, high);
      if (r.incidenceMin && r.incidenceMax && *r.incidenceMin > *r.incidenceMax) {
        throw UsageError("--incidence: \"" + value + "\" is inverted; MIN must not exceed MAX",
                         kCommand);
      }
    } else if (name == "--emission-max") {
      r.emissionMax = AngleValue(name, value);
    } else if (name == "--kind") {
      r.kinds = KindsValue(value);
    } else if (name == "--from") {
      r.from = DateValue(name, value, false);
    } else if (name == "--to") {
      r.to = DateValue(name, value, true);
    } else if (name == "--near-incidence") {
      r.nearIncidence = AngleValue(name, value);
    } else if (name == "--limit") {
      const Int32Parse parsed = ParseInt32(TrimBlanks(value));
      if (!parsed.ok() || parsed.value < 1) {
        throw UsageError("--limit: \"" + value + "\" is not a whole number of 1 or more", kCommand);
      }
      r.limit = parsed.value;
    } else if (name == "--index") {
      if (value.empty()) throw UsageError("--index: the path is empty", kCommand);
      index = value;
    }
  }
  if (!lat || !lon) throw UsageError("both --lat and --lon are needed", kCommand);
  o.request.point = {*lat, *lon};
  if (o.request.from && o.request.to && *o.request.from > *o.request.to) {
    throw UsageError("--from and --to: the time range is inverted", kCommand);
  }
  const std::string problem = SearchRequestProblem(o.request);
  if (!problem.empty()) throw UsageError(problem, kCommand);
  o.indexPath =
      index.empty() ? ProgramFilePath(FileRole::Data, "CUMINDEX.TAB") : AbsolutePath(index);
  return o;
}

std::string FindResultText(const SearchResult& result, bool tsv) {
  std::string out;
  if (tsv) {
    out = "product_id\tstart_time\tincidence_deg\temission_deg\tpixel_m\tfile\n";
    for (const SearchHit& h : result.hits) {
      out += h.productId + "\t" + h.startTime + "\t" + FormatFixed(h.incidence, 3) + "\t" +
             FormatFixed(h.emission, 3) + "\t" + FormatFixed(h.pixelSize, 2) + "\t" + h.fileName +
             "\n";
    }
    return out;
  }
  if (result.hits.empty()) return out;
  size_t idWidth = 10;
  for (const SearchHit& h : result.hits) idWidth = std::max(idWidth, h.productId.size());
  out = Padded("Product", idWidth, false) + "  " + Padded("Start time", 23, false) +
        "  Incidence  Emission  Pixel (m)  File\n";
  for (const SearchHit& h : result.hits) {
    out += Padded(h.productId, idWidth, false) + "  " + Padded(h.startTime, 23, false) + "  " +
           Padded(FormatFixed(h.incidence, 2), 9, true) + "  " +
           Padded(FormatFixed(h.emission, 2), 8, true) + "  " +
           Padded(FormatFixed(h.pixelSize, 1), 9, true) + "  " + h.fileName + "\n";
  }
  return out;
}

int RunFindCommand(const std::vector<std::string>& args) {
  const auto err = [](const std::string& text) {
    const std::string line = std::string(kToolName) + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  };
  FindOptions options;
  try {
    options = ParseFindArguments(args);
  } catch (const UsageError& e) {
    err(std::string(e.what()) + "\nTry \"quelmar-cli find --help\" for more information.");
    return 2;
  }
  if (options.help) {
    const std::string help = FindHelp();
    std::fwrite(help.data(), 1, help.size(), stdout);
    return 0;
  }
  SearchResult result;
  try {
    result = SearchIndex(options.indexPath, options.request);
  } catch (const std::exception& e) {
    err(e.what());
    return 1;
  }
  const std::string text = FindResultText(result, options.tsv);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::string counts = FormatInt(result.lines) + " index lines read, " +
                       FormatInt(result.skippedLines) + " skipped (too short or unreadable); " +
                       FormatInt(result.matches) +
                       (result.matches == 1 ? " product" : " products") + " found";
  if (static_cast<int64_t>(result.hits.size()) < result.matches) {
    counts += ", the first " + FormatInt(static_cast<int64_t>(result.hits.size())) + " listed";
  }
  err(counts);
  return result.hits.empty() ? 1 : 0;
}

}  // namespace quelmar::cli
