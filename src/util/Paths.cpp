#include "util/Paths.h"

#include <cwchar>
#include <filesystem>
#include <system_error>
#include <utility>

#include "util/Errors.h"

#if defined(_WIN32)
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace quelmar {

namespace fs = std::filesystem;

bool IsPathSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

std::string ExecutableFolder() {
#if defined(_WIN32)
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  const std::string path = Utf8Of(fs::path(buffer));
#else
  std::error_code ec;
  const std::string path = fs::read_symlink("/proc/self/exe", ec).string();
  if (ec) return std::string();
#endif
  return SplitPath(path).folder;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(FsPath(path), ec);
}

std::optional<int64_t> FileSize(const std::string& path) {
  std::error_code ec;
  const auto p = FsPath(path);
  if (!fs::is_regular_file(p, ec)) return std::nullopt;
  const auto size = fs::file_size(p, ec);
  if (ec) return std::nullopt;
  return static_cast<int64_t>(size);
}

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  size_t cut = path.size();
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  parts.folder = std::string(path.substr(0, cut));
  parts.name = std::string(path.substr(cut));
  const size_t dot = parts.name.rfind('.');
  if (dot != std::string::npos) parts.extension = parts.name.substr(dot);
  return parts;
}

std::string FileNameOf(std::string_view path) {
  return SplitPath(path).name;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::absolute(FsPath(path), ec);
  if (ec) return path;
  return Utf8Of(p);
}

fs::path FsPath(const std::string& utf8) {
  try {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
  } catch (const std::system_error&) {
    // Windows names are UTF-16: bytes that are no UTF-8 text name no file there.
    throw FileError("The file name \"" + utf8 + "\" is not valid UTF-8 text");
  }
}

std::string Utf8Of(const fs::path& path) {
  try {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
  } catch (const std::system_error&) {
    // A Windows name with an unpaired UTF-16 surrogate: shown with '?' in its place.
    std::string text;
    for (const auto c : path.native())
      text.push_back(static_cast<unsigned>(c) < 0x80u ? static_cast<char>(c) : '?');
    return text;
  }
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
#if defined(_WIN32)
  int count = 0;
  if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) {
      const int length = static_cast<int>(std::wcslen(wide[i]));
      const int bytes =
          WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
      std::string arg(static_cast<size_t>(bytes), '\0');
      WideCharToMultiByte(CP_UTF8, 0, wide[i], length, arg.data(), bytes, nullptr, nullptr);
      args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
  }
#endif
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace quelmar
