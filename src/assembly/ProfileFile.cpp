#include "assembly/ProfileFile.h"

#include <fstream>
#include <iterator>

#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar {

namespace {

constexpr size_t kMaxValueLength = 2047;

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string Unquoted(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

ProfileFile ProfileFile::Read(const std::string& path) {
  if (path.empty() || !FileExists(path)) return ProfileFile();
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) return ProfileFile();
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return ProfileFile();
  return Parse(text);
}

ProfileFile ProfileFile::Parse(std::string_view text) {
  ProfileFile profile;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
  bool inSection = false;
  std::string section;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const std::string line = TrimBlanks(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      section = TrimBlanks(std::string_view(line).substr(
          1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = true;
      continue;
    }
    const size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    std::string value = Unquoted(TrimBlanks(std::string_view(line).substr(eq + 1)));
    if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
    profile.entries_.push_back(
        {section, TrimBlanks(std::string_view(line).substr(0, eq)), std::move(value)});
  }
  return profile;
}

std::optional<std::string> ProfileFile::Value(std::string_view section,
                                              std::string_view key) const {
  for (const Entry& e : entries_) {
    if (SameNameIgnoringCase(e.section, section) && SameNameIgnoringCase(e.key, key)) {
      return e.value;
    }
  }
  return std::nullopt;
}

std::string ProfileFile::String(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  std::optional<std::string> v = Value(section, key);
  return v ? *v : std::string(fallback);
}

}  // namespace quelmar
