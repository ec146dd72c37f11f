#include "support/TestFiles.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include "util/Paths.h"

namespace quelmar::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const fs::path p =
        base / ("quelmar-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = Utf8Of(p);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Folders made read-only by a test must be writable again to be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ProductBytes(const SyntheticProduct& product) {
  std::string bytes;
  for (const std::string& line : product.labelLines) bytes += line + "\r\n";
  const size_t labelArea =
      static_cast<size_t>(product.labelRecords) * static_cast<size_t>(product.width);
  if (bytes.size() < labelArea) bytes.append(labelArea - bytes.size(), ' ');
  bytes.append(product.rows.begin(), product.rows.end());
  return bytes;
}

SyntheticProduct MakeProduct(const std::string& productId, int32_t framelets,
                             int32_t frameletHeight, int32_t width,
                             const std::string& wavelengths) {
  SyntheticProduct p;
  p.width = width;
  const int32_t lines = framelets * frameletHeight;
  p.labelLines = {
      "PDS_VERSION_ID               = PDS3",
      "RECORD_TYPE                  = FIXED_LENGTH",
      "RECORD_BYTES                 = " + std::to_string(width),
      "FILE_RECORDS                 = " + std::to_string(lines + 0),
      "LABEL_RECORDS                = LABELRECORDS",
      "^IMAGE                       = 0",
      "PRODUCT_ID                   = " + productId,
      "INSTRUMENT_ID                = WAC",
      "LRO:NFRAMES                  = " + std::to_string(framelets),
      "CENTER_FILTER_WAVELENGTH     = " + wavelengths,
      "OBJECT                       = IMAGE",
      "  LINES                      = " + std::to_string(lines),
      "  LINE_SAMPLES               = " + std::to_string(width),
      "  SAMPLE_TYPE                = UNSIGNED_INTEGER",
      "  SAMPLE_BITS                = 8",
      "END_OBJECT                   = IMAGE",
      "END",
  };
  size_t labelBytes = 0;
  for (const auto& l : p.labelLines) labelBytes += l.size() + 2;
  p.labelRecords = static_cast<int32_t>((labelBytes + 16 + static_cast<size_t>(width) - 1) /
                                        static_cast<size_t>(width));
  if (p.labelRecords < 1) p.labelRecords = 1;
  p.labelLines[4] = "LABEL_RECORDS                = " + std::to_string(p.labelRecords);
  p.labelLines[5] = "^IMAGE                       = " + std::to_string(p.labelRecords + 1);
  p.rows.resize(static_cast<size_t>(lines) * static_cast<size_t>(width));
  for (size_t i = 0; i < p.rows.size(); ++i) {
    const size_t row = i / static_cast<size_t>(width), col = i % static_cast<size_t>(width);
    p.rows[i] = static_cast<uint8_t>((row * 7 + col * 3) & 0xFF);
  }
  return p;
}

std::string RealLabelsDir() {
#ifdef QUELMAR_SHARED_DIR
  const fs::path dir = fs::path(QUELMAR_SHARED_DIR) / "fixtures" / "real-labels";
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return dir.string();
#endif
  return {};
}

}  // namespace quelmar::testing
