#pragma once
// The batch tool's command line: the command, its options with their values checked as the
// window's entry fields check them, and the help texts.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cli/ColourOptions.h"
#include "output/PictureFile.h"
#include "util/Numbers.h"

namespace quelmar::cli {

// What --version prints.
inline constexpr const char* kVersionLine = "quelmar-cli (Quelmar v" QUELMAR_VERSION ")";

enum class Command { Report, Header, Raw, Stack, Support, Travel, Colour };

struct CliOptions {
  Command command = Command::Report;
  std::vector<std::string> inputs;  // as given

  bool invert = false;
  std::optional<int32_t> band;  // nothing: the window's default after a Load
  bool allBands = false;
  std::optional<Real> verticalTravel;  // nothing: the window's default after a Load
  Real horizontalTravel = 0;
  // Travels measured from the product ("auto"), and a stack by the measured per-pair profile.
  bool verticalAuto = false;
  bool horizontalAuto = false;
  bool travelProfile = false;
  bool tsv = false;  // travel: tab-separated columns under a header line
  bool correct = false;
  bool correctVertically = false;
  int32_t shift = 0;

  std::string settingsPath;  // absolute; by default "Quelmar.ini" where the program keeps it
  std::string indexPath;     // absolute; by default "CUMINDEX.TAB" where the program keeps it
  std::string calFile;       // absolute; empty: no calibration records

  std::string output;     // -o: absolute path of the one bitmap; empty when not given
  std::string outputDir;  // absolute folder of the bitmaps (the current folder by default)
  bool overwrite = false;
  // --format; nothing: PNG when -o names a ".png" file, the bitmap otherwise.
  std::optional<PictureFormat> format;

  int32_t jobs = 1;

  ColourOptions colour;  // the colour command's own options
};

// A command line that cannot be run: exit status 2. `command` names the command whose help
// tells more (empty for the general help).
class UsageError : public std::runtime_error {
 public:
  UsageError(const std::string& message, std::string command)
      : std::runtime_error(message), command_(std::move(command)) {}
  const std::string& CommandName() const { return command_; }

 private:
  std::string command_;
};

// Either options to run, or a text to print on stdout with exit status 0 (--help, --version).
struct ParsedCommandLine {
  std::optional<CliOptions> options;
  std::string text;
};

// Parses the arguments after the program's name; UsageError when they cannot be run.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string GeneralHelp();
// The help of one command ("report", "header", "raw", "stack", "support", "travel",
// "colour"); GeneralHelp otherwise.
std::string CommandHelp(const std::string& command);
std::string CommandName(Command command);

}  // namespace quelmar::cli
