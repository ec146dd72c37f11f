#pragma once
// The inputs of the benchmarks: products from the simulator at the sizes users load, written once
// per run into a temporary folder, and a cumulative index of archive length with the colour
// product's line near its end.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Simulator.h"
#include "product/LoadedProduct.h"
#include "util/UserPort.h"

namespace quelmar::bench {

// A port for timed commands: counts message lines, answers no question, picks no file.
class SilentPort : public UserPort {
 public:
  void AppendLine(std::string_view) override { ++lines; }
  void ShowMessage(std::string_view) override { ++messages; }
  bool AskYesNo(std::string_view) override {
    ++questions;
    return false;
  }
  void ShowSeriousError(std::string_view) override { ++errors; }
  void ShowErrorReport(std::string_view) override { ++errors; }
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override { return {}; }
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override { return {}; }
  void SetBusyCursor(bool) override {}

  int64_t lines = 0, messages = 0, questions = 0, errors = 0;
};

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const;

 private:
  std::string path_;
};

// The folder that holds this run's product and index files.
const ScratchFolder& RunFolder();

struct ProductShape {
  sim::ProductKind kind = sim::ProductKind::CE;
  int32_t framelets = 816;
  int32_t width = 0;  // 0: the kind's usual width
  uint32_t seed = 7;
};

// The sizes users load: the largest colour product (816 framelets of 78 rows x 704 samples,
// 45 MB), a monochrome product at the full 1024 samples, an ultraviolet product.
ProductShape ColourShape();
ProductShape MonoShape();
ProductShape UvShape();

struct BenchProduct {
  std::string path;         // the IMG file
  int64_t fileBytes = 0;    // its size
  std::string indexLine;    // its line of the cumulative index, without the line end
  LoadedProduct loaded;     // the file as the Load command reads it
  int32_t visibleBand = 0;  // a 14-row band to stack (0 when the kind has none)
  int32_t uvBand = 0;       // a 4-row band to stack (0 when the kind has none)
};

// Simulates the product, writes its IMG file into `folder` and loads it. QuelmarError when the
// load does not give the simulated rows back.
BenchProduct MakeBenchProduct(const ProductShape& shape, const std::string& folder);

// This run's products, made on first use.
const BenchProduct& ColourProduct();
const BenchProduct& MonoProduct();
const BenchProduct& UvProduct();

struct IndexFileInfo {
  std::string path;
  int64_t bytes = 0;
  int32_t lines = 0;
  int32_t productLine = 0;  // 1-based line that holds the product
};

// Writes an index of `lines` lines ending in CR LF: line `productLine` is `productLineText`; the
// others are that line with `productId` replaced by other identifiers of the same length, none
// of which contains `productId`.
IndexFileInfo WriteIndexFile(const std::string& path, const std::string& productLineText,
                             const std::string& productId, int32_t lines, int32_t productLine);

// The archive-length index (200,000 lines) with the colour product ten lines before its end.
const IndexFileInfo& LargeIndex();

// A path in the run folder where no settings file exists: corrections use the built-in defaults.
std::string DefaultSettingsPath();

}  // namespace quelmar::bench
