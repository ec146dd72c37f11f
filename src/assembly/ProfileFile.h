#pragma once
// A reader of settings files in the profile (INI) form: "[section]" lines followed by
// "key=value" lines. Section and key names are compared without regard to letter case.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

class ProfileFile {
 public:
  // Reads the file at `path` in one go and releases it. A missing or unreadable file reads as an
  // empty profile (every key missing): settings files are optional.
  static ProfileFile Read(const std::string& path);
  // The profile held in a text (lines end in LF or CR LF).
  static ProfileFile Parse(std::string_view text);

  // The value of `key` in `section`, or nothing when the section or the key is missing. Blanks
  // and tabs around keys and values are dropped, one pair of matching quotes around a value is
  // removed, lines starting with ';' are comments, and the first occurrence of a key wins.
  // Values are cut to 2047 characters, as a 2048-byte result buffer would hold them.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // The value, or `fallback` when the section or the key is missing.
  std::string String(std::string_view section, std::string_view key,
                     std::string_view fallback) const;

 private:
  struct Entry {
    std::string section;
    std::string key;
    std::string value;
  };
  std::vector<Entry> entries_;
};

}  // namespace quelmar
