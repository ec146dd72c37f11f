#include "BenchFixtures.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "SimulatorFiles.h"
#include "product/EdrLoader.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar::bench {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "quelmar-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw FileError("Cannot create a scratch folder under " + fs::temp_directory_path().string() +
                    ": " + std::strerror(errno));
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ScratchFolder::File(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

const ScratchFolder& RunFolder() {
  static const ScratchFolder folder;
  return folder;
}

ProductShape ColourShape() {
  return {sim::ProductKind::CE, 816, 704, 7};
}
ProductShape MonoShape() {
  return {sim::ProductKind::ME, sim::kMaxFramelets, 1024, 8};
}
ProductShape UvShape() {
  return {sim::ProductKind::UE, sim::kMaxFramelets, 704, 9};
}

BenchProduct MakeBenchProduct(const ProductShape& shape, const std::string& folder) {
  sim::SimulatorOptions options;
  options.kind = shape.kind;
  options.framelets = shape.framelets;
  options.width = shape.width;
  options.seed = shape.seed;
  BenchProduct product;
  {
    // The simulated scene and image are dropped once the file is written.
    const sim::SimulatedProduct simulated = sim::SimulateProduct(options);
    product.path = folder + "/" + sim::ProductFileName(simulated);
    const std::string bytes = sim::ProductFileBytes(simulated);
    sim::WriteFileReplacing(product.path, bytes);
    product.fileBytes = static_cast<int64_t>(bytes.size());
    product.indexLine = sim::IndexLine(simulated);

    SilentPort port;
    if (LoadEdrProduct(product.path, product.loaded, port, nullptr) != LoadOutcome::ImageRead) {
      throw QuelmarError("The simulated product " + product.path + " does not load");
    }
    const LoadedProduct& p = product.loaded;
    const bool same =
        p.RowCount == simulated.Lines() && p.Rows.Width() == simulated.width &&
        p.FrameletHeight == simulated.frameletHeight &&
        std::memcmp(p.Rows.Row(0), simulated.image.data(), simulated.image.size()) == 0;
    if (!same) {
      throw QuelmarError("The simulated product " + product.path +
                         " loads with other rows than were written");
    }
    for (size_t i = 0; i < simulated.bands.size(); ++i) {
      const int32_t band = static_cast<int32_t>(i) + 1;
      if (simulated.bands[i].height == 4 && product.uvBand == 0) product.uvBand = band;
      if (simulated.bands[i].height == 14 && product.visibleBand == 0) product.visibleBand = band;
    }
  }
  return product;
}

namespace {

const BenchProduct& Cached(std::unique_ptr<BenchProduct>& slot, const ProductShape& shape) {
  if (!slot) slot = std::make_unique<BenchProduct>(MakeBenchProduct(shape, RunFolder().Path()));
  return *slot;
}

}  // namespace

const BenchProduct& ColourProduct() {
  static std::unique_ptr<BenchProduct> product;
  return Cached(product, ColourShape());
}
const BenchProduct& MonoProduct() {
  static std::unique_ptr<BenchProduct> product;
  return Cached(product, MonoShape());
}
const BenchProduct& UvProduct() {
  static std::unique_ptr<BenchProduct> product;
  return Cached(product, UvShape());
}

IndexFileInfo WriteIndexFile(const std::string& path, const std::string& productLineText,
                             const std::string& productId, int32_t lines, int32_t productLine) {
  if (productId.size() < 4 || productLineText.find(productId) == std::string::npos) {
    throw QuelmarError("The index template line does not hold the product id " + productId);
  }
  // Other identifiers: "N" (no product id begins with it), a counter, and the product's kind.
  const size_t digits = productId.size() - 3;
  const std::string kind = productId.substr(productId.size() - 2);
  std::string text;
  text.reserve((productLineText.size() + 2) * static_cast<size_t>(lines));
  for (int32_t n = 1; n <= lines; ++n) {
    if (n == productLine) {
      text += productLineText;
    } else {
      std::string counter = FormatInt(n);
      if (counter.size() > digits) counter.erase(0, counter.size() - digits);
      std::string other(1, 'N');
      other.append(digits - counter.size(), '0');
      other += counter;
      other += kind;
      const size_t start = text.size();
      text += productLineText;
      for (size_t at = text.find(productId, start); at != std::string::npos;
           at = text.find(productId, at + other.size())) {
        text.replace(at, other.size(), other);
      }
    }
    text += "\r\n";
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) throw FileError("Cannot write the index file " + path);
  return {path, static_cast<int64_t>(text.size()), lines, productLine};
}

const IndexFileInfo& LargeIndex() {
  static const IndexFileInfo info = [] {
    const BenchProduct& product = ColourProduct();
    constexpr int32_t kLines = 200000;
    return WriteIndexFile(RunFolder().File("CUMINDEX.TAB"), product.indexLine,
                          product.loaded.ProductId, kLines, kLines - 10);
  }();
  return info;
}

std::string DefaultSettingsPath() {
  return RunFolder().File("no-settings/Quelmar.ini");
}

}  // namespace quelmar::bench
