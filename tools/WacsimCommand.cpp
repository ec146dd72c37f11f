#include "WacsimCommand.h"

#include <exception>
#include <optional>
#include <string_view>

#include "SimulatorFiles.h"
#include "SyntheticIndex.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar::sim {

namespace {

constexpr const char* kUsage =
    R"(wacsim: writes synthetic Wide Angle Camera EDR products of a procedural lunar scene.

Usage:
  wacsim [options]                 one product, its CUMINDEX.TAB line and its ground truth
  wacsim --sample-set [--output-dir DIR]
                                   one product of each kind (ME, VE, UE, CE) and one index
  wacsim --index-lines N [--seed N] [--output-dir DIR]
                                   a CUMINDEX.TAB of N synthetic lines (no products), for
                                   searches by place and light

Options:
  --kind ME|VE|UE|CE    product kind: monochrome, visible, ultraviolet, colour (default CE)
  --framelets N         number of framelets, 1 to 1000 (default 100); also --size N
  --travel R            rows the ground advances per framelet in the visible bands, 1 to 14
                        (default 11.3); ultraviolet bands advance a quarter of it
  --travel-end R        the travel between the last two framelets, 1 to 14: the travel changes
                        linearly from --travel to it along the product (default: constant)
  --drift R             columns the ground moves sideways per framelet, -3 to 3 (default 0)
  --seed N              scene and observation seed, 0 to 2147483647 (default 1)
  --width N             samples per row: 1024 or 704 for ME (default 1024); 704 otherwise
  --product-id ID       product id, capital letters and digits ending in the kind (default
                        made from the seed, e.g. M1xxxxxxxxCE); sets the kind when --kind is
                        not given
  --output-dir DIR      folder of the files, created when missing (default: the current one)
  --sample-set          write the sample set instead of one product
  --index-lines N       write only an index of N lines, 1 to 20000000 (about 900 bytes each),
                        replacing an index wacsim wrote before
  --help                show this text
  --version             show the version

Files written in the output folder:
  <ID>.IMG               the product: label, then LRO:NFRAMES framelets of 8-bit rows
  <ID>_ground_truth.bmp  the scene the camera flew over (1 pixel = 1 visible-band pixel)
  <ID>_travel.txt        the true travel between each pair of framelets
  <ID>_<wl>nm_ground_truth.bmp
                         products of several bands: the scene as each band sees it (its colour
                         and response)
  <ID>_rgb_ground_truth.bmp
                         VE and CE products: the 689, 604 and 415 nm truths as red, green, blue
  CUMINDEX.TAB           the product's index line; other lines of an existing index are kept
An existing <ID>.IMG that wacsim did not write is never replaced.
The same options always give the same bytes.
)";

struct Command {
  SimulatorOptions options;
  bool kindGiven = false;
  bool sampleSet = false;
  int32_t indexLines = 0;  // > 0: write only a synthetic index of that many lines
  bool help = false;
  bool version = false;
  std::string outputDir;
  std::vector<std::string> singleOnly;  // options that make no sense with --sample-set
};

class UsageError : public std::exception {
 public:
  explicit UsageError(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

int32_t WholeNumber(std::string_view option, const std::string& text) {
  const Int32Parse n = ParseInt32(text);
  if (text.empty() || !n.ok() || text.front() == ' ') {
    throw UsageError(std::string(option) + " needs a whole number, not \"" + text + "\"");
  }
  return n.value;
}

Command Parse(const std::vector<std::string>& args) {
  Command c;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
      value = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
    const auto flag = [&]() {
      if (value) throw UsageError(name + " takes no value");
    };
    const auto takeValue = [&]() -> std::string {
      if (value) return *value;
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    if (name == "--help" || name == "-h") {
      flag();
      c.help = true;
    } else if (name == "--version") {
      flag();
      c.version = true;
    } else if (name == "--sample-set") {
      flag();
      c.sampleSet = true;
    } else if (name == "--index-lines") {
      c.indexLines = WholeNumber(name, takeValue());
      if (c.indexLines < 1 || c.indexLines > 20000000) {
        throw UsageError("--index-lines must lie between 1 and 20000000");
      }
    } else if (name == "--output-dir" || name == "-o") {
      c.outputDir = takeValue();
      if (c.outputDir.empty()) throw UsageError(name + " needs a folder name");
    } else if (name == "--kind") {
      const std::string code = takeValue();
      const std::optional<ProductKind> kind = KindFromCode(code);
      if (!kind) throw UsageError("--kind must be ME, VE, UE or CE, not \"" + code + "\"");
      c.options.kind = *kind;
      c.kindGiven = true;
    } else if (name == "--framelets" || name == "--size") {
      c.options.framelets = WholeNumber(name, takeValue());
    } else if (name == "--travel") {
      const std::string text = takeValue();
      const RealParse r = ParseReal(text);
      if (text.empty() || text.front() == ' ' || !r.ok()) {
        throw UsageError("--travel needs a number such as 11.3, not \"" + text + "\"");
      }
      c.options.travel = static_cast<double>(r.value);
    } else if (name == "--travel-end" || name == "--drift") {
      const std::string text = takeValue();
      const RealParse r = ParseReal(text);
      if (text.empty() || text.front() == ' ' || !r.ok()) {
        throw UsageError(name + " needs a number such as " + (name == "--drift" ? "-0.5" : "10.2") +
                         ", not \"" + text + "\"");
      }
      if (name == "--drift") {
        c.options.drift = static_cast<double>(r.value);
      } else {
        c.options.travelEnd = static_cast<double>(r.value);
      }
    } else if (name == "--seed") {
      const int32_t seed = WholeNumber(name, takeValue());
      if (seed < 0) throw UsageError("--seed must not be negative");
      c.options.seed = static_cast<uint32_t>(seed);
    } else if (name == "--width") {
      c.options.width = WholeNumber(name, takeValue());
    } else if (name == "--product-id") {
      c.options.productId = takeValue();
    } else if (name.rfind("-", 0) == 0) {
      throw UsageError("unknown option \"" + name + "\"");
    } else {
      throw UsageError("unexpected argument \"" + name + "\"");
    }
    if (name != "--help" && name != "-h" && name != "--version" && name != "--sample-set" &&
        name != "--output-dir" && name != "-o") {
      c.singleOnly.push_back(name);
    }
  }
  if (c.indexLines > 0) {
    for (const std::string& option : c.singleOnly) {
      if (option != "--index-lines" && option != "--seed") {
        throw UsageError("--index-lines takes only --seed and --output-dir, not " + option);
      }
    }
    if (c.sampleSet) throw UsageError("--index-lines and --sample-set do not go together");
    return c;
  }
  if (c.sampleSet && !c.singleOnly.empty()) {
    throw UsageError("--sample-set takes only --output-dir, not " + c.singleOnly.front());
  }
  const std::string& id = c.options.productId;
  if (!c.kindGiven && id.size() >= 2) {
    const std::optional<ProductKind> kind =
        KindFromCode(std::string_view(id).substr(id.size() - 2));
    if (!kind) {
      throw UsageError("the product id \"" + id + "\" must end in ME, VE, UE or CE (capitals)");
    }
    c.options.kind = *kind;
  }
  if (!c.sampleSet) {
    const std::string problem = OptionsProblem(c.options);
    if (!problem.empty()) throw UsageError(problem);
  }
  return c;
}

std::string Describe(const SimulatedProduct& p) {
  std::string text = FormatInt(p.framelets) + " framelets of " + FormatInt(p.frameletHeight) +
                     " rows x " + FormatInt(p.width) + " samples, travel " +
                     FormatFixed(p.travel, 3);
  if (p.framelets > 1 && p.PairTravel(p.framelets - 2) != p.travel)
    text += " to " + FormatFixed(p.PairTravel(p.framelets - 2), 3);
  text += " rows per framelet";
  if (p.drift != 0) text += ", drift " + FormatFixed(p.drift, 3) + " columns per framelet";
  return text;
}

}  // namespace

std::vector<SimulatorOptions> SampleSetOptions() {
  std::vector<SimulatorOptions> set(4);
  set[0].kind = ProductKind::ME;
  set[0].framelets = 48;
  set[0].width = 1024;
  set[0].seed = 101;
  set[1].kind = ProductKind::VE;
  set[1].framelets = 48;
  set[1].seed = 102;
  set[2].kind = ProductKind::UE;
  set[2].framelets = 96;
  set[2].seed = 103;
  set[3].kind = ProductKind::CE;
  set[3].framelets = 48;
  set[3].seed = 104;
  return set;
}

int RunWacsim(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Command command;
  try {
    command = Parse(args);
  } catch (const UsageError& e) {
    err << "wacsim: " << e.what() << "\n(wacsim --help lists the options)\n";
    return kExitUsage;
  }
  if (command.help) {
    out << kUsage;
    return kExitDone;
  }
  if (command.version) {
    out << "wacsim (Quelmar v" QUELMAR_VERSION ")\n";
    return kExitDone;
  }
  if (command.indexLines > 0) {
    try {
      const std::string indexPath = PathIn(command.outputDir, kIndexFileName);
      WriteSyntheticIndex(indexPath, command.indexLines, command.options.seed);
      out << "Wrote " << indexPath << " (" << FormatInt(command.indexLines)
          << " synthetic lines)\n";
    } catch (const std::exception& e) {
      err << "wacsim: " << e.what() << "\n";
      return kExitFailed;
    }
    return kExitDone;
  }
  const std::vector<SimulatorOptions> runs =
      command.sampleSet ? SampleSetOptions() : std::vector<SimulatorOptions>{command.options};
  try {
    std::vector<IndexEntry> entries;
    for (const SimulatorOptions& options : runs) {
      const SimulatedProduct product = SimulateProduct(options);
      const std::vector<std::string> written = WriteProductFiles(product, command.outputDir);
      out << "Wrote " << written[0] << " (" << Describe(product) << ")\n";
      out << "Wrote " << written[1] << " (ground truth, " << FormatInt(product.scene.width) << " x "
          << FormatInt(product.scene.height) << " pixels)\n";
      out << "Wrote " << written[2] << " (true travel per framelet pair)\n";
      if (written.size() > 3) {
        out << "Wrote " << FormatInt(static_cast<int64_t>(written.size() - 3))
            << " colour ground truths (" << BandTruthFileName(product, product.bands.front())
            << " ... " << written.back().substr(written.back().find_last_of("/\\") + 1) << ")\n";
      }
      entries.push_back({product.productId, IndexLine(product)});
    }
    const std::string indexPath = PathIn(command.outputDir, kIndexFileName);
    MergeIndexLines(indexPath, entries);
    out << "Wrote " << indexPath << " (" << FormatInt(static_cast<int64_t>(entries.size()))
        << (entries.size() == 1 ? " line" : " lines") << " for these products)\n";
  } catch (const std::exception& e) {
    err << "wacsim: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace quelmar::sim
