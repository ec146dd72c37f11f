#pragma once
// Where the program keeps its own files: the settings ("Quelmar.ini"), the cumulative index
// ("CUMINDEX.TAB") and the photo calibration file. Beside the executable first, so a portable
// copy keeps everything in its folder; when that folder cannot take new files (an installed
// program), or a file is only in the user's folders, the user's folders are used:
// $XDG_CONFIG_HOME/quelmar/ for the settings, $XDG_DATA_HOME/quelmar/ for the index and the
// calibration file (%APPDATA%\Quelmar\ for both on Windows).
#include <functional>
#include <string>

namespace quelmar {

enum class FileRole {
  Settings,  // read by the program, written by the user: the user's configuration folder
  Data,      // index and calibration file: the user's data folder
};

struct FilePlaces {
  std::string programFolder;  // the executable's folder, with its trailing separator
  std::string configFolder;   // the user's settings folder for the program; empty when unknown
  std::string dataFolder;     // the user's data folder for the program; empty when unknown
  // Whether new files may be created in the program's folder (tests put their own here).
  std::function<bool(const std::string& folder)> programFolderTakesFiles;
};

// The places of the running program, from the environment.
FilePlaces CurrentFilePlaces();

// True when the folder accepts new files and is not part of an installation (a "bin" folder
// with "share/quelmar/" beside it is never written into, even by an administrator).
bool FolderTakesNewFiles(const std::string& folder);

// The path of the program's file `name` with the given role: the one beside the executable when
// it exists there, else the one in the user's folder when it exists there, else where a new
// file goes (beside the executable when that folder takes new files, else in the user's
// folder, which is then created). Never throws: a user folder that cannot be created is left
// for the file's reader or writer to report.
std::string ProgramFilePath(const FilePlaces& places, FileRole role, const std::string& name);
// The same for the running program.
std::string ProgramFilePath(FileRole role, const std::string& name);

}  // namespace quelmar
