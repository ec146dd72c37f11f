#include "util/WinOps.h"

#include <algorithm>
#include <vector>

#include "util/Numbers.h"

namespace quelmar {

std::string IntToStrWidth(int32_t value, int width) {
  std::string digits = std::to_string(value);
  const size_t w = static_cast<size_t>(std::clamp(width, 0, 255));
  if (digits.size() < w) digits.insert(0, w - digits.size(), ' ');
  return digits;
}

namespace {
bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string TrimBlanks(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlankOrTab(text[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && IsBlankOrTab(text[begin])) ++begin;
  return std::string(text.substr(begin, end - begin));
}

std::string SubstringFromTo(std::string_view text, int64_t first, int64_t last) {
  int64_t count = last - first + 1;
  if (count <= 0) return {};
  if (first < 1) first = 1;
  const auto size = static_cast<int64_t>(text.size());
  if (first > size) return {};
  count = std::min(count, size - first + 1);
  return std::string(text.substr(static_cast<size_t>(first - 1), static_cast<size_t>(count)));
}

void RemoveSpaces(std::string& text) { std::erase(text, ' '); }

void SplitAtDelimiter(std::string& text, std::string_view delimiter, std::string& before) {
  text = TrimBlanks(text);
  const size_t p = delimiter.empty() ? std::string::npos : text.find(delimiter);
  if (p == std::string::npos) {
    before = text;
    text.clear();
    return;
  }
  before = text.substr(0, p);
  text.erase(0, p + delimiter.size());
}

std::string ReplaceAllSubstrings(std::string_view text, std::string_view find,
                                 std::string_view replacement) {
  if (find.empty() || text.empty()) return std::string(text);
  std::string out;
  size_t from = 0;
  for (size_t p = text.find(find); p != std::string_view::npos; p = text.find(find, from)) {
    out.append(text.substr(from, p - from));
    out.append(replacement);
    from = p + find.size();
  }
  out.append(text.substr(from));
  return out;
}

std::string CsvQuoted(std::string_view text) {
  std::string out = ReplaceAllSubstrings(text, "\"", "\"\"");
  if (out.find_first_of(",\"") != std::string::npos) out = "\"" + out + "\"";
  return out;
}

int32_t StringToInteger(std::string_view text, UserPort& port) {
  std::string s(text);
  RemoveSpaces(s);
  const Int32Parse parsed = ParseInt32(s);
  if (parsed.ok()) return parsed.value;
  ReportSeriousError("Unable to convert string \"" + s + "\" to integer, ErrorCode = " +
                         IntToStrWidth(parsed.errorPosition, 0),
                     "Win_Ops", port);
  return 0;
}

void ReportSeriousError(std::string_view message, std::string_view unitName, UserPort& port) {
  std::string text = "Program has encountered a serious error";
  if (!unitName.empty()) {
    text += " in Unit ";
    text += unitName;
  }
  text += "\r";
  text += message;
  port.ShowSeriousError(text);
}

}  // namespace quelmar
