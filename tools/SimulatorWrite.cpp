// Putting the simulator's files on disk: whole-file replacement, the index merge and the
// product's pair of files.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "SimulatorFiles.h"
#include "output/BmpWriter.h"
#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/Paths.h"

namespace quelmar::sim {

namespace fs = std::filesystem;

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) throw FileError("Cannot open " + path + " to read it");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw FileError("Cannot read " + path);
  return bytes.str();
}

// True when the line's first occurrence of the id starts at position 2 or later.
bool LineHoldsProduct(std::string_view line, std::string_view productId) {
  const size_t at = line.find(productId);
  return at != std::string_view::npos && at >= 1;
}

}  // namespace

void WriteFileReplacing(const std::string& path, std::string_view bytes) {
  const fs::path target = FsPath(path);
  fs::path temp = target;
  temp += ".wacsim-tmp";
  std::error_code ec;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      throw FileError("Cannot create " + Utf8Of(temp) +
                      " (check that the folder exists and may be written)");
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      throw FileError("Cannot write " + path + " (is the disk full?); nothing was replaced");
    }
  }
  fs::rename(temp, target, ec);
  if (ec && fs::exists(target)) {
    // A system that will not rename over a file: move the old one aside first, and back again
    // if the new one cannot take its place.
    fs::path old = target;
    old += ".wacsim-old";
    std::error_code ignored;
    fs::remove(old, ignored);
    fs::rename(target, old, ec);
    if (!ec) {
      fs::rename(temp, target, ec);
      if (ec) {
        fs::rename(old, target, ignored);
      } else {
        fs::remove(old, ignored);
      }
    }
  }
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw FileError("Cannot replace " + path + ": " + ec.message());
  }
}

void MergeIndexLines(const std::string& indexPath, const std::vector<IndexEntry>& entries) {
  std::vector<std::string> lines;  // each with its own line end, if it had one
  std::error_code ec;
  const fs::file_status status = fs::status(FsPath(indexPath), ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    throw FileError("The index " + indexPath + " is not a file; it is left as it is");
  }
  if (fs::exists(status)) {
    const std::string bytes = ReadWholeFile(indexPath);
    size_t start = 0;
    while (start < bytes.size()) {
      const size_t end = bytes.find('\n', start);
      const size_t next = end == std::string::npos ? bytes.size() : end + 1;
      lines.push_back(bytes.substr(start, next - start));
      start = next;
    }
  }
  for (const IndexEntry& entry : entries) {
    bool replaced = false;
    for (std::string& line : lines) {
      if (LineHoldsProduct(line, entry.productId)) {
        line = entry.line + "\r\n";
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      if (!lines.empty() && lines.back().back() != '\n') lines.back() += "\r\n";
      lines.push_back(entry.line + "\r\n");
    }
  }
  std::string bytes;
  for (const std::string& line : lines) bytes += line;
  WriteFileReplacing(indexPath, bytes);
}

std::vector<std::string> WriteProductFiles(const SimulatedProduct& p, const std::string& folder) {
  std::error_code ec;
  if (!folder.empty()) {
    fs::create_directories(FsPath(folder), ec);
    if (ec || !fs::is_directory(FsPath(folder))) {
      throw FileError("Cannot create the output folder " + folder +
                      (ec ? ": " + ec.message() : std::string()));
    }
  }
  const std::string productPath = PathIn(folder, ProductFileName(p));
  if (fs::exists(FsPath(productPath), ec) && !WrittenBySimulator(productPath)) {
    throw FileError(productPath +
                    " exists and was not written by wacsim, so it is left as it is; choose "
                    "another output folder or product id");
  }
  WriteFileReplacing(productPath, ProductFileBytes(p));
  const std::string truthPath = PathIn(folder, TruthFileName(p));
  WriteBmp(TruthPicture(p.scene), truthPath);
  const std::string travelPath = PathIn(folder, TravelFileName(p));
  WriteFileReplacing(travelPath, TravelFileText(p));
  std::vector<std::string> written{productPath, truthPath, travelPath};
  if (p.bands.size() > 1) {
    for (const SimBand& band : p.bands) {
      written.push_back(PathIn(folder, BandTruthFileName(p, band)));
      WriteBmp(BandTruthPicture(p.scene, band), written.back());
    }
    const std::vector<const SimBand*> rgb = RgbTruthBands(p);
    if (!rgb.empty()) {
      written.push_back(PathIn(folder, RgbTruthFileName(p)));
      WriteBmp(RgbTruthPicture(p.scene, rgb), written.back());
    }
  }
  return written;
}

std::string BandTruthFileName(const SimulatedProduct& p, const SimBand& band) {
  return p.productId + "_" + band.wavelength + "nm_ground_truth.bmp";
}

std::string RgbTruthFileName(const SimulatedProduct& p) {
  return p.productId + "_rgb_ground_truth.bmp";
}

std::vector<const SimBand*> RgbTruthBands(const SimulatedProduct& p) {
  std::vector<const SimBand*> rgb;
  for (const char* wl : {"689", "604", "415"}) {
    for (const SimBand& b : p.bands) {
      if (b.wavelength == wl) rgb.push_back(&b);
    }
  }
  if (rgb.size() != 3) rgb.clear();
  return rgb;
}

namespace {
uint8_t BandLevel(const GroundScene& scene, int32_t col, int32_t row, const SimBand& band) {
  const double v = band.gain * scene.InBand(col, row, band.colour);
  return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
}
}  // namespace

Picture BandTruthPicture(const GroundScene& scene, const SimBand& band) {
  Picture picture;
  picture.Reset(scene.width, scene.height);
  for (int32_t row = 0; row < scene.height; ++row) {
    uint8_t* out = picture.Row(row);
    for (int32_t col = 0; col < scene.width; ++col) {
      out[3 * col] = out[3 * col + 1] = out[3 * col + 2] = BandLevel(scene, col, row, band);
    }
  }
  return picture;
}

Picture RgbTruthPicture(const GroundScene& scene, const std::vector<const SimBand*>& rgb) {
  Picture picture;
  picture.Reset(scene.width, scene.height);
  for (int32_t row = 0; row < scene.height; ++row) {
    uint8_t* out = picture.Row(row);
    for (int32_t col = 0; col < scene.width; ++col) {
      for (size_t c = 0; c < 3; ++c) out[3 * col + 2 - c] = BandLevel(scene, col, row, *rgb[c]);
    }
  }
  return picture;
}

std::string TravelFileName(const SimulatedProduct& p) {
  return p.productId + "_travel.txt";
}

std::string TravelFileText(const SimulatedProduct& p) {
  std::string text = "# " + p.productId +
                     ": true travel between framelets, in stacked rows and columns per framelet\r\n"
                     "# pair\tvertical\thorizontal\tuv_vertical\tuv_horizontal\r\n";
  for (int32_t f = 0; f + 1 < p.framelets; ++f) {
    const Real v = p.PairTravel(f), h = p.PairDrift(f);
    text += FormatInt(f + 1) + "\t" + FormatFixed(v, 6) + "\t" + FormatFixed(h, 6) + "\t" +
            FormatFixed(v / 4, 6) + "\t" + FormatFixed(h / 4, 6) + "\r\n";
  }
  return text;
}

Picture TruthPicture(const GroundScene& scene) {
  Picture picture;
  picture.Reset(scene.width, scene.height);
  for (int32_t row = 0; row < scene.height; ++row) {
    uint8_t* out = picture.Row(row);
    for (int32_t col = 0; col < scene.width; ++col) {
      const uint8_t v = scene.At(col, row);
      out[3 * col] = out[3 * col + 1] = out[3 * col + 2] = v;
    }
  }
  return picture;
}

std::string PathIn(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsPathSeparator(folder.back())) return folder + name;
  return folder + "/" + name;
}

}  // namespace quelmar::sim
