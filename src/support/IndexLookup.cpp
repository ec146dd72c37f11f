#include "support/IndexLookup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar {

namespace {

constexpr int64_t kMsPerDay = 86400000;

bool IsLeapYear(int32_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int32_t DaysInMonth(int32_t y, int32_t m) {
  static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeapYear(y)) ? 29 : kDays[m - 1];
}

// Days from 0001-01-01 to the given date of the proleptic Gregorian calendar (shifted so that the
// year starts in March, which puts the leap day at the end of the year).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = y / 400;  // y >= 0 here
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  // 0000-03-01 is day 0 of this count; 0001-01-01 is 306 days later.
  return era * 146097 + doe - 306;
}

void CivilFromDays(int64_t days, int32_t& year, int32_t& month, int32_t& day) {
  const int64_t z = days + 306;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int32_t>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  month = static_cast<int32_t>(m);
  day = static_cast<int32_t>(d);
}

constexpr int64_t kFirstDay = 0;                           // 0001-01-01
constexpr int64_t kLastDay = DaysFromCivil(9999, 12, 31);  // 9999-12-31

struct TimeField {
  int first, last;
  const char* name;
};

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Every field lies within the first kRecordHead characters of a line.
constexpr size_t kRecordHead = 1024;

SupportDataInfo CutFields(std::string_view line) {
  SupportDataInfo info;
  for (const IndexFieldPlace& f : kIndexFields) {
    info.*(f.field) = SubstringFromTo(line, f.position, f.position + f.length - 1);
  }
  info.Available = true;
  return info;
}

}  // namespace

IndexTime ParseIndexTime(std::string_view text) {
  static constexpr TimeField kPlaces[7] = {
      {2, 5, "year"},     {7, 8, "month"},    {10, 11, "day"},        {13, 14, "hour"},
      {16, 17, "minute"}, {19, 20, "second"}, {22, 24, "millisecond"}};
  int32_t v[7];
  for (int i = 0; i < 7; ++i) {
    const std::string field = SubstringFromTo(text, kPlaces[i].first, kPlaces[i].last);
    const Int32Parse parsed = ParseInt32(field);
    if (!parsed.ok()) {
      throw ConversionError("Cannot convert the index time \"" + std::string(text) + "\": its " +
                            kPlaces[i].name + " \"" + field + "\" is not an integer");
    }
    v[i] = parsed.value;
  }
  const auto [year, month, day, hour, minute, second, ms] = v;
  const bool dateOk = year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
                      day <= DaysInMonth(year, month);
  if (!dateOk) {
    throw ConversionError("Cannot convert the index time \"" + std::string(text) +
                          "\": there is no date " + FormatInt(year) + "-" + FormatInt(month) + "-" +
                          FormatInt(day));
  }
  const bool timeOk = hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 &&
                      second <= 59 && ms >= 0 && ms <= 999;
  if (!timeOk) {
    throw ConversionError("Cannot convert the index time \"" + std::string(text) +
                          "\": there is no time " + FormatInt(hour) + ":" + FormatInt(minute) +
                          ":" + FormatInt(second) + "." + FormatInt(ms));
  }
  const int64_t days = DaysFromCivil(year, month, day);
  return days * kMsPerDay + ((int64_t{hour} * 60 + minute) * 60 + second) * 1000 + ms;
}

CalendarTime ToCalendarTime(IndexTime time) {
  if (time < kFirstDay * kMsPerDay || time >= (kLastDay + 1) * kMsPerDay) {
    throw ConversionError("A point in time lies outside the years 1 to 9999");
  }
  CalendarTime out{};
  CivilFromDays(time / kMsPerDay, out.year, out.month, out.day);
  int64_t rest = time % kMsPerDay;
  out.millisecond = static_cast<int32_t>(rest % 1000);
  rest /= 1000;
  out.second = static_cast<int32_t>(rest % 60);
  rest /= 60;
  out.minute = static_cast<int32_t>(rest % 60);
  out.hour = static_cast<int32_t>(rest / 60);
  return out;
}

std::ifstream OpenIndexFile(const std::string& indexPath) {
  namespace fs = std::filesystem;
  const fs::path path = FsPath(indexPath);
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    throw FileError("Cannot read the index file \"" + indexPath + "\": it is a folder");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int error = errno;
    throw FileError("Cannot open the index file \"" + indexPath + "\": " + ErrnoText(error));
  }
  return in;
}

std::optional<SupportDataInfo> FindIndexRecord(const std::string& indexPath,
                                               std::string_view productId) {
  std::ifstream in = OpenIndexFile(indexPath);
  // An empty identifier's first occurrence is always at position 1: no line can match.
  if (productId.empty()) return std::nullopt;
  if (productId.find('\n') != std::string_view::npos) return std::nullopt;  // no line holds it

  // The file is read in blocks, so that a file without line ends (a wrong file picked by
  // mistake) is never held whole; a line that goes on past a block's end is taken in pieces.
  // Per line: `head` keeps its first
  // characters (all the fields lie there), `window` the part still to be searched for the
  // identifier, `found` whether it occurs anywhere in the line. A line matches when the
  // identifier occurs in it but the line does not begin with it (the first occurrence then
  // starts at position 2 or later).
  const size_t headMax = std::max(kRecordHead, productId.size());
  std::string head, window;
  bool found = false;
  auto addPiece = [&](const char* p, size_t n) {
    if (head.size() < headMax) head.append(p, std::min(n, headMax - head.size()));
    if (found) return;
    window.append(p, n);
    if (window.find(productId) != std::string::npos) {
      found = true;
      window.clear();
    } else if (window.size() >= productId.size()) {
      window.erase(0, window.size() - (productId.size() - 1));
    }
  };
  auto lineMatches = [&]() {
    if (!head.empty() && head.back() == '\r' && head.size() < headMax) head.pop_back();
    return found && head.compare(0, productId.size(), productId) != 0;
  };

  auto endLine = [&]() {
    head.clear();
    window.clear();
    found = false;
  };
  // Blocks of 1 MiB keep the number of reads small; a small file gets a block just past its
  // size, so that one read finds its end.
  std::error_code ec;
  const uintmax_t fileSize = std::filesystem::file_size(FsPath(indexPath), ec);
  const size_t blockSize =
      ec ? size_t{1} << 20
         : static_cast<size_t>(std::clamp<uintmax_t>(fileSize + 1, 4096, uintmax_t{1} << 20));
  std::vector<char> block(blockSize);
  bool lineOpen = false;
  for (;;) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (in.bad()) {
      const int error = errno;
      throw FileError("Cannot read the index file \"" + indexPath + "\": " + ErrnoText(error));
    }
    const char* p = block.data();
    const char* const end = p + got;
    if (lineOpen && p < end) {
      // The rest of the line the previous block left open.
      const char* lf = static_cast<const char*>(std::memchr(p, '\n', got));
      if (!lf) {
        addPiece(p, got);
        p = end;
      } else {
        addPiece(p, static_cast<size_t>(lf - p));
        if (lineMatches()) return CutFields(head);
        endLine();
        lineOpen = false;
        p = lf + 1;
      }
    }
    // Whole lines are not copied or split: the identifier is searched for in the block itself,
    // and only the line it occurs in is looked at.
    while (p < end) {
      const size_t at = std::string_view(p, static_cast<size_t>(end - p)).find(productId);
      const char* hit = at == std::string_view::npos ? end : p + at;
      if (hit == end) {
        // No occurrence starts in the block's whole lines; its last line may go on in the next
        // block, and the identifier with it.
        const char* tail = end;
        while (tail > p && tail[-1] != '\n') --tail;
        if (tail < end) {
          addPiece(tail, static_cast<size_t>(end - tail));
          lineOpen = true;
        }
        break;
      }
      const char* lineStart = hit;
      while (lineStart > p && lineStart[-1] != '\n') --lineStart;
      const char* lf =
          static_cast<const char*>(std::memchr(hit, '\n', static_cast<size_t>(end - hit)));
      if (!lf) {
        addPiece(lineStart, static_cast<size_t>(end - lineStart));
        lineOpen = true;
        break;
      }
      head.assign(lineStart, std::min(static_cast<size_t>(lf - lineStart), headMax));
      found = true;
      if (lineMatches()) return CutFields(head);
      endLine();
      p = lf + 1;
    }
    if (got < block.size()) break;  // end of file
  }
  if (lineOpen && lineMatches()) return CutFields(head);
  return std::nullopt;
}

bool FindIndexFile(std::string& indexFilePath, UserPort& port) {
  if (FileExists(indexFilePath)) return true;
  FileDialogRequest request;
  request.title = "LROC Cumulative Image Index";
  request.filter = "TAB|*.TAB";
  request.initialFolder = SplitPath(indexFilePath).folder;
  request.fileName = indexFilePath;
  const std::optional<std::string> choice = port.ChooseOpenFile(request);
  if (!choice) return false;
  indexFilePath = *choice;
  return true;
}

void SupportCommand(const std::string& productId, std::string& indexFilePath,
                    SupportDataInfo& supportData, UserPort& port) {
  if (productId.empty() || !FindIndexFile(indexFilePath, port)) {
    port.AppendLine("Index file not found");
    return;
  }
  BusyCursor busy(port);
  const std::optional<SupportDataInfo> record = FindIndexRecord(indexFilePath, productId);
  if (record) {
    supportData = *record;
    const SupportDataInfo& s = supportData;
    port.AppendLine("Start :" + s.StartTime + "   End :" + s.EndTime);
    port.AppendLine("Spacecraft       Lon: " + s.SpacecraftLon + "  Lat: " + s.SpacecraftLat +
                    "   Alt:" + s.SpacecraftAlt);
    port.AppendLine("Principal point  Lon: " + s.PrincipalPointLon +
                    "  Lat: " + s.PrincipalPointLat);
    port.AppendLine("Upper left  Lon: " + s.UpperLeftLon + "  Lat: " + s.UpperLeftLat +
                    "  Upper right  Lon: " + s.UpperRightLon + "  Lat: " + s.UpperRightLat);
    port.AppendLine("Lower left  Lon: " + s.LowerLeftLon + "  Lat: " + s.LowerLeftLat +
                    "  Lower right  Lon: " + s.LowerRightLon + "  Lat: " + s.LowerRightLat);
    port.AppendLine("Orientation codes : " + s.OrientationCode1 + "  " + s.OrientationCode2);
  } else {
    port.AppendLine(productId + " not found in Index file");
  }
  port.AppendLine("");
}

}  // namespace quelmar
