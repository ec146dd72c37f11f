#include "app/WindowCommandLine.h"

namespace quelmar {

namespace {

constexpr const char* kHelp = R"(Usage: quelmar [FILE.IMG]

Shows and stacks images of the Wide Angle Camera of the Lunar Reconnaissance Orbiter: loads an
EDR product (a PDS IMG file), shows its raw framelets, stacks one band's strips into a picture
(optionally removing the camera's radial distortion), looks the product up in the archive's
cumulative index (CUMINDEX.TAB), saves the picture as a 24-bit BMP and appends photo
calibration records for a companion program.

Options
  FILE.IMG      load this product once the window is open, as the Load button does
  -h, --help    this help
  --version     print the version

Files
  Quelmar.ini, CUMINDEX.TAB and WAC_Images_DYRA_CalibrationData.txt are looked for beside the
  program first, then in the user's folders: $XDG_CONFIG_HOME/quelmar/ (~/.config/quelmar/)
  for Quelmar.ini, $XDG_DATA_HOME/quelmar/ (~/.local/share/quelmar/) for the index and the
  calibration file; on Windows %APPDATA%\Quelmar\ for all three. A new calibration file is
  created beside the program when its folder can take it, else in the user's data folder
  (created when missing); the message area names the file used. An example Quelmar.ini comes
  with the installed program in share/quelmar/.

The batch tool quelmar-cli does the window's work for many products at once.
)";

// Options of the toolkit that take a value (see QApplication and QGuiApplication).
bool ToolkitOptionWithValue(const std::string& arg) {
  for (const char* name :
       {"-style", "-stylesheet", "-platform", "-platformpluginpath", "-platformtheme", "-plugin",
        "-qmljsdebugger", "-display", "-geometry", "-title", "-session", "-name"}) {
    if (arg == name || arg == std::string("-") + name) return true;
  }
  return false;
}

}  // namespace

std::string WindowHelp() {
  return kHelp;
}

WindowArguments ParseWindowArguments(const std::vector<std::string>& args) {
  WindowArguments result;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      result.exitStatus = 0;
      result.text = kHelp;
      return result;
    }
    if (arg == "--version") {
      result.exitStatus = 0;
      result.text = "quelmar (Quelmar v" QUELMAR_VERSION ")\n";
      return result;
    }
    if (ToolkitOptionWithValue(arg)) {
      ++i;
    } else if (arg.empty() || arg.front() != '-') {
      if (!result.product.empty()) {
        result.exitStatus = 2;
        result.text = "quelmar: one product at a time, not \"" + arg +
                      "\" as well\n(quelmar --help shows the usage)\n";
        return result;
      }
      result.product = arg;
    } else if (arg.rfind("--", 0) == 0) {
      result.exitStatus = 2;
      result.text = "quelmar: unknown option \"" + arg + "\"\n(quelmar --help shows the usage)\n";
      return result;
    }
    // Any other single-dash option belongs to the toolkit.
  }
  return result;
}

}  // namespace quelmar
