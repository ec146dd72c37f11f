#include "cli/FileWork.h"

#include "cli/TravelWork.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "assembly/PictureBuilder.h"
#include "cli/ColourCommand.h"
#include "cli/TravelWork.h"
#include "output/BmpWriter.h"
#include "output/PictureFile.h"
#include "output/SaveCommand.h"
#include "product/EdrLoader.h"
#include "support/IndexLookup.h"
#include "util/Paths.h"

namespace quelmar::cli {

namespace fs = std::filesystem;

namespace {
std::string PathKey(const std::string& path) {
  return Utf8Of(FsPath(AbsolutePath(path)).lexically_normal());
}
}  // namespace

std::string OutputClaims::Claim(const std::string& path, bool overwrite) {
  const std::string key = PathKey(path);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = claimed_.find(key);
  if (found != claimed_.end()) return path + found->second;
  std::error_code ec;
  if (fs::is_directory(FsPath(path), ec)) {
    return path + " is a folder; not written (--output-dir writes the pictures into a folder)";
  }
  if (!overwrite && fs::exists(FsPath(path), ec)) {
    return path + " exists; not overwritten (--overwrite replaces it)";
  }
  claimed_.emplace(key, " was already written by this run for another picture; not overwritten");
  return {};
}

void OutputClaims::ProtectInput(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  claimed_.emplace(PathKey(path), " is an input product of this run; not overwritten");
}

std::string SafeFileName(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 32 || u == 127) c = '_';
  }
  return out;
}

namespace {

const char* const kNoPicture = ": no picture could be built for it";

// The window's picture request for a stack, built from the options for one product.
PictureRequest StackRequest(const CliOptions& options, const LoadedProduct& product,
                            const int32_t& band) {
  PictureRequest request;
  request.Invert = options.invert;
  request.Stacked = true;
  // The travel field's text after a load, read by the field's own rule.
  request.VerticalTravel =
      options.verticalTravel.value_or(ParseReal(product.BandCount == 2 ? "2.15" : "11").value);
  request.HorizontalTravel = options.horizontalTravel;
  request.CorrectDistortion = options.correct;
  request.CorrectVertically = options.correctVertically;
  request.ReadBand = [&band] { return band; };
  const int32_t shift = options.shift;
  request.ReadShift = [shift] { return shift; };
  request.SettingsPath = options.settingsPath;
  return request;
}

PictureRequest RawRequest(const CliOptions& options, const LoadedProduct& product) {
  PictureRequest request;
  request.Invert = options.invert;
  request.Stacked = false;
  request.VerticalTravel = static_cast<Real>(product.FrameletHeight);
  request.HorizontalTravel = 0;
  request.SettingsPath = options.settingsPath;
  return request;
}

// The raw display that ends a load, for a product without image data: it only writes its
// "Need to load readable image data" line. With image data it would write nothing, so the
// commands that need no raw picture skip building one.
void RawDisplayOfEmptyProduct(const CliOptions& options, const LoadedProduct& product,
                              BatchPort& port) {
  if (product.HasImage()) return;
  DisplayedImageInfo displayed;
  Picture picture;
  DisplayImage(product, RawRequest(options, product), port, displayed, picture);
}

// Writes the picture under the option's or the proposed name; false (with a note) when the
// name may not be used.
bool SavePicture(const CliOptions& options, const std::string& outputFolder,
                 const LoadedProduct& product, const DisplayedImageInfo& displayed,
                 const Picture& picture, OutputClaims& claims, BatchPort& port,
                 std::string& written) {
  const PictureFormat format = options.format.value_or(PictureFormatOfPath(options.output));
  written = options.output.empty()
                ? Utf8Of(FsPath(outputFolder) /
                         FsPath(SafeFileName(WithPictureExtension(
                             ProposedPictureName(product.ProductId, displayed), format))))
                : options.output;
  const std::string refused = claims.Claim(written, options.overwrite);
  if (!refused.empty()) {
    port.Note(refused);
    return false;
  }
  quelmar::SavePicture(picture, written, format);
  return true;
}

void RawWork(const CliOptions& options, const std::string& outputFolder,
             const LoadedProduct& product, OutputClaims& claims, BatchPort& port,
             FileResult& result, const std::string& path) {
  DisplayedImageInfo displayed;
  Picture picture;
  if (DisplayImage(product, RawRequest(options, product), port, displayed, picture) !=
      DisplayOutcome::Shown) {
    port.Note(path + kNoPicture);
    result.status = 1;
    return;
  }
  std::string written;
  if (!SavePicture(options, outputFolder, product, displayed, picture, claims, port, written)) {
    result.status = 1;
  }
}

void StackWork(const CliOptions& options, const std::string& outputFolder,
               const LoadedProduct& product, OutputClaims& claims, BatchPort& port,
               FileResult& result, const std::string& path) {
  if (!product.HasImage()) {
    // The Stack command would only repeat the line the load's raw display wrote.
    RawDisplayOfEmptyProduct(options, product, port);
    port.Note(path + kNoPicture);
    result.status = 1;
    return;
  }
  const std::vector<int32_t> bands = ChosenBands(options, product, port, result, path);
  if (bands.empty()) return;
  int32_t band = 0;
  PictureRequest request = StackRequest(options, product, band);
  for (const int32_t g : bands) {
    band = g;
    if (!ApplyMeasuredTravel(options, product, band, request, port, result, path)) return;
    DisplayedImageInfo displayed;
    Picture picture;
    if (DisplayImage(product, request, port, displayed, picture) != DisplayOutcome::Shown) {
      port.Note(path + kNoPicture);
      result.status = 1;
      return;
    }
    std::string written;
    if (!SavePicture(options, outputFolder, product, displayed, picture, claims, port, written)) {
      result.status = 1;
      return;
    }
    if (!options.calFile.empty()) {
      result.calibrations.push_back({written, picture.Width(), picture.Height(), displayed});
      port.MarkCalibration(result.calibrations.size() - 1);
    }
  }
}

void SupportWork(const CliOptions& options, const LoadedProduct& product, BatchPort& port,
                 FileResult& result, const std::string& path) {
  RawDisplayOfEmptyProduct(options, product, port);
  std::string indexPath = options.indexPath;
  SupportDataInfo support;
  SupportCommand(product.ProductId, indexPath, support, port);
  if (!support.Available) {
    port.Note(path + ": no index record found for it");
    result.status = 1;
  }
}

}  // namespace

std::vector<int32_t> ChosenBands(const CliOptions& options, const LoadedProduct& product,
                                 BatchPort& port, FileResult& result, const std::string& path) {
  std::vector<int32_t> bands;
  if (options.allBands) {
    for (int32_t g = 1; g <= product.BandCount; ++g) bands.push_back(g);
  } else {
    bands.push_back(options.band.value_or(product.BandCount == 7 ? 3 : 1));
  }
  if (bands.empty() || bands.back() > product.BandCount) {
    port.Note(path + ": --band " + FormatInt(bands.empty() ? 0 : bands.back()) +
              " is out of range; this product's bands are 1 to " + FormatInt(product.BandCount));
    result.status = 2;
    return {};
  }
  return bands;
}

FileResult ProcessFile(const CliOptions& options, const std::string& input,
                       const std::string& outputFolder, OutputClaims& claims) {
  FileResult result;
  BatchPort port(options.command != Command::Header && options.command != Command::Travel);
  const std::string path = AbsolutePath(input);
  LoadedProduct product;
  try {
    const LoadOutcome outcome = LoadEdrProduct(path, product, port, [](int32_t) {});
    result.productId = product.ProductId;
    result.frameletCount = product.FrameletCount;
    if (outcome == LoadOutcome::NoHeader) {
      // The window stops here: no raw display, nothing to build or look up.
      if (options.command == Command::Raw || options.command == Command::Stack ||
          options.command == Command::Travel || options.command == Command::Colour) {
        port.Note(path + kNoPicture);
        result.status = 1;
      } else if (options.command == Command::Support) {
        port.Note(path + ": no index record found for it (its label has no END line)");
        result.status = 1;
      }
    } else {
      switch (options.command) {
        case Command::Report:
          RawDisplayOfEmptyProduct(options, product, port);
          break;
        case Command::Header:
          break;
        case Command::Raw:
          RawWork(options, outputFolder, product, claims, port, result, path);
          break;
        case Command::Stack:
          StackWork(options, outputFolder, product, claims, port, result, path);
          break;
        case Command::Support:
          SupportWork(options, product, port, result, path);
          break;
        case Command::Travel:
          TravelWork(options, product, port, result, path);
          break;
        case Command::Colour:
          ColourWork(options, outputFolder, product, claims, port, result, path);
          break;
      }
    }
  } catch (const std::exception& e) {
    port.ShowErrorReport(e.what());
    port.Note(path + ": stopped by the error above");
    result.status = std::max(result.status, 1);
  } catch (...) {
    port.ShowErrorReport("unexpected error");
    port.Note(path + ": stopped by the error above");
    result.status = std::max(result.status, 1);
  }
  if (options.command == Command::Header) {
    // The label lines the load kept, even when reading the image failed afterwards.
    port.SetKeepLines(true);
    HeaderCommand(product, port);
  }
  result.entries = port.TakeEntries();
  return result;
}

std::vector<BatchPort::Entry> CompleteFile(const CliOptions& options, FileResult& result) {
  std::vector<BatchPort::Entry> out;
  out.reserve(result.entries.size());
  // The window's support data and paths as they stand for this product: looked up at most once
  // (by the first record) and kept for the product's other bands.
  SupportDataInfo support;
  std::string indexPath = options.indexPath;
  std::string calibrationPath = options.calFile;
  for (BatchPort::Entry& entry : result.entries) {
    if (entry.kind != BatchPort::Kind::Calibration) {
      out.push_back(std::move(entry));
      continue;
    }
    const CalibrationStep& step = result.calibrations.at(entry.calibration);
    BatchPort port;
    bool saved = false;
    try {
      CalibrationContext context{result.productId, result.frameletCount, step.displayed, indexPath,
                                 support,          calibrationPath};
      WriteCalibrationRecord(step.bitmapPath, step.width, step.height, context, port);
      saved = port.HasLineStartingWith(0, "Calibration data has been saved to ");
    } catch (const std::exception& e) {
      port.ShowErrorReport(e.what());
    }
    if (!saved) {
      port.Note("no calibration record written for " + step.bitmapPath);
      result.status = std::max(result.status, 1);
    }
    for (BatchPort::Entry& e : port.TakeEntries()) out.push_back(std::move(e));
  }
  result.entries.clear();
  return out;
}

}  // namespace quelmar::cli
