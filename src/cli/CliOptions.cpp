#include "cli/CliOptions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <thread>

#include "cli/ColourCommand.h"
#include "util/FilePlaces.h"
#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar::cli {

namespace {

// Which commands take an option: one bit per command.
constexpr unsigned Bit(Command c) {
  return 1u << static_cast<unsigned>(c);
}
constexpr unsigned kAll = 0x7F;
constexpr unsigned kPictures = Bit(Command::Raw) | Bit(Command::Stack) | Bit(Command::Colour);
constexpr unsigned kStack = Bit(Command::Stack);
// Options that decide a stack's geometry, which the travel is measured in.
constexpr unsigned kGeometry = kStack | Bit(Command::Travel);
constexpr unsigned kStackOrColour = kStack | Bit(Command::Colour);
constexpr unsigned kGeometryOrColour = kGeometry | Bit(Command::Colour);
constexpr unsigned kColour = Bit(Command::Colour);

struct OptionSpec {
  std::string_view name;
  bool takesValue;
  unsigned commands;
};

constexpr std::array<OptionSpec, 24> kOptions{{
    {"--help", false, kAll},
    {"--jobs", true, kAll},
    {"--invert", false, kPictures | Bit(Command::Travel)},
    {"--output", true, kPictures},
    {"--output-dir", true, kPictures},
    {"--overwrite", false, kPictures},
    {"--format", true, kPictures},
    {"--band", true, kGeometry},
    {"--all-bands", false, kGeometry},
    {"--vertical-travel", true, kStackOrColour},
    {"--horizontal-travel", true, kStackOrColour},
    {"--correct", false, kGeometryOrColour},
    {"--correct-vertically", false, kGeometryOrColour},
    {"--shift", true, kGeometryOrColour},
    {"--settings", true, kGeometryOrColour},
    {"--travel-profile", false, kStackOrColour},
    {"--tsv", false, Bit(Command::Travel)},
    {"--cal-file", true, kStack},
    {"--index", true, kStack | Bit(Command::Support)},
    {"--bands", true, kColour},
    {"--reference", true, kColour},
    {"--stretch", true, kColour},
    {"--version", false, kAll},
    {"-h", false, kAll},
}};

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& spec : kOptions) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

std::optional<Command> CommandFromName(std::string_view name) {
  if (name == "report") return Command::Report;
  if (name == "header") return Command::Header;
  if (name == "raw") return Command::Raw;
  if (name == "stack") return Command::Stack;
  if (name == "support") return Command::Support;
  if (name == "travel") return Command::Travel;
  if (name == "colour") return Command::Colour;
  return std::nullopt;
}

// A real as the window's entry fields read one: blanks trimmed, a comma taken for the period,
// then the real-number rule; optionally within limits, inclusive.
Real RealValue(const std::string& option, const std::string& text, const std::string& command,
               std::optional<std::pair<Real, Real>> limits) {
  std::string t = TrimBlanks(text);
  std::replace(t.begin(), t.end(), ',', '.');
  const RealParse parsed = ParseReal(t);
  if (!parsed.ok()) {
    throw UsageError(option + ": \"" + text + "\" is not a valid number; error at position " +
                         FormatInt(parsed.errorPosition),
                     command);
  }
  if (!std::isfinite(parsed.value)) {
    throw UsageError(option + ": \"" + text + "\" is too large", command);
  }
  if (limits && (parsed.value < limits->first || parsed.value > limits->second)) {
    throw UsageError(option + ": \"" + text + "\" is out of range; entry must be between " +
                         FormatG3(limits->first) + " and " + FormatG3(limits->second),
                     command);
  }
  return parsed.value;
}

// An integer by the entry fields' integer rule, within limits, inclusive.
int32_t IntegerValue(const std::string& option, const std::string& text, const std::string& command,
                     int32_t low, int32_t high) {
  const Int32Parse parsed = ParseInt32(TrimBlanks(text));
  if (!parsed.ok()) {
    throw UsageError(option + ": \"" + text + "\" is not a valid integer; error at position " +
                         FormatInt(parsed.errorPosition),
                     command);
  }
  if (parsed.value < low || parsed.value > high) {
    throw UsageError(option + ": \"" + text + "\" is out of range; entry must be between " +
                         FormatInt(low) + " and " + FormatInt(high),
                     command);
  }
  return parsed.value;
}

enum class Need { File, FileOrMissing };

// The absolute form of a path given with an option; the file must exist (Need::File), or may be
// missing but must not be something other than a regular file (Need::FileOrMissing).
std::string CheckedFilePath(const std::string& option, const std::string& path,
                            const std::string& command, Need need) {
  if (path.empty()) throw UsageError(option + ": the path is empty", command);
  const std::string absolute = AbsolutePath(path);
  std::error_code ec;
  const auto status = std::filesystem::status(FsPath(absolute), ec);
  const bool exists = std::filesystem::exists(status);
  if (exists && !std::filesystem::is_regular_file(status)) {
    throw UsageError(option + ": \"" + path + "\" is not a regular file", command);
  }
  if (!exists && need == Need::File) {
    throw UsageError(option + ": file \"" + path + "\" not found", command);
  }
  return absolute;
}

int32_t DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int32_t>(std::min(cores, 1024u));
}

}  // namespace

std::string CommandName(Command command) {
  switch (command) {
    case Command::Report:
      return "report";
    case Command::Header:
      return "header";
    case Command::Raw:
      return "raw";
    case Command::Stack:
      return "stack";
    case Command::Support:
      return "support";
    case Command::Travel:
      return "travel";
    case Command::Colour:
      return "colour";
  }
  return {};
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  if (args.empty()) throw UsageError("no command given", "");
  const std::string& first = args[0];
  if (first == "--help" || first == "-h") {
    result.text = GeneralHelp();
    return result;
  }
  if (first == "help") {
    result.text = args.size() > 1 ? CommandHelp(args[1]) : GeneralHelp();
    return result;
  }
  if (first == "--version") {
    result.text = std::string(kVersionLine) + "\n";
    return result;
  }
  const std::optional<Command> command = CommandFromName(first);
  if (!command) {
    throw UsageError("unknown command \"" + first + "\"", "");
  }
  const std::string name = CommandName(*command);

  CliOptions options;
  options.command = *command;
  std::vector<std::pair<std::string, std::string>> given;  // option, value (in order)
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string key = arg;
    std::optional<std::string> value;
    if (arg.starts_with("--")) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        key = arg.substr(0, eq);
        value = arg.substr(eq + 1);
      }
    } else if (arg.starts_with("-o")) {
      key = "--output";
      if (arg.size() > 2) value = arg.substr(2);
    }
    const OptionSpec* spec = FindOption(key);
    if (spec == nullptr) throw UsageError("unknown option \"" + arg + "\"", name);
    if ((spec->commands & Bit(*command)) == 0) {
      throw UsageError(
          "option " + std::string(spec->name) + " is not used by the " + name + " command", name);
    }
    if (!spec->takesValue) {
      if (value) throw UsageError("option " + key + " takes no value", name);
    } else if (!value) {
      if (i + 1 >= args.size()) throw UsageError("option " + arg + " needs a value", name);
      value = args[++i];
    }
    if (key == "--help" || key == "-h") {
      result.text = CommandHelp(name);
      return result;
    }
    if (key == "--version") {
      result.text = std::string(kVersionLine) + "\n";
      return result;
    }
    if (spec->takesValue) {
      for (const auto& [k, v] : given) {
        if (k == key) throw UsageError("option " + key + " is given twice", name);
      }
    }
    given.emplace_back(key, value.value_or(""));
  }

  bool shiftGiven = false;
  bool horizontalGiven = false;
  std::string settings, index;
  options.jobs = DefaultJobs();
  for (const auto& [key, value] : given) {
    if (key == "--jobs") {
      options.jobs = IntegerValue(key, value, name, 1, 1024);
    } else if (key == "--invert") {
      options.invert = true;
    } else if (key == "--output") {
      if (value.empty()) throw UsageError("-o: the path is empty", name);
      options.output = AbsolutePath(value);
    } else if (key == "--output-dir") {
      if (value.empty()) throw UsageError("--output-dir: the path is empty", name);
      options.outputDir = AbsolutePath(value);
    } else if (key == "--overwrite") {
      options.overwrite = true;
    } else if (key == "--format") {
      options.format = PictureFormatNamed(value);
      if (!options.format) {
        throw UsageError("--format: \"" + value + "\" is not a picture format; use bmp or png",
                         name);
      }
    } else if (key == "--band") {
      options.band = IntegerValue(key, value, name, 1, 7);
    } else if (key == "--all-bands") {
      options.allBands = true;
    } else if (key == "--vertical-travel") {
      if (TrimBlanks(value) == "auto") {
        options.verticalAuto = true;
      } else {
        options.verticalTravel = RealValue(key, value, name, std::pair<Real, Real>(0, 14));
      }
    } else if (key == "--horizontal-travel") {
      if (TrimBlanks(value) == "auto") {
        options.horizontalAuto = true;
      } else {
        options.horizontalTravel = RealValue(key, value, name, std::nullopt);
        horizontalGiven = true;
      }
    } else if (key == "--travel-profile") {
      options.travelProfile = true;
    } else if (key == "--tsv") {
      options.tsv = true;
    } else if (key == "--correct") {
      options.correct = true;
    } else if (key == "--correct-vertically") {
      options.correctVertically = true;
    } else if (key == "--shift") {
      options.shift = IntegerValue(key, value, name, INT32_MIN, INT32_MAX);
      shiftGiven = true;
    } else if (key == "--settings") {
      settings = CheckedFilePath(key, value, name, Need::File);
    } else if (key == "--index") {
      index = CheckedFilePath(key, value, name, Need::File);
    } else if (key == "--cal-file") {
      options.calFile = CheckedFilePath(key, value, name, Need::FileOrMissing);
    } else {
      ParseColourOption(key, value, name, options.colour);
    }
  }

  if (options.inputs.empty()) throw UsageError("no input file given", name);
  if (options.band && options.allBands) {
    throw UsageError("--band and --all-bands cannot be used together", name);
  }
  if (!options.output.empty()) {
    if (!options.outputDir.empty()) {
      throw UsageError("-o and --output-dir cannot be used together", name);
    }
    if (options.inputs.size() > 1) {
      throw UsageError("-o names one bitmap: use it with one input file only", name);
    }
    if (options.allBands) {
      throw UsageError("-o names one bitmap: it cannot be used with --all-bands", name);
    }
  }
  // Moving the rows vertically only happens in a vertical correction; a shift given without it
  // would be ignored without a word.
  if (options.travelProfile) {
    if (options.verticalTravel || horizontalGiven) {
      throw UsageError("--travel-profile measures both travels: give no number for them", name);
    }
    options.verticalAuto = options.horizontalAuto = true;
  }
  if (shiftGiven && !options.correctVertically) {
    throw UsageError("--shift is only used with --correct-vertically", name);
  }
  if (options.correctVertically) options.correct = true;
  // Records appended to a product file would damage it.
  if (!options.calFile.empty()) {
    const auto cal = FsPath(options.calFile).lexically_normal();
    for (const std::string& input : options.inputs) {
      if (FsPath(AbsolutePath(input)).lexically_normal() == cal) {
        throw UsageError("--cal-file: \"" + input + "\" is an input product", name);
      }
    }
  }

  options.settingsPath =
      settings.empty() ? ProgramFilePath(FileRole::Settings, "Quelmar.ini") : settings;
  options.indexPath = index.empty() ? ProgramFilePath(FileRole::Data, "CUMINDEX.TAB") : index;
  result.options = std::move(options);
  return result;
}

}  // namespace quelmar::cli
