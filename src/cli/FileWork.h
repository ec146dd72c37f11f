#pragma once
// One input file's work for the batch tool: the same core calls the window makes for Load,
// Header, Raw, Stack, Save and Support, with the file's output kept in its own buffer.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "assembly/DisplayedImage.h"
#include "cli/BatchPort.h"
#include "cli/CliOptions.h"
#include "product/LoadedProduct.h"

namespace quelmar::cli {

// A calibration record still to be appended for a bitmap already written. Appends run later,
// one at a time and in input order, so that records of parallel files never interleave.
struct CalibrationStep {
  std::string bitmapPath;
  int32_t width = 0;
  int32_t height = 0;
  DisplayedImageInfo displayed;
};

struct FileResult {
  std::vector<BatchPort::Entry> entries;  // in the order the window would show them
  std::vector<CalibrationStep> calibrations;
  std::string productId;
  int32_t frameletCount = 0;
  int status = 0;  // 0 done, 1 a run-time error or nothing built, 2 a value out of range
};

// The bitmaps this run writes, so that no two pictures of one run (two inputs with the same
// product identifier, two bands with the same wavelength text) end up in one file, and no
// existing file is replaced unless asked for. Safe to use from several threads.
class OutputClaims {
 public:
  // Reserves `path`; empty when it may be written, otherwise why not.
  std::string Claim(const std::string& path, bool overwrite);
  // Keeps `path` (an input product of this run) from ever being written, --overwrite or not.
  void ProtectInput(const std::string& path);

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> claimed_;  // path -> why it may not be written again
};

// The file name the Save command proposes, with the characters that cannot stand in a file name
// (path separators, control characters) turned into "_", so that a label's PRODUCT_ID can never
// place a bitmap outside the output folder.
std::string SafeFileName(const std::string& name);

// The bands --band or --all-bands names for `product` (by default the band the window stacks
// after a Load). Empty, with a note and status 2 in `result`, when --band is beyond the product.
std::vector<int32_t> ChosenBands(const CliOptions& options, const LoadedProduct& product,
                                 BatchPort& port, FileResult& result, const std::string& path);

// Does `input`'s work for the options' command. Never throws: errors are in the result.
// `outputFolder` is the absolute folder of proposed bitmap names (raw and stack).
FileResult ProcessFile(const CliOptions& options, const std::string& input,
                       const std::string& outputFolder, OutputClaims& claims);

// Runs the result's calibration steps in place of their marks and gives every entry to print.
// Call for one file at a time, in input order.
std::vector<BatchPort::Entry> CompleteFile(const CliOptions& options, FileResult& result);

}  // namespace quelmar::cli
