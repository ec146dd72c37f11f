#pragma once
// Paths and files as the program needs them: the executable's folder, existence tests and
// splitting a path into folder, name and extension.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

// The folder of the running executable, with its trailing separator.
std::string ExecutableFolder();
// True when a regular file (not a folder) exists at the path.
bool FileExists(const std::string& path);
// Size of the regular file at the path, or nothing.
std::optional<int64_t> FileSize(const std::string& path);

struct PathParts {
  std::string folder;     // with its trailing separator; empty when the path has none
  std::string name;       // file name with its extension
  std::string extension;  // from the last dot of the name, dot included; empty when none
};
PathParts SplitPath(std::string_view path);
// The path's file name without its folder.
std::string FileNameOf(std::string_view path);
// The absolute form of a path (relative paths against the current folder), not resolving links.
std::string AbsolutePath(const std::string& path);

bool IsPathSeparator(char c);

// A filesystem path from a UTF-8 text and back (the wide API on Windows).
std::filesystem::path FsPath(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);

// The program's arguments after its name, as UTF-8 texts. On Windows they are taken from the
// wide command line: main's argv there is in the ANSI code page, which cannot hold every name.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace quelmar
