#include "util/FilePlaces.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "util/Paths.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quelmar {

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
constexpr const char* kUserFolderName = "Quelmar";
constexpr char kSeparator = '\\';
#else
constexpr const char* kUserFolderName = "quelmar";
constexpr char kSeparator = '/';
#endif

std::string Environment(const char* name) {
#if defined(_WIN32)
  std::wstring wide(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide.c_str());
  return value == nullptr ? std::string() : Utf8Of(fs::path(value));
#else
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
#endif
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && !IsPathSeparator(folder.back())) folder += kSeparator;
  return folder;
}

// The user's base folder from the variable, or `fallback` under the home folder when the
// variable is unset or not absolute (as the XDG base directories ask); empty when neither.
std::string UserBase([[maybe_unused]] const char* variable, [[maybe_unused]] const char* fallback) {
#if defined(_WIN32)
  const std::string appData = Environment("APPDATA");
  return FsPath(appData).is_absolute() ? appData : std::string();
#else
  const std::string value = Environment(variable);
  if (!value.empty() && value.front() == '/') return value;
  const std::string home = Environment("HOME");
  if (home.empty() || home.front() != '/') return std::string();
  return WithSeparator(home) + fallback;
#endif
}

std::string UserFolder(const char* variable, const char* fallback) {
  const std::string base = UserBase(variable, fallback);
  return base.empty() ? std::string() : WithSeparator(WithSeparator(base) + kUserFolderName);
}

bool IsInstalledProgramFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path bin = FsPath(folder).lexically_normal();
  const fs::path parent = (bin.has_filename() ? bin : bin.parent_path()).parent_path();
  return fs::is_directory(parent / "share" / "quelmar", ec);
}

}  // namespace

FilePlaces CurrentFilePlaces() {
  FilePlaces places;
  places.programFolder = ExecutableFolder();
  places.configFolder = UserFolder("XDG_CONFIG_HOME", ".config");
  places.dataFolder = UserFolder("XDG_DATA_HOME", ".local/share");
  places.programFolderTakesFiles = FolderTakesNewFiles;
  return places;
}

bool FolderTakesNewFiles(const std::string& folder) {
  if (folder.empty() || IsInstalledProgramFolder(folder)) return false;
#if defined(_WIN32)
  // The folder's attributes do not tell: try to create (and remove) a file there.
  const fs::path probe = FsPath(folder) / ".quelmar-write-probe";
  const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
#else
  return access(FsPath(folder).c_str(), W_OK | X_OK) == 0;
#endif
}

std::string ProgramFilePath(const FilePlaces& places, FileRole role, const std::string& name) {
  const std::string besideProgram = places.programFolder + name;
  if (FileExists(besideProgram)) return besideProgram;
  const std::string& userFolder =
      role == FileRole::Settings ? places.configFolder : places.dataFolder;
  if (!userFolder.empty() && FileExists(userFolder + name)) return userFolder + name;
  const bool programFolderTakesFiles = places.programFolderTakesFiles
                                           ? places.programFolderTakesFiles(places.programFolder)
                                           : FolderTakesNewFiles(places.programFolder);
  if (programFolderTakesFiles || userFolder.empty()) return besideProgram;
  std::error_code ec;
  fs::create_directories(FsPath(userFolder), ec);
  return userFolder + name;
}

std::string ProgramFilePath(FileRole role, const std::string& name) {
  return ProgramFilePath(CurrentFilePlaces(), role, name);
}

}  // namespace quelmar
