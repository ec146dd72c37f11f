#pragma once
// The window program's command line: --help and --version answered without opening a window,
// and an EDR product to load at start (as a file manager or the menu entry gives it).
#include <optional>
#include <string>
#include <vector>

namespace quelmar {

// What `quelmar --help` prints (the manual page quelmar(1) is made from it).
std::string WindowHelp();

struct WindowArguments {
  std::optional<int> exitStatus;  // set: print `text` (to stdout when 0, else stderr) and end
  std::string text;
  std::string product;  // the product to load once the window is shown; empty: none
};

// The arguments after the program's name. Options the toolkit itself reads (-style, -platform
// ...) are left for it.
WindowArguments ParseWindowArguments(const std::vector<std::string>& args);

}  // namespace quelmar
