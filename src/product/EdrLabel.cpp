#include "product/EdrLabel.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "product/LoadedProduct.h"
#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar {

namespace fs = std::filesystem;

std::ifstream OpenProductFile(const std::string& path) {
  const fs::path p = FsPath(path);
  std::error_code ec;
  const fs::file_status status = fs::status(p, ec);
  if (path.empty() || status.type() == fs::file_type::not_found) {
    throw FileError("Cannot open \"" + path + "\": the file does not exist.");
  }
  if (status.type() == fs::file_type::directory) {
    throw FileError("Cannot open \"" + path + "\": it is a folder, not a file.");
  }
  errno = 0;
  std::ifstream in(p, std::ios::binary);
  if (!in) {
    const int error = errno;
    std::string reason = error != 0 ? std::generic_category().message(error)
                                    : std::string("the file cannot be opened for reading");
    throw FileError("Cannot open \"" + path + "\": " + reason + ".");
  }
  return in;
}

namespace {

// Buffered byte source for the label: the end of the file, or a byte 26, ends the text.
class LabelSource {
 public:
  LabelSource(std::ifstream& in, const std::string& path) : in_(in), path_(path) {}

  bool AtEnd() {
    if (pos_ == len_) Refill();
    return len_ == 0 || buffer_[pos_] == 26;
  }

  // The next line without its line feed and without any carriage return. `contentEnd` gets the
  // file offset just after the last byte kept in the line (the line's start when it is empty).
  std::string ReadLine(int64_t& contentEnd) {
    std::string line;
    contentEnd = offset_;
    while (!AtEnd()) {
      const char c = buffer_[pos_++];
      ++offset_;
      if (c == '\n') break;
      if (c == '\r') continue;
      line.push_back(c);
      contentEnd = offset_;
    }
    return line;
  }

 private:
  void Refill() {
    pos_ = 0;
    len_ = 0;
    if (in_.eof()) return;
    in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (in_.bad()) throw FileError("Cannot read the label of \"" + path_ + "\": read error.");
    len_ = static_cast<size_t>(in_.gcount());
  }

  std::ifstream& in_;
  const std::string& path_;
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
  size_t pos_ = 0;
  size_t len_ = 0;
  int64_t offset_ = 0;
};

// Leading and trailing characters of codes 0 to 32 removed, as the label lookup does.
std::string TrimControls(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

// Index of the first label line whose key is exactly `keyword`, by the rule of
// LabelKeywordValue; -1 when none.
int64_t KeywordLine(const std::vector<std::string>& lines, std::string_view keyword) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string rest = lines[i];
    std::string key;
    SplitAtDelimiter(rest, "=", key);
    if (TrimControls(key) == keyword) return static_cast<int64_t>(i);
  }
  return -1;
}

constexpr size_t kMaxBands = 7;

// How a one-line list with a unit after every item, "(321 <nm>, 360 <nm>)", has always been
// read: the first and last characters dropped, then cut at " <nm>, " and at " <nm>". The parts
// stay exactly as cut.
std::vector<std::string> ReadUnitPerItemList(const std::string& value) {
  std::string text = SubstringFromTo(value, 2, static_cast<int64_t>(value.size()) - 1);
  std::vector<std::string> items;
  std::string part;
  while (text.find(" <nm>, ") != std::string::npos && items.size() < kMaxBands) {
    SplitAtDelimiter(text, " <nm>, ", part);
    items.push_back(part);
  }
  while (text.find(" <nm>") != std::string::npos && items.size() < kMaxBands) {
    SplitAtDelimiter(text, " <nm>", part);
    items.push_back(part);
  }
  return items;
}

// One list item without any unit in angle brackets and without surrounding blanks.
std::string CleanItem(std::string_view item) {
  std::string out;
  bool inUnit = false;
  for (const char c : item) {
    if (c == '<') inUnit = true;
    if (!inUnit) out.push_back(c);
    if (c == '>') inUnit = false;
  }
  return TrimControls(out);
}

// The items of a parenthesised list (anything after the closing parenthesis, such as a unit for
// the whole list, is ignored) or of a single value, each without its unit; at most seven.
std::vector<std::string> ReadListItems(const std::string& value) {
  std::string_view list = value;
  if (!list.empty() && list.front() == '(') {
    list.remove_prefix(1);
    const size_t close = list.find(')');
    if (close != std::string_view::npos) list = list.substr(0, close);
  }
  std::vector<std::string> items;
  if (TrimControls(list).empty()) return items;
  size_t from = 0;
  while (items.size() < kMaxBands) {
    const size_t comma = list.find(',', from);
    items.push_back(
        CleanItem(list.substr(from, comma == std::string_view::npos ? list.npos : comma - from)));
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  // A trailing comma (or a list cut short) leaves no value after it.
  while (!items.empty() && items.back().empty()) items.pop_back();
  return items;
}

}  // namespace

LabelReadResult ReadLabelLines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in = OpenProductFile(path);
  LabelSource source(in, path);
  LabelReadResult result;
  std::string current;
  int64_t contentEnd = 0;
  while (current != "END" && !source.AtEnd()) {
    lines.push_back(source.ReadLine(contentEnd));
    current = UpperAscii(lines.back());
  }
  if (current == "END") {
    result.endFound = true;
    result.labelBytes = contentEnd;
  }
  return result;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

int32_t BandCountOfProductId(std::string_view productId, bool& recognised) {
  const int64_t length = static_cast<int64_t>(productId.size());
  const std::string ending = SubstringFromTo(productId, length - 1, length);
  recognised = true;
  if (ending == "ME") return 1;
  if (ending == "UE") return 2;
  if (ending == "VE") return 5;
  if (ending == "CE") return 7;
  recognised = false;
  return 1;
}

int32_t ReadBandWavelengths(const std::vector<std::string>& headerLines,
                            std::array<std::string, 7>& wavelengths) {
  const char* const keyword = "CENTER_FILTER_WAVELENGTH";
  const std::string value = LabelKeywordValue(headerLines, keyword);

  // A list whose closing parenthesis stands on a later line is read on to that line; a new
  // statement or the END line stops the search.
  std::string joined = value;
  bool continued = false;
  if (!value.empty() && value.front() == '(' && value.find(')') == std::string::npos) {
    const int64_t at = KeywordLine(headerLines, keyword);
    for (size_t i = static_cast<size_t>(at) + 1; at >= 0 && i < headerLines.size(); ++i) {
      const std::string& line = headerLines[i];
      const bool closes = line.find(')') != std::string::npos;
      if (!closes &&
          (line.find('=') != std::string::npos || UpperAscii(TrimBlanks(line)) == "END")) {
        break;
      }
      joined += " " + TrimControls(line);
      continued = true;
      if (closes) break;
    }
  }

  std::vector<std::string> items = ReadListItems(joined);
  // The one-line form with a unit after every item keeps the texts it has always given (they may
  // keep a blank the general reading drops); it is recognised by both readings agreeing.
  if (!continued) {
    const std::vector<std::string> literal = ReadUnitPerItemList(value);
    bool agree = literal.size() == items.size();
    for (size_t i = 0; agree && i < literal.size(); ++i)
      agree = TrimControls(literal[i]) == items[i];
    if (agree) items = literal;
  }

  const size_t n = items.size();
  for (size_t k = 0; k < wavelengths.size(); ++k) {
    wavelengths[k] = k < n ? items[k] : FormatInt(static_cast<int64_t>(k + 1));
  }
  return static_cast<int32_t>(n);
}

}  // namespace quelmar
