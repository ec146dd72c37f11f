// Every seed of the fuzz targets and every input a fuzzing run once found a fault with goes
// through the same calls as the fuzz targets, so that a fault fixed once stays fixed and the
// drivers keep working with the ordinary compiler.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../fuzz/EdrLoaderDriver.h"
#include "../../fuzz/IndexDriver.h"
#include "../../fuzz/LabelDriver.h"
#include "../../fuzz/NumericDriver.h"
#include "../../fuzz/SettingsDriver.h"
#include "support/TestFiles.h"

namespace quelmar {
namespace {

namespace fs = std::filesystem;

// The checkout (not __FILE__: a compiler cache may make that relative).
const fs::path kRepository = fs::path(QUELMAR_SOURCE_DIR);

struct Target {
  const char* name;
  void (*run)(const uint8_t*, size_t);
};
const Target kTargets[] = {
    {"fuzz_edr_loader", fuzz::RunEdrLoaderInput},  {"fuzz_label_values", fuzz::RunLabelInput},
    {"fuzz_index_lookup", fuzz::RunIndexInput},    {"fuzz_settings", fuzz::RunSettingsInput},
    {"fuzz_numeric_entry", fuzz::RunNumericInput},
};

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Runs one input; anything but a clean return (a broken promise of the core, an exception that
// is no run-time error of the program) is a failure naming the input.
void RunInput(const Target& target, const fs::path& file) {
  const std::string bytes = testing::ReadFileBytes(file.string());
  try {
    target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  } catch (const std::exception& e) {
    ADD_FAILURE() << target.name << " on " << file.string() << ": " << e.what();
  }
}

TEST(HardeningFuzzInputs, SeedsRunCleanlyThroughEveryTarget) {
  for (const Target& target : kTargets) {
    const std::vector<fs::path> seeds = FilesIn(kRepository / "fuzz" / "corpus" / target.name);
    EXPECT_FALSE(seeds.empty()) << "no seeds for " << target.name;
    for (const fs::path& seed : seeds) RunInput(target, seed);
  }
}

TEST(HardeningFuzzInputs, InputsOfFixedFaultsStayFixed) {
  for (const Target& target : kTargets) {
    for (const fs::path& input :
         FilesIn(kRepository / "tests" / "data" / "fuzz-regressions" / target.name)) {
      RunInput(target, input);
    }
  }
}

}  // namespace
}  // namespace quelmar
