#include <optional>

#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar {

std::string LastLocatedFolder;

bool LocateFile(std::string_view description, const std::string& path, std::string& found,
                UserPort& port) {
  if (FileExists(path)) {
    found = path;
    return true;
  }
  const PathParts parts = SplitPath(path);
  const std::string folder = parts.folder.empty() ? "./" : parts.folder;
  if (!LastLocatedFolder.empty() && FileExists(LastLocatedFolder + parts.name)) {
    found = LastLocatedFolder + parts.name;
    return true;
  }

  FileDialogRequest request;
  request.title = std::string(description) + " needed: " + parts.name;
  request.filter = "*" + parts.extension + "|*" + parts.extension + "|All Files|*.*";
  request.initialFolder = folder;
  request.fileName = parts.name;
  const std::optional<std::string> choice = port.ChooseOpenFile(request);
  if (choice && FileExists(*choice)) {
    found = *choice;
    const std::string chosenFolder = SplitPath(*choice).folder;
    LastLocatedFolder = chosenFolder.empty() ? "./" : chosenFolder;
    return true;
  }
  found = path;
  return false;
}

}  // namespace quelmar
